#include "Tremolan/Core/Facade/BatchExecutor.hpp"

#include "KorbitCore/ConcurrencyUtilities.hpp"

#include <algorithm>
#include <exception>
#include <limits>

namespace tremolan {

using platform::sys::MutexLock;

/// One run's items; lives on its caller's stack. Every field but the constants is the executor's
/// mutex's.
struct BatchExecutor::Batch {
    const std::function<void(std::size_t)>* body = nullptr;
    std::size_t count = 0;
    std::size_t parallel = 0;
    std::size_t next = 0;
    std::size_t running = 0;
    std::size_t done = 0;
    std::exception_ptr error;

    bool canGive() const { return next < count && running < parallel; }
};

BatchExecutor& BatchExecutor::shared() {
    static BatchExecutor executor(
        static_cast<std::size_t>(std::max(1L, korbit::ConcurrencyUtilities::activeProcessorCount() - 1)));
    return executor;
}

BatchExecutor::BatchExecutor(std::size_t helpers) : helperCount_(helpers) {}

BatchExecutor::~BatchExecutor() {
    std::vector<std::thread> helpers;
    {
        MutexLock lock(mutex_);
        stopping_ = true;
        helpers.swap(helpers_);
    }
    work_.notify_all();
    for (std::thread& helper : helpers) helper.join();
}

bool BatchExecutor::takeItem(Batch*& batch, std::size_t& item) {
    for (auto it = open_.begin(); it != open_.end(); ++it) {
        Batch& candidate = **it;
        if (!candidate.canGive()) continue;
        item = candidate.next++;
        ++candidate.running;
        if (candidate.next == candidate.count) open_.erase(it);
        batch = &candidate;
        return true;
    }
    return false;
}

void BatchExecutor::runItem(Batch& batch, std::size_t item) {
    std::exception_ptr error;
    try {
        (*batch.body)(item);
    } catch (...) {
        error = std::current_exception();
    }
    bool moreToGive = false;
    {
        MutexLock lock(mutex_);
        if (error && !batch.error) batch.error = error;
        --batch.running;
        ++batch.done;
        moreToGive = batch.canGive();
    }
    // The caller may be waiting for this item or for a free place; a bounded batch has one more
    // item for a helper. The batch is not touched after the lock is let go: its caller may return.
    progress_.notify_all();
    if (moreToGive) work_.notify_one();
}

void BatchExecutor::helperLoop() {
    MutexLock lock(mutex_);
    for (;;) {
        Batch* batch = nullptr;
        std::size_t item = 0;
        if (takeItem(batch, item)) {
            lock.unlock();
            runItem(*batch, item);
            lock.lock();
            continue;
        }
        if (stopping_) return;
        lock.wait(work_);
    }
}

void BatchExecutor::run(std::size_t count, const std::function<void(std::size_t)>& body, std::size_t parallel) {
    if (count == 0) return;
    Batch batch;
    batch.body = &body;
    batch.count = count;
    batch.parallel = parallel == 0 ? std::numeric_limits<std::size_t>::max() : parallel;
    {
        MutexLock lock(mutex_);
        if (count > 1) {
            open_.push_back(&batch);
            // Helpers start with the first batch that can use them.
            while (helpers_.size() < helperCount_) helpers_.emplace_back([this] { helperLoop(); });
        }
    }
    if (count > 1) work_.notify_all();

    MutexLock lock(mutex_);
    for (;;) {
        // The caller works through its own batch: its progress never waits for a free helper.
        if (batch.canGive()) {
            const std::size_t item = batch.next++;
            ++batch.running;
            if (batch.next == batch.count) open_.erase(std::remove(open_.begin(), open_.end(), &batch), open_.end());
            lock.unlock();
            runItem(batch, item);
            lock.lock();
            continue;
        }
        if (batch.done == batch.count) break;
        lock.wait(progress_);
    }
    const std::exception_ptr error = batch.error;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

}  // namespace tremolan
