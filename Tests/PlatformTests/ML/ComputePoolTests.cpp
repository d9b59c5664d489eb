#include "Platform/ML/ComputePool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
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
