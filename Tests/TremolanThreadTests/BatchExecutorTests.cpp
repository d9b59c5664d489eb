// The executor that batches of transcriptions run on: every item once, a bound of its own per
// batch, failures after the others, and nested batches that add no threads.

#include "Tremolan/Core/Facade/BatchExecutor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using tremolan::BatchExecutor;

namespace {

/// How many bodies run at once, at most, and on which threads.
struct Concurrency {
    std::atomic<int> now{0};
    std::atomic<int> peak{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;

    void during(std::chrono::microseconds pause) {
        const int running = ++now;
        int seen = peak.load();
        while (running > seen && !peak.compare_exchange_weak(seen, running)) {
        }
        {
            std::lock_guard guard(mutex);
            threads.insert(std::this_thread::get_id());
        }
        std::this_thread::sleep_for(pause);
        --now;
    }
};

}  // namespace

TEST(BatchExecutor, RunsEveryItemOnceOnTheHelpersAndTheCaller) {
    BatchExecutor executor(3);
    std::vector<std::atomic<int>> hits(40);
    Concurrency concurrency;
    executor.run(hits.size(), [&](std::size_t i) {
        hits[i].fetch_add(1);
        concurrency.during(std::chrono::milliseconds(5));
    });
    for (const auto& hit : hits) EXPECT_EQ(hit.load(), 1);
    EXPECT_LE(concurrency.peak.load(), 4);
    EXPECT_GE(concurrency.peak.load(), 2);
    EXPECT_LE(concurrency.threads.size(), 4u);
    EXPECT_TRUE(concurrency.threads.count(std::this_thread::get_id()));

    // One item runs on the caller alone.
    std::thread::id ranOn;
    executor.run(1, [&](std::size_t) { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    executor.run(0, [&](std::size_t) { ADD_FAILURE() << "no items, no calls"; });
}

TEST(BatchExecutor, ABatchsOwnBoundHoldsAndItemsStartInOrder) {
    BatchExecutor executor(4);
    Concurrency concurrency;
    std::mutex mutex;
    std::vector<std::size_t> started;
    executor.run(
        12,
        [&](std::size_t i) {
            {
                std::lock_guard guard(mutex);
                started.push_back(i);
            }
            concurrency.during(std::chrono::milliseconds(10));
        },
        2);
    EXPECT_LE(concurrency.peak.load(), 2);
    ASSERT_EQ(started.size(), 12u);
    // Taken in index order; two at a time may record their start in either order.
    for (std::size_t i = 0; i < started.size(); ++i) EXPECT_LE(started[i], i + 1) << i;
}

TEST(BatchExecutor, AFailureIsRethrownAfterTheOthersFinish) {
    BatchExecutor executor(2);
    std::atomic<int> finished{0};
    EXPECT_THROW(executor.run(9,
                              [&](std::size_t i) {
                                  if (i == 3) throw std::runtime_error("item 3");
                                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                  ++finished;
                              }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 8);
    // Still usable.
    std::atomic<int> again{0};
    executor.run(5, [&](std::size_t) { ++again; });
    EXPECT_EQ(again.load(), 5);
}

TEST(BatchExecutor, NestedBatchesAddNoThreads) {
    BatchExecutor executor(3);
    Concurrency concurrency;
    std::atomic<int> inner{0};
    executor.run(6, [&](std::size_t) {
        executor.run(5, [&](std::size_t) {
            ++inner;
            concurrency.during(std::chrono::milliseconds(3));
        });
    });
    EXPECT_EQ(inner.load(), 30);
    EXPECT_LE(concurrency.peak.load(), 4);
    EXPECT_LE(concurrency.threads.size(), 4u);
}

TEST(BatchExecutor, CallersOnThreadsOfTheirOwnShareTheHelpers) {
    BatchExecutor executor(2);
    Concurrency concurrency;
    std::atomic<int> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 3; ++c)
        callers.emplace_back([&] {
            for (int round = 0; round < 20; ++round)
                executor.run(4, [&](std::size_t) {
                    ++total;
                    concurrency.during(std::chrono::microseconds(200));
                });
        });
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(total.load(), 3 * 20 * 4);
    // The two helpers and the three callers.
    EXPECT_LE(concurrency.peak.load(), 5);
}
