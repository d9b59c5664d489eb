#pragma once

// Timing intervals of the speech components. Without the platform's performance tools, an
// interval is a pair of debug lines in the system log; the end line carries the duration.

#include "Platform/Log/SystemLog.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace tremolan {

/// One open interval: made open by beginSignpost, consumed by endSignpost.
struct SignpostIntervalState {
    std::uint64_t signpostID = 0;
    bool isOpen = false;
    std::chrono::steady_clock::time_point start;
};

class Signposter {
public:
    explicit Signposter(const platform::log::Logger& logger) : logger_(logger) {}

    /// Intervals are written only while the system log records debug entries.
    bool isEnabled() const { return logger_.isEnabled(platform::log::LogType::debug); }
    std::uint64_t makeSignpostID() { return nextID_.fetch_add(1, std::memory_order_relaxed); }

    /// Opens an interval; always answers a usable state, also when signposts are off.
    SignpostIntervalState beginInterval(std::string_view name);
    /// Closes the interval. A state that was already ended writes "[Error] Interval already ended".
    void endInterval(std::string_view name, SignpostIntervalState& interval);

private:
    const platform::log::Logger& logger_;
    std::atomic<std::uint64_t> nextID_{1};
};

}  // namespace tremolan
