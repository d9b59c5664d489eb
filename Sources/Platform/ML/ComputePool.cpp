#include "Platform/ML/ComputePool.hpp"

#include "Platform/Sys/System.hpp"

#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml {

namespace {

thread_local bool insideTask = false;

void cpuRelax() {
#if defined(__x86_64__)
    _mm_pause();
#endif
}

/// Waits for a condition: spins briefly, then yields the processor so that a worker the system
/// descheduled (a busy machine) can finish its share sooner.
template <typename Done>
void waitUntil(Done done) {
    for (int spins = 0; !done(); ++spins) {
        if (spins < 2000)
            cpuRelax();
        else
            std::this_thread::yield();
    }
}

int configuredThreads() {
    if (auto v = platform::sys::environment("VELMORA_THREADS")) {
        const int n = std::atoi(v->c_str());
        if (n >= 1 && n <= 1024) return n;
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(hw);
}

}  // namespace

ComputePool& ComputePool::shared() {
    static ComputePool pool(configuredThreads());
    return pool;
}

ComputePool::ComputePool(int threads, Probe* probe) : probe_(probe) {
    // Each GEMM is handed to OpenBLAS from one of our threads: it must not start its own.
    openblas_set_num_threads(1);
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this, i] { workerLoop(static_cast<std::size_t>(i)); });
}

ComputePool::~ComputePool() {
    stop_ = true;
    {
        platform::sys::MutexLock lock(sleepMutex_);
        epoch_.fetch_add(1);
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
}

void ComputePool::runTasks() {
    const bool wasInside = insideTask;
    insideTask = true;
    for (;;) {
        const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= count_.load(std::memory_order_relaxed)) break;
        try {
            (*body_.load(std::memory_order_acquire))(i);
        } catch (...) {
            platform::sys::MutexLock lock(errorMutex_);
            if (!error_) error_ = std::current_exception();
        }
        done_.fetch_add(1, std::memory_order_acq_rel);
    }
    insideTask = wasInside;
}

void ComputePool::workerLoop(std::size_t) {
    std::uint64_t seen = 0;
    for (;;) {
        // Spin briefly: jobs of one network arrive microseconds apart.
        auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        std::uint64_t now = epoch_.load(std::memory_order_acquire);
        while (now == seen && std::chrono::steady_clock::now() < spinUntil) {
            for (int k = 0; k < 64; ++k) cpuRelax();
            now = epoch_.load(std::memory_order_acquire);
        }
        if (now == seen) {
            platform::sys::MutexLock lock(sleepMutex_);
            sleepers_.fetch_add(1);
            while (epoch_.load(std::memory_order_acquire) == seen) lock.wait(wake_);
            sleepers_.fetch_sub(1);
            now = epoch_.load(std::memory_order_acquire);
        }
        seen = now;
        if (stop_) return;
        if (probe_) probe_->workerJoining();
        active_.fetch_add(1, std::memory_order_acq_rel);
        if (body_.load(std::memory_order_acquire) && next_.load(std::memory_order_relaxed) < count_.load()) runTasks();
        active_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

void ComputePool::parallelFor(std::size_t count, const std::function<void(std::size_t)>& body) {
    if (count == 0) return;
    if (insideTask || workers_.empty() || count == 1) {
        for (std::size_t i = 0; i < count; ++i) body(i);
        return;
    }
    // The pool serves one job at a time. A caller that finds it busy (several transcriptions at
    // once) does its job on its own thread rather than wait idle for the pool.
    platform::sys::MutexLock submit(submitMutex_, std::try_to_lock);
    if (!submit.owns()) {
        for (std::size_t i = 0; i < count; ++i) body(i);
        return;
    }
    // Workers still leaving the previous job must not see this one half set up.
    waitUntil([&] { return active_.load(std::memory_order_acquire) == 0; });
    {
        // Before the body is published: a worker that noticed the previous job but joins only now
        // runs this one, and its failure must stay.
        platform::sys::MutexLock lock(errorMutex_);
        error_ = nullptr;
    }
    done_.store(0, std::memory_order_relaxed);
    next_.store(0, std::memory_order_relaxed);
    count_.store(count, std::memory_order_relaxed);
    body_.store(&body, std::memory_order_release);
    if (probe_) probe_->jobPublished();
    if (sleepers_.load() > 0) {
        {
            platform::sys::MutexLock lock(sleepMutex_);
            epoch_.fetch_add(1, std::memory_order_acq_rel);
        }
        wake_.notify_all();
    } else {
        epoch_.fetch_add(1, std::memory_order_acq_rel);
    }
    runTasks();
    waitUntil([&] { return done_.load(std::memory_order_acquire) >= count; });
    waitUntil([&] { return active_.load(std::memory_order_acquire) == 0; });
    body_.store(nullptr, std::memory_order_release);
    std::exception_ptr error;
    {
        platform::sys::MutexLock lock(errorMutex_);
        error = std::exchange(error_, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

void ComputePool::parallelSteps(std::span<const std::size_t> counts,
                                const std::function<void(std::size_t, std::size_t)>& body,
                                const std::function<void(std::size_t)>& finish,
                                const std::function<bool(std::size_t, std::size_t, std::size_t, std::size_t)>& ahead) {
    struct alignas(64) Step {
        std::atomic<std::size_t> done{0};
        alignas(64) std::atomic<bool> complete{false};
    };
    const std::size_t stepCount = counts.size(), shares = static_cast<std::size_t>(threadCount());
    std::vector<Step> steps(stepCount);
    // The next item of each share, share-major: a share's counters lie together, away from the
    // other shares' (only helpers touch another share's).
    std::vector<std::atomic<std::size_t>> next(shares * stepCount);
    for (std::size_t k = 0; k < shares; ++k)
        for (std::size_t s = 0; s < stepCount; ++s)
            next[k * stepCount + s].store(shareStart(std::max<std::size_t>(counts[s], 1), k, shares),
                                          std::memory_order_relaxed);
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto guarded = [&](auto&& work) {
        if (failed.load(std::memory_order_relaxed)) return;
        try {
            work();
        } catch (...) {
            std::lock_guard lock(errorMutex);
            if (!error) error = std::current_exception();
            failed = true;
        }
    };
    parallelFor(shares, [&](std::size_t own) {
        for (std::size_t s = 0; s < stepCount; ++s) {
            Step& step = steps[s];
            // A step without items still has a last one to finish it.
            const std::size_t count = std::max<std::size_t>(counts[s], 1);
            for (std::size_t j = 0; j < shares; ++j) {
                const std::size_t k = (own + j) % shares, end = shareStart(count, k + 1, shares);
                std::atomic<std::size_t>& counter = next[k * stepCount + s];
                // Look before taking: a thread passing a finished share leaves its counter's line alone.
                while (counter.load(std::memory_order_relaxed) < end) {
                    const std::size_t i = counter.fetch_add(1, std::memory_order_relaxed);
                    if (i >= end) break;
                    if (i < counts[s]) guarded([&] { body(s, i); });
                    if (step.done.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
                        if (finish) guarded([&] { finish(s); });
                        step.complete.store(true, std::memory_order_release);
                    }
                }
            }
            bool more = ahead && s + 1 < stepCount && !failed.load(std::memory_order_relaxed);
            if (more) {
                // The same split the next step's counters start from, clipped to its real items.
                const std::size_t items = counts[s + 1], dealt = std::max<std::size_t>(items, 1);
                const std::size_t first = std::min(shareStart(dealt, own, shares), items);
                const std::size_t last = std::min(shareStart(dealt, own + 1, shares), items);
                for (std::size_t round = 0; more && !step.complete.load(std::memory_order_acquire); ++round) {
                    more = false;
                    guarded([&] { more = ahead(s + 1, first, last, round); });
                }
            }
            waitUntil([&] { return step.complete.load(std::memory_order_acquire); });
        }
    });
    if (error) std::rethrow_exception(error);
}

}  // namespace platform::ml
