#pragma once

// A door that test threads wait at while it is shut, and which tells how many wait.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace velmora::test {

/// A door that calls wait at while it is shut.
class Gate {
public:
    explicit Gate(bool open = true) : open_(open) {}
    void shut() {
        std::lock_guard guard(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard guard(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    /// Waits until the door opens; false when a stop was requested first.
    bool pass(std::stop_token stop = {}) {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        const bool opened = changed_.wait(lock, stop, [&] { return open_; });
        --waiting_;
        return opened;
    }
    int waiting() {
        std::lock_guard guard(mutex_);
        return waiting_;
    }
    /// Waits until at least `count` calls wait at the door; false when none came in time.
    bool waitForWaiting(int count = 1, std::chrono::seconds patience = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return waiting_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_;
    int waiting_ = 0;
};

}  // namespace velmora::test
