#pragma once

#include <mutex>
#include <utility>

namespace korbit {

/// A plain, non-recursive lock: code that holds it must not take it again.
class UnfairLock {
public:
    UnfairLock() = default;
    UnfairLock(const UnfairLock&) = delete;
    UnfairLock& operator=(const UnfairLock&) = delete;

    /// Runs `operation` with the lock held and hands back its result. The lock is released
    /// before an exception thrown by the operation travels on.
    template <typename Operation>
    decltype(auto) withLock(Operation&& operation) {
        std::lock_guard guard(mutex_);
        return std::forward<Operation>(operation)();
    }

private:
    std::mutex mutex_;
};

}  // namespace korbit
