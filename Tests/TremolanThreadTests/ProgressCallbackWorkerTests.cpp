// The worker that hands the decoder's progress to the caller's callback: one thread of its own, the
// records in order and completed there, a stop request from a false answer, and a finish that
// delivers what is queued and drops what comes after.

#include "Support/Gate.hpp"
#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Decoding/ProgressCallbackWorker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using tremolan::ProgressCallbackWorker;
using tremolan::TranscriptionProgress;

namespace {

TranscriptionProgress numbered(int n) {
    TranscriptionProgress progress;
    progress.tokens = {n};
    return progress;
}

/// What the callback saw, on which threads.
struct Seen {
    std::mutex mutex;
    std::vector<int> numbers;
    std::vector<std::string> texts;
    std::vector<std::thread::id> threads;

    void add(const TranscriptionProgress& progress) {
        std::lock_guard guard(mutex);
        numbers.push_back(progress.tokens.at(0));
        texts.push_back(progress.text);
        threads.push_back(std::this_thread::get_id());
    }
};

}  // namespace

TEST(ProgressCallbackWorker, DeliversEveryRecordInOrderOnOneThreadOfItsOwnCompletedThere) {
    Seen seen;
    std::atomic<int> completions{0};
    {
        ProgressCallbackWorker worker(
            [&](const TranscriptionProgress& progress) -> std::optional<bool> {
                seen.add(progress);
                return std::nullopt;
            },
            [&](TranscriptionProgress& progress) {
                ++completions;
                progress.text = "text " + std::to_string(progress.tokens.at(0));
            },
            [] { ADD_FAILURE() << "no record asked to stop"; });
        for (int i = 0; i < 200; ++i) worker.post(numbered(i), i % 2 == 0);
    }  // the destructor delivers what is queued
    ASSERT_EQ(seen.numbers.size(), 200u);
    EXPECT_EQ(completions.load(), 200);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(seen.numbers[static_cast<std::size_t>(i)], i);
        EXPECT_EQ(seen.texts[static_cast<std::size_t>(i)], "text " + std::to_string(i));
        EXPECT_EQ(seen.threads[static_cast<std::size_t>(i)], seen.threads[0]);
    }
    EXPECT_NE(seen.threads[0], std::this_thread::get_id());
}

TEST(ProgressCallbackWorker, ASlowCallbackHoldsUpNoPostAndOnlyAFalseAnswerThatMayStopAsksToStop) {
    velmora::test::Gate gate(false);
    std::atomic<int> stops{0};
    std::thread::id stopThread;
    Seen seen;
    ProgressCallbackWorker worker(
        [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            if (progress.tokens.at(0) == 0) gate.pass();
            seen.add(progress);
            // Records 3 and 4 answer false; only 4 was posted as able to stop.
            if (progress.tokens.at(0) >= 3) return false;
            return progress.tokens.at(0) == 1 ? std::optional<bool>(true) : std::nullopt;
        },
        nullptr,
        [&] {
            stopThread = std::this_thread::get_id();
            ++stops;
        });
    worker.post(numbered(0), true);
    ASSERT_TRUE(gate.waitForWaiting());
    // The callback is held; posting still returns at once.
    const auto started = std::chrono::steady_clock::now();
    for (int i = 1; i <= 4; ++i) worker.post(numbered(i), i != 3);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    gate.open();
    worker.finish();
    EXPECT_EQ(seen.numbers, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(stops.load(), 1);
    EXPECT_EQ(stopThread, seen.threads.at(4));
}

TEST(ProgressCallbackWorker, AfterFinishPostsAreDroppedAndAThrowingCallbackIsLogged) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    Seen seen;
    ProgressCallbackWorker worker(
        [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            if (progress.tokens.at(0) == 1) throw std::runtime_error("callback broke");
            seen.add(progress);
            return std::nullopt;
        },
        nullptr, [] {});
    for (int i = 0; i < 3; ++i) worker.post(numbered(i), false);
    worker.finish();
    worker.post(numbered(9), false);
    worker.finish();  // again: nothing
    EXPECT_EQ(seen.numbers, (std::vector<int>{0, 2}));
    EXPECT_EQ(log.count("Progress callback failed: callback broke"), 1);
}
