#include "KorbitCore/LoadModelsCoordinator.hpp"

#include <exception>

namespace korbit {

void LoadModelsCoordinator::run(const std::function<void()>& operation) {
    std::promise<void> promise;
    {
        std::unique_lock lock(mutex_);
        if (inflightLoad_) {
            std::shared_future<void> inflight = *inflightLoad_;
            lock.unlock();
            inflight.get();
            return;
        }
        inflightLoad_ = promise.get_future().share();
    }
    // The first caller does the work on its own thread; it would only wait for it otherwise.
    std::exception_ptr failure;
    try {
        operation();
    } catch (...) {
        failure = std::current_exception();
    }
    {
        // Cleared before the waiters wake, so that a request after a failed load starts anew.
        std::lock_guard lock(mutex_);
        inflightLoad_.reset();
    }
    if (failure) {
        promise.set_exception(failure);
        std::rethrow_exception(failure);
    }
    promise.set_value();
}

}  // namespace korbit
