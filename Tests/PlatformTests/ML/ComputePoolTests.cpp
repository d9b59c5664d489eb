#include "Platform/ML/ComputePool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

using platform::ml::ComputePool;

TEST(ComputePool, RunsEveryTaskOnceFromManyCallers) {
    ComputePool pool(4);
    EXPECT_EQ(pool.threadCount(), 4);
    std::vector<std::thread> callers;
    std::atomic<long> total{0};
    for (int c = 0; c < 3; ++c)
        callers.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                std::vector<std::atomic<int>> hits(37);
                pool.parallelFor(hits.size(), [&](std::size_t i) {
                    // A nested loop runs inline on the task's thread.
                    pool.parallelFor(2, [&](std::size_t) { hits[i].fetch_add(1); });
                });
                for (auto& h : hits) ASSERT_EQ(h.load(), 2);
                total += 1;
            }
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(total.load(), 600);
}

TEST(ComputePool, ACallerFindingThePoolBusyRunsItsJobOnItsOwnThread) {
    ComputePool pool(4);
    std::atomic<bool> release{false};
    std::atomic<int> started{0};
    // The first job holds the pool until the second caller is done.
    std::thread holder([&] {
        pool.parallelFor(4, [&](std::size_t) {
            started.fetch_add(1);
            while (!release.load()) std::this_thread::yield();
        });
    });
    while (started.load() == 0) std::this_thread::yield();

    std::vector<std::thread::id> threads;
    pool.parallelFor(5, [&](std::size_t) { threads.push_back(std::this_thread::get_id()); });
    ASSERT_EQ(threads.size(), 5u);
    for (const auto& id : threads) EXPECT_EQ(id, std::this_thread::get_id());
    // A chain of steps also completes in order without the pool.
    std::vector<std::size_t> order;
    const std::vector<std::size_t> counts = {2, 0, 3};
    pool.parallelSteps(
        counts, [&](std::size_t s, std::size_t) { order.push_back(s); },
        [&](std::size_t s) { order.push_back(10 + s); });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 0, 10, 11, 2, 2, 2, 12}));

    release = true;
    holder.join();
    EXPECT_EQ(started.load(), 4);
}

TEST(ComputePool, RethrowsTheFirstFailureAfterTheOthersFinish) {
    ComputePool pool(3);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.parallelFor(50,
                                  [&](std::size_t i) {
                                      if (i == 7) throw std::runtime_error("task 7");
                                      finished.fetch_add(1);
                                  }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 49);
    // The pool is still usable.
    std::atomic<int> again{0};
    pool.parallelFor(10, [&](std::size_t) { again.fetch_add(1); });
    EXPECT_EQ(again.load(), 10);
}

namespace {

// How long a probe waits for what it expects of the pool before the test fails.
constexpr auto kPatience = std::chrono::seconds(20);

/// Holds the pool's worker after it noticed one job and before it joins, until the next job is
/// published: the worker then joins that next job late, which a busy machine does now and then.
/// Each wait is bounded: when what it waits for does not come, the test fails and the pool goes on.
class LateWorker : public ComputePool::Probe {
public:
    void workerJoining() override {
        std::unique_lock lock(mutex_);
        if (!armed_) return;
        armed_ = false;
        holding_ = true;
        changed_.notify_all();
        if (!changed_.wait_for(lock, kPatience, [&] { return released_; }))
            ADD_FAILURE() << "the held worker waited " << kPatience.count() << " s for the next job to be published";
    }
    void jobPublished() override {
        std::unique_lock lock(mutex_);
        if (!holding_) return;
        holding_ = false;
        released_ = true;
        changed_.notify_all();
        // The caller goes on only once the late worker has run its items.
        if (!changed_.wait_for(lock, kPatience, [&] { return workerDone_; }))
            ADD_FAILURE() << "the caller waited " << kPatience.count()
                          << " s for the late worker to run the published job's items";
    }
    bool waitUntilHolding() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return holding_; });
    }
    void workerDone() {
        std::lock_guard lock(mutex_);
        workerDone_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = true, holding_ = false, released_ = false, workerDone_ = false;
};

}  // namespace

TEST(ComputePool, AFailureOnAWorkerThatJoinsLateIsRethrown) {
    LateWorker probe;
    ComputePool pool(2, &probe);
    // The caller does this job alone: its worker is held before joining.
    std::atomic<int> first{0};
    pool.parallelFor(2, [&](std::size_t) { first.fetch_add(1); });
    EXPECT_EQ(first.load(), 2);
    ASSERT_TRUE(probe.waitUntilHolding()) << "the pool's worker never came to join a job";

    // The next job's items all run on the late worker; the first of them fails.
    const auto caller = std::this_thread::get_id();
    std::atomic<int> onCaller{0};
    EXPECT_THROW(pool.parallelFor(2,
                                  [&](std::size_t i) {
                                      if (std::this_thread::get_id() == caller) {
                                          onCaller.fetch_add(1);
                                          return;
                                      }
                                      if (i == 0) throw std::runtime_error("late worker");
                                      probe.workerDone();
                                  }),
                 std::runtime_error);
    EXPECT_EQ(onCaller.load(), 0);
    // The failure belonged to that job alone.
    std::atomic<int> again{0};
    EXPECT_NO_THROW(pool.parallelFor(8, [&](std::size_t) { again.fetch_add(1); }));
    EXPECT_EQ(again.load(), 8);
}

TEST(ComputePool, StepsRunInOrderWithTheirFinishes) {
    ComputePool pool(4);
    const std::vector<std::size_t> counts{1, 40, 0, 7, 25};
    for (int round = 0; round < 50; ++round) {
        // Each item adds its step's number to a running total it must already see complete; each
        // finish records the total it saw after all its step's items.
        std::vector<std::atomic<long>> totals(counts.size());
        std::vector<long> atFinish(counts.size(), -1);
        std::atomic<int> finishes{0};
        pool.parallelSteps(
            counts,
            [&](std::size_t s, std::size_t) {
                if (s > 0) {
                    EXPECT_EQ(atFinish[s - 1], totals[s - 1].load());
                }
                totals[s].fetch_add(static_cast<long>(s) + 1);
            },
            [&](std::size_t s) {
                atFinish[s] = totals[s].load();
                finishes.fetch_add(1);
            });
        for (std::size_t s = 0; s < counts.size(); ++s) EXPECT_EQ(atFinish[s], static_cast<long>(counts[s] * (s + 1)));
        EXPECT_EQ(finishes.load(), static_cast<int>(counts.size()));
    }

    // From inside a task the whole chain runs on that thread.
    std::atomic<int> items{0};
    pool.parallelFor(
        3, [&](std::size_t) { pool.parallelSteps(counts, [&](std::size_t, std::size_t) { items.fetch_add(1); }); });
    EXPECT_EQ(items.load(), 3 * (1 + 40 + 7 + 25));
}

TEST(ComputePool, AFailingStepEndsTheChain) {
    ComputePool pool(3);
    const std::vector<std::size_t> counts{10, 10, 10};
    std::atomic<int> late{0};
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.parallelSteps(
                     counts,
                     [&](std::size_t s, std::size_t i) {
                         if (s == 1 && i == 4) throw std::runtime_error("item 4");
                         if (s == 2) late.fetch_add(1);
                     },
                     [&](std::size_t) { finished.fetch_add(1); }),
                 std::runtime_error);
    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(finished.load(), 1);
}

TEST(ComputePool, ThreadsThatWaitForAStepLookAheadAtTheirShareOfTheNext) {
    ComputePool pool(4);
    // Uneven counts, and a last step without items: the ranges handed out must be the very
    // shares the next step deals, clipped to its items.
    const std::vector<std::size_t> counts{4, 10, 0};
    std::atomic<bool> looked{false};
    std::mutex mutex;
    struct Call {
        std::size_t next, first, last, round;
        std::thread::id thread;
    };
    std::vector<Call> calls;
    std::atomic<int> stepOneItems{0};
    std::set<std::thread::id> firstStepThreads;
    pool.parallelSteps(
        counts,
        [&](std::size_t s, std::size_t) {
            std::lock_guard lock(mutex);
            if (s == 0) firstStepThreads.insert(std::this_thread::get_id());
            if (s == 1) stepOneItems.fetch_add(1);
        },
        {},
        [&](std::size_t next, std::size_t first, std::size_t last, std::size_t round) {
            std::lock_guard lock(mutex);
            calls.push_back({next, first, last, round, std::this_thread::get_id()});
            looked = true;
            return round < 2;  // three rounds at most, then nothing more to read
        });
    // The same job again, holding the first step's last item until someone has looked ahead (or
    // a while has passed: a machine may run the whole job on one thread).
    looked = false;
    firstStepThreads.clear();
    pool.parallelSteps(
        counts,
        [&](std::size_t s, std::size_t i) {
            if (s == 0) {
                std::lock_guard lock(mutex);
                firstStepThreads.insert(std::this_thread::get_id());
            }
            if (s == 0 && i == 3) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (!looked.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
            }
        },
        {},
        [&](std::size_t next, std::size_t first, std::size_t last, std::size_t round) {
            std::lock_guard lock(mutex);
            calls.push_back({next, first, last, round, std::thread::id{}});
            looked = true;
            return round < 2;
        });
    EXPECT_EQ(stepOneItems.load(), 10);
    std::lock_guard lock(mutex);
    if (firstStepThreads.size() > 1) {
        EXPECT_TRUE(looked.load());
    }
    const std::set<std::pair<std::size_t, std::size_t>> sharesOfStepOne{{0, 2}, {2, 5}, {5, 7}, {7, 10}};
    std::map<std::tuple<std::thread::id, std::size_t, std::size_t>, std::size_t> rounds;
    for (const Call& call : calls) {
        EXPECT_TRUE(call.next == 1 || call.next == 2) << call.next;  // never past the last step
        if (call.next == 1) {
            EXPECT_TRUE(sharesOfStepOne.count({call.first, call.last})) << call.first << ".." << call.last;
        } else {
            EXPECT_EQ(call.first, 0u);  // a step without items: an empty share
            EXPECT_EQ(call.last, 0u);
        }
        EXPECT_LE(call.round, 2u);
        if (call.thread == std::thread::id{}) continue;
        std::size_t& expected = rounds[{call.thread, call.next, call.first}];
        EXPECT_EQ(call.round, expected) << "rounds count up from 0 for each wait";
        ++expected;
    }
}
