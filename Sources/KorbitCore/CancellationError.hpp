#pragma once

#include <stdexcept>
#include <stop_token>

namespace korbit {

/// Thrown by an operation whose caller asked it to stop.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

/// Throws CancellationError when a stop was requested.
inline void checkCancellation(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
}

}  // namespace korbit
