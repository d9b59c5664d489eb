#pragma once

// Who may use a facade's loaded models: any number of transcriptions at once, or one loading or
// unloading alone. A thread that holds the exclusive side may take either side again (a load
// that calls the tokenizer load, which sets the tokenizer); a thread that holds the shared side
// may take it again, but asking for the exclusive side from there would wait for itself, so it
// is refused. The facade calls no callback while it holds either side.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace tremolan {

class ModelUseLock {
public:
    ModelUseLock() = default;
    ModelUseLock(const ModelUseLock&) = delete;
    ModelUseLock& operator=(const ModelUseLock&) = delete;

    /// Waits until no other thread uses or changes the models. Throws std::logic_error on a
    /// thread that holds the shared side.
    void lock();
    void unlock();
    /// Waits until no other thread changes the models (or wants to).
    void lock_shared();
    void unlock_shared();
    /// Turns this thread's exclusive hold into a shared one (release it with unlock_shared)
    /// without letting a change in between.
    void downgrade();

    /// Whether the calling thread holds the exclusive side.
    bool ownedByThisThread() const;
    /// Throws the std::logic_error of lock() on a thread that holds the shared side, so that a
    /// change is refused before it begins.
    void checkMayChange() const;

private:
    std::size_t& sharedDepthOfThisThread() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id owner_;
    int exclusiveDepth_ = 0;
    std::size_t readers_ = 0;
    int writersWaiting_ = 0;
};

}  // namespace tremolan
