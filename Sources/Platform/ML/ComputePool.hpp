#pragma once

// The runtime's worker threads. Every GEMM runs single-threaded inside one of our tasks, so
// OpenBLAS's own threads never compete with ours.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace platform::ml {

class ComputePool {
public:
    /// The process-wide pool: VELMORA_THREADS workers when set, else one per processor.
    static ComputePool& shared();

    explicit ComputePool(int threads);
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
    void parallelSteps(std::span<const std::size_t> counts, const std::function<void(std::size_t, std::size_t)>& body,
                       const std::function<void(std::size_t)>& finish = {});

private:
    void workerLoop(std::size_t index);
    void runTasks();

    std::vector<std::thread> workers_;
    std::mutex submitMutex_;  // one job at a time

    // The current job.
    std::atomic<const std::function<void(std::size_t)>*> body_{nullptr};
    std::atomic<std::size_t> count_{0};
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> done_{0};
    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<int> active_{0};
    std::atomic<bool> stop_{false};
    std::exception_ptr error_;
    std::mutex errorMutex_;

    std::mutex sleepMutex_;
    std::condition_variable wake_;
    std::atomic<int> sleepers_{0};
};

}  // namespace platform::ml
