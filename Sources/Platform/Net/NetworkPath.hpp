#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>

namespace platform::net {

/// What the machine's network currently offers.
struct NetworkPath {
    enum class Status { satisfied, unsatisfied, requiresConnection };
    Status status = Status::satisfied;
    /// Linux tells neither metered nor low-data links apart; both stay false for the system source.
    bool isExpensive = false;
    bool isConstrained = false;

    bool operator==(const NetworkPath&) const = default;
};

/// Where a path monitor learns about the network.
class PathSource {
public:
    virtual ~PathSource() = default;
    virtual NetworkPath currentPath() = 0;
    /// Blocks until the path may differ from `last` (the path the caller saw last), or until
    /// stop is requested. It may return early; callers look again.
    virtual void waitForChange(const NetworkPath& last, std::stop_token stop) = 0;
};

/// The machine's own network: some interface other than loopback is up, running and has an
/// address. Changes are learnt from a netlink route socket, or by a check every few seconds
/// where no such socket can be opened.
std::shared_ptr<PathSource> makeSystemPathSource();

/// A source whose path is set by hand (hosts that know better, and tests).
class ManualPathSource : public PathSource {
public:
    explicit ManualPathSource(NetworkPath initial = {}) : path_(initial) {}

    void setPath(NetworkPath path) {
        {
            std::lock_guard lock(mutex_);
            path_ = path;
        }
        changed_.notify_all();
    }

    NetworkPath currentPath() override {
        std::lock_guard lock(mutex_);
        return path_;
    }

    void waitForChange(const NetworkPath& last, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, stop, [&] { return path_ != last; });
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    NetworkPath path_;
};

}  // namespace platform::net
