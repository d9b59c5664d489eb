#include "Velmora/Meeting/SampleTrack.hpp"

#include "MeetingTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace velmora;
using velmora::test::level;

namespace {

/// A ring that hands the samples to the track in drains of a tick's size, as the recorder does.
class Feed {
public:
    explicit Feed(SampleTrack& track) : track_(track) { ring_.reset(); }
    void add(const std::vector<float>& samples) {
        for (std::size_t at = 0; at < samples.size(); at += 8000) {
            const std::size_t n = std::min<std::size_t>(8000, samples.size() - at);
            ring_.write(samples.data() + at, static_cast<std::int64_t>(n), 16000);
            track_.drain(ring_);
        }
    }

private:
    SampleTrack& track_;
    AudioCaptureBuffer ring_{960000};
};

}  // namespace

TEST(SampleTrack, QuietestPointTable) {
    using T = SampleTrack;
    // Ranges too short to search end at their end.
    const std::vector<float> zeros(20000, 0.0f);
    EXPECT_EQ(T::quietestPoint(zeros, 0, 6400), 6400);
    EXPECT_EQ(T::quietestPoint(zeros, 100, 6500), 6500);
    EXPECT_EQ(T::quietestPoint(zeros, 0, 6401), 1600) << "6401 is searched: three windows, the first wins the tie";
    EXPECT_EQ(T::quietestPoint(zeros, 500, 500), 500);
    // Silence everywhere: every energy is 0 and the earliest window wins.
    const std::vector<float> silence(480000, 0.0f);
    EXPECT_EQ(T::quietestPoint(silence, 416000, 480000), 417600);

    // A loud burst in every window but one: the cut goes to the middle of that window.
    std::vector<float> bursts = level(480000, 0.5f);
    for (std::int64_t i = 416000 + 20 * 1600; i < 416000 + 20 * 1600 + 3200; ++i) bursts[i] = 0.001f;
    EXPECT_EQ(T::quietestPoint(bursts, 416000, 480000), 416000 + 20 * 1600 + 1600);
    // Two equally quiet windows: the earlier one.
    for (std::int64_t i = 416000 + 30 * 1600; i < 416000 + 30 * 1600 + 3200; ++i) bursts[i] = 0.001f;
    EXPECT_EQ(T::quietestPoint(bursts, 416000, 480000), 416000 + 21 * 1600);
    // The last window may end exactly at the range's end; none goes past it.
    std::vector<float> lastQuiet = level(480000, 0.5f);
    for (std::int64_t i = 480000 - 3200; i < 480000; ++i) lastQuiet[i] = 0;
    EXPECT_EQ(T::quietestPoint(lastQuiet, 416000, 480000), 480000 - 1600);
    EXPECT_EQ(T::quietestPoint(lastQuiet, 416000, 479999), 476800)
        << "one sample short: the quiet window is not whole in the range, the next quietest overlaps it by half";
}

TEST(SampleTrack, WindowEnergiesAreSummedInSinglePrecision) {
    // Window [0, 3200): 1.0 and then 3199 squares of 2^-26, each too small to move a float sum
    // of 1 (exactly 1 in single precision, 1.0000477 in double). Window [6400, 9600): one square
    // of 1 + 2^-22 (1.00000024 either way). Everything between is loud.
    std::vector<float> samples = level(9601, 0.5f);
    samples[0] = 1.0f;
    for (int i = 1; i < 3200; ++i) samples[i] = std::ldexp(1.0f, -13);
    for (int i = 6400; i < 9600; ++i) samples[i] = 0;
    samples[6400] = 1.0f + std::ldexp(1.0f, -23);
    EXPECT_EQ(SampleTrack::quietestPoint(samples, 0, 9601), 1600) << "in double the window at 6400 would win";
}

TEST(SampleTrack, ChunksAreCutAtTheLimitAndReleaseWhatTheyPassed) {
    SampleTrack track;
    Feed feed(track);
    feed.add(std::vector<float>(480000, 0.0f));
    auto chunk = track.nextChunk();
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->at, 0);
    EXPECT_EQ(chunk->samples.size(), 417600u) << "silence: the first window wins, 26.1 s";
    EXPECT_EQ(track.held(), 480000 - 417600) << "the samples before the cut are released";
    EXPECT_FALSE(track.nextChunk());

    // The next chunk's position counts from the meeting's start: 417600 / 16000 = 26.1, truncated.
    std::vector<float> speech = level(500000, 0.5f);
    // The search runs from 833600 to 897600; its 21st window, at 865600, is quiet. The speech
    // begins at 480000.
    for (std::int64_t i = 0; i < 3200; ++i) speech[865600 - 480000 + i] = 0;
    feed.add(speech);
    chunk = track.nextChunk();
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->at, 26);
    EXPECT_EQ(track.cut(), 417600 + 416000 + 20 * 1600 + 1600);
    EXPECT_EQ(static_cast<std::int64_t>(chunk->samples.size()), track.cut() - 417600);
    EXPECT_EQ(chunk->samples[62399], 0.0f);
    EXPECT_EQ(chunk->samples[62400], speech.front());
    EXPECT_EQ(track.held(), 980000 - track.cut());

    // A long meeting keeps at most a chunk's worth in memory.
    std::int64_t largest = 0;
    int chunks = 0;
    for (int minute = 0; minute < 4; ++minute) {
        for (int tick = 0; tick < 120; ++tick) {
            feed.add(level(8000, 0.1f));
            largest = std::max(largest, track.held());
            if (track.nextChunk()) ++chunks;
        }
    }
    EXPECT_LE(largest, SampleTrack::chunkLimit + 8000);
    EXPECT_EQ(track.count(), 980000 + 4 * 60 * 16000);
    EXPECT_GE(chunks, 7);
}

TEST(SampleTrack, TheTailIsWhatFollowsTheCutWithoutItsTrailingSilence) {
    SampleTrack track;
    Feed feed(track);
    EXPECT_FALSE(track.tail());
    std::vector<float> samples = level(16000 * 3, 0.2f);
    samples.resize(16000 * 3 + 480 * 60, 0.0f);  // 60 silent frames after 3 s of sound
    feed.add(samples);
    auto tail = track.tail();
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->at, 0);
    EXPECT_EQ(tail->samples.size(), 16000u * 3 + 4000u) << "a quarter second after the sound";
    EXPECT_FALSE(track.tail()) << "nothing past the cut any more";

    feed.add(std::vector<float>(100, 0.0f));
    tail = track.tail();
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->at, 4) << "76800 / 16000, truncated";
    EXPECT_LE(tail->samples.size(), 100u);
}
