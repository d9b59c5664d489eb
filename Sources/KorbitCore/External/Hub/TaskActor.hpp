#pragma once

#include <memory>
#include <mutex>
#include <thread>

namespace korbit {

/// Holds the transfer engine's running transfer: a thread that stops when asked to.
class TaskActor {
public:
    using Task = std::jthread;

    void set(std::shared_ptr<Task> task) {
        std::lock_guard lock(mutex_);
        task_ = std::move(task);
    }
    std::shared_ptr<Task> get() const {
        std::lock_guard lock(mutex_);
        return task_;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Task> task_;
};

}  // namespace korbit
