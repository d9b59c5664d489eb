#pragma once

#include <functional>
#include <future>
#include <mutex>
#include <optional>

namespace korbit {

/// Lets concurrent requests to load models share one load: while a load runs, every further
/// request waits for it and receives its outcome instead of starting its own.
class LoadModelsCoordinator {
public:
    /// Runs the operation, or waits for the one in flight; its error is thrown to every waiter.
    void run(const std::function<void()>& operation);

private:
    std::mutex mutex_;
    std::optional<std::shared_future<void>> inflightLoad_;
};

}  // namespace korbit
