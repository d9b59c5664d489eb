#include "Velmora/Audio/AudioCaptureBuffer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using velmora::AudioCaptureBuffer;

namespace {

std::vector<float> ramp(int from, int count) {
    std::vector<float> values(static_cast<std::size_t>(count));
    std::iota(values.begin(), values.end(), static_cast<float>(from));
    return values;
}

void write(AudioCaptureBuffer& buffer, const std::vector<float>& samples, int rate = 16000) {
    buffer.write(samples.data(), static_cast<std::int64_t>(samples.size()), rate);
}

std::vector<float> drained(AudioCaptureBuffer& buffer) {
    std::vector<float> out;
    buffer.drain(out);
    return out;
}

}  // namespace

TEST(AudioCaptureBuffer, SilencedBuffersCountCallsButStoreNothing) {
    AudioCaptureBuffer buffer(8);
    EXPECT_FALSE(buffer.accepting());
    write(buffer, ramp(1, 3), 48000);
    EXPECT_EQ(buffer.callbackCount(), 1);
    EXPECT_EQ(buffer.observedRate(), 48000);
    EXPECT_EQ(buffer.offeredFrames(), 0);
    std::vector<float> out = {42.0f};
    EXPECT_EQ(buffer.drain(out), 0);
    EXPECT_EQ(out, std::vector<float>{42.0f});

    buffer.reset();
    write(buffer, ramp(1, 6), 16000);
    buffer.silence();
    write(buffer, ramp(20, 2), 44100);
    buffer.write(nullptr, 3, 44100);
    EXPECT_EQ(buffer.callbackCount(), 3);
    EXPECT_EQ(buffer.offeredFrames(), 6);
    EXPECT_EQ(drained(buffer), ramp(1, 6));  // stored before the silence: still for the reader

    buffer.reset();
    EXPECT_EQ(buffer.callbackCount(), 0);
    EXPECT_EQ(buffer.offeredFrames(), 0);
    EXPECT_EQ(buffer.droppedFrames(), 0);
    EXPECT_EQ(buffer.observedRate(), 44100);  // not a count: it stays
    const float one = 1.0f;
    buffer.write(&one, 0, 16000);
    buffer.write(&one, -2, 16000);
    EXPECT_EQ(buffer.offeredFrames(), 0);
    EXPECT_TRUE(drained(buffer).empty());

    EXPECT_THROW(AudioCaptureBuffer(0), std::invalid_argument);
}

TEST(AudioCaptureBuffer, RunsThatDoNotFitAreDroppedWholeAndTheRestWrapsInOrder) {
    AudioCaptureBuffer buffer(8);
    buffer.reset();
    write(buffer, ramp(1, 5));
    write(buffer, ramp(6, 4));   // 4 > 3 free: none of it
    write(buffer, ramp(10, 3));  // exactly fills the ring
    write(buffer, ramp(13, 1));  // full
    EXPECT_EQ(buffer.offeredFrames(), 13);
    EXPECT_EQ(buffer.droppedFrames(), 5);
    std::vector<float> out = {0.0f};
    EXPECT_EQ(buffer.drain(out), 8);
    EXPECT_EQ(out, (std::vector<float>{0, 1, 2, 3, 4, 5, 10, 11, 12}));  // appended to what was there
    EXPECT_TRUE(drained(buffer).empty());

    write(buffer, ramp(20, 8));  // over the end of the storage and on from its start
    EXPECT_EQ(drained(buffer), ramp(20, 8));
    write(buffer, ramp(30, 9));  // longer than the ring: never fits
    EXPECT_EQ(buffer.droppedFrames(), 14);
    EXPECT_TRUE(drained(buffer).empty());
}

// One capture thread writes numbered samples in runs of changing length while the reader drains
// as it likes. Whatever arrives is in order, every gap is a whole dropped run, and every offered
// sample is either drained or counted as dropped.
TEST(AudioCaptureBuffer, OneWriterAndOneReaderOnTwoThreads) {
    constexpr int total = 2'000'000;  // below 2^24: every number is exact as a float
    AudioCaptureBuffer buffer(4096);
    buffer.reset();
    std::vector<int> runStarts;
    std::atomic<bool> done{false};

    std::thread writer([&] {
        std::vector<float> run;
        for (int next = 0, length = 1; next < total; length = length % 997 + 1) {
            const int count = std::min(length, total - next);
            run.resize(static_cast<std::size_t>(count));
            std::iota(run.begin(), run.end(), static_cast<float>(next));
            runStarts.push_back(next);
            buffer.write(run.data(), count, 16000);
            next += count;
        }
        done.store(true);
    });
    std::vector<float> received;
    while (!done.load()) {
        buffer.drain(received);
        std::this_thread::yield();
    }
    writer.join();
    buffer.drain(received);

    const std::set<int> starts(runStarts.begin(), runStarts.end());
    ASSERT_FALSE(received.empty());
    for (std::size_t i = 0; i < received.size(); ++i) {
        const int value = static_cast<int>(received[i]);
        const int expected = i == 0 ? 0 : static_cast<int>(received[i - 1]) + 1;
        if (value == expected) continue;
        ASSERT_GT(value, expected) << "at " << i;
        ASSERT_TRUE(starts.contains(expected) && starts.contains(value)) << "a run cut apart at " << i;
    }
    EXPECT_EQ(buffer.offeredFrames(), total);
    EXPECT_EQ(static_cast<std::int64_t>(received.size()) + buffer.droppedFrames(), total);
    EXPECT_EQ(buffer.callbackCount(), static_cast<std::int64_t>(runStarts.size()));
}
