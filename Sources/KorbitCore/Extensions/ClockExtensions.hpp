#pragma once

// Elapsed times in seconds, as the timings and the log lines count them.

#include <chrono>

namespace korbit {

/// A span of the steady clock in seconds.
inline double seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

/// Seconds from `start` until now, on the steady clock.
inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace korbit
