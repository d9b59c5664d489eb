#pragma once

// A door that test threads wait at while it is shut, and which tells how many wait.

#include <chrono>
#include <condition_variable>
#include <mutex>

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
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --waiting_;
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
    std::condition_variable changed_;
    bool open_;
    int waiting_ = 0;
};

}  // namespace velmora::test
