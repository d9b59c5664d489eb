#pragma once

#include "Platform/Net/NetworkPath.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform::net {

/// Watches the network path and reports it on a thread of its own: once when started, then
/// whenever it changes.
class PathMonitor {
public:
    using UpdateHandler = std::function<void(const NetworkPath&)>;
    using SourceFactory = std::function<std::shared_ptr<PathSource>()>;

    /// Without a source, the default source factory makes one (the system's network).
    explicit PathMonitor(std::shared_ptr<PathSource> source = nullptr);
    ~PathMonitor();
    PathMonitor(const PathMonitor&) = delete;
    PathMonitor& operator=(const PathMonitor&) = delete;

    /// Replaces the handler; a running monitor uses the new one from its next report.
    void setUpdateHandler(UpdateHandler handler);
    /// Starts reporting on a thread named after the label. Starting a running monitor does nothing.
    void start(const std::string& label);
    /// Stops reporting; waits until no report is being delivered.
    void cancel();
    bool isRunning() const;

    /// What monitors made without a source use from now on. An empty factory restores the system's.
    static void setDefaultSourceFactory(SourceFactory factory);

private:
    void run(std::stop_token stop);

    std::shared_ptr<PathSource> source_;
    mutable std::mutex mutex_;
    UpdateHandler handler_;
    std::jthread thread_;
    std::string label_;
};

}  // namespace platform::net
