#pragma once

// The runtime's worker threads. Every GEMM runs single-threaded inside one of our tasks, so
// OpenBLAS's own threads never compete with ours.

#include "Platform/Sys/Mutex.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <span>
#include <thread>
#include <vector>

namespace platform::ml {

class ComputePool {
public:
    /// The process-wide pool: VELMORA_THREADS workers when set, else one per processor.
    static ComputePool& shared();

    /// Points at which a thread of the pool may be held, so that tests can bring about the
    /// interleavings a busy machine makes rare. Each runs on the thread concerned.
    struct Probe {
        virtual ~Probe() = default;
        /// A worker noticed a new job and is about to join it.
        virtual void workerJoining() {}
        /// The caller published its job; the workers have not been woken for it yet.
        virtual void jobPublished() {}
    };

    /// `threads` threads in all, the calling one included; the probe, when given, outlives the pool.
    explicit ComputePool(int threads, Probe* probe = nullptr);
    ~ComputePool();
    ComputePool(const ComputePool&) = delete;
    ComputePool& operator=(const ComputePool&) = delete;

    int threadCount() const { return static_cast<int>(workers_.size()) + 1; }

    /// Runs body(i) for every i in [0, count), spread over the workers and the calling thread, and
    /// returns when all are done. A call from inside a task, or while the pool runs another
    /// caller's job, runs inline on the calling thread. The first exception thrown
    /// by a body is rethrown here after the others finish.
    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& body);

    /// Runs a chain of steps in one job: body(s, i) for every i in [0, counts[s]), step after step,
    /// each step starting once the one before is complete. Every thread takes items of the current
    /// step and then waits for the step to complete, so a chain of small steps costs one wake-up
    /// of the workers, not one per step; a thread the system holds back joins where the others are.
    /// When given, finish(s) runs on the thread that completes step s's last item, before the next
    /// step starts: a place for small serial work without a step of its own. The first exception
    /// is rethrown after the chain ends (the items and finishes after it are skipped).
    ///
    /// Each step's items are dealt out in threadCount() shares of consecutive items (share k:
    /// [count k / T, count (k + 1) / T)); the thread running share k takes its items front to back,
    /// so that it reads one stream, then helps with the others' that are left. A thread with
    /// nothing left to take in step s calls, when given, ahead(s + 1, first, last, round) for
    /// round 0, 1, ... while it waits for step s to complete and until ahead returns false, where
    /// [first, last) are the items of its share of step s + 1 (possibly none): a place to start
    /// reading what those items need, so that the memory stays busy while the step's last items
    /// end. It must not touch what the steps write.
    void parallelSteps(std::span<const std::size_t> counts, const std::function<void(std::size_t, std::size_t)>& body,
                       const std::function<void(std::size_t)>& finish = {},
                       const std::function<bool(std::size_t, std::size_t, std::size_t, std::size_t)>& ahead = {});

    /// The first item of share k of a step of `count` items dealt to `shares` threads; share k
    /// runs [shareStart(count, k, shares), shareStart(count, k + 1, shares)).
    static std::size_t shareStart(std::size_t count, std::size_t k, std::size_t shares) { return count * k / shares; }

private:
    void workerLoop(std::size_t index);
    void runTasks();

    Probe* const probe_;
    std::vector<std::thread> workers_;
    // Held by the one caller whose job the pool runs; the job's fields below are atomics that the
    // caller sets up before publishing the body.
    platform::sys::Mutex submitMutex_;

    // The current job.
    std::atomic<const std::function<void(std::size_t)>*> body_{nullptr};
    std::atomic<std::size_t> count_{0};
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> done_{0};
    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<int> active_{0};
    std::atomic<bool> stop_{false};
    platform::sys::Mutex errorMutex_;
    // The job's first failure. Cleared before the job is published, never after: a worker that
    // joins late may already be running it.
    std::exception_ptr error_ VELMORA_GUARDED_BY(errorMutex_);

    // Sleeping workers wait on wake_ under sleepMutex_ for epoch_ to move.
    platform::sys::Mutex sleepMutex_;
    std::condition_variable wake_;
    std::atomic<int> sleepers_{0};
};

}  // namespace platform::ml
