#pragma once

// The one executor on which batches of transcriptions run: a fixed set of helper threads, one fewer
// than the processors, shared by every batch of the process. A batch started from inside another
// (the chunks of a recording cut at silences, within a batch of recordings) adds no threads: its
// caller works through it and idle helpers join, so however deep batches nest, no more
// transcriptions run at once than there are helpers and callers.

#include "Platform/Sys/Mutex.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

namespace tremolan {

class BatchExecutor {
public:
    /// The process's executor: one helper fewer than the processors online, at least one. Its
    /// helpers start with the first batch and are joined at exit.
    static BatchExecutor& shared();

    explicit BatchExecutor(std::size_t helpers);
    /// Waits for the helpers to finish their items, then joins them. No batch may be running.
    ~BatchExecutor();
    BatchExecutor(const BatchExecutor&) = delete;
    BatchExecutor& operator=(const BatchExecutor&) = delete;

    std::size_t helperCount() const { return helperCount_; }

    /// Runs body(i) for every i in [0, count), at most `parallel` at once (0: no bound of its own),
    /// and returns when all are done. Items start in index order; the calling thread takes part.
    /// The first exception of a body is rethrown here after the others finish.
    void run(std::size_t count, const std::function<void(std::size_t)>& body, std::size_t parallel = 0);

private:
    struct Batch;
    /// Takes the next item of the first batch that has one to give; with the mutex held.
    bool takeItem(Batch*& batch, std::size_t& item) VELMORA_REQUIRES(mutex_);
    /// Runs one item and books it; called without the mutex.
    void runItem(Batch& batch, std::size_t item) VELMORA_EXCLUDES(mutex_);
    void helperLoop();

    const std::size_t helperCount_;
    platform::sys::Mutex mutex_;
    // Helpers wait on work_ for a batch with an item to give; callers wait on progress_ for their
    // batch's items to finish or free a place.
    std::condition_variable work_;
    std::condition_variable progress_;
    // Batches with items not yet taken, oldest first.
    std::deque<Batch*> open_ VELMORA_GUARDED_BY(mutex_);
    bool stopping_ VELMORA_GUARDED_BY(mutex_) = false;
    std::vector<std::thread> helpers_ VELMORA_GUARDED_BY(mutex_);
};

}  // namespace tremolan
