#include "Velmora/Audio/SpeechDetector.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using velmora::SpeechDetector;

namespace {

constexpr std::int64_t rate = 16000;
constexpr std::size_t frame = 480;

/// Silence with samples of ± value in [from, from + count).
std::vector<float> withLoud(std::size_t size, std::size_t from, std::size_t count, float value = 0.5f) {
    std::vector<float> samples(size, 0.0f);
    for (std::size_t i = from; i < from + count; ++i) samples[i] = (i % 2 == 0) ? value : -value;
    return samples;
}

std::vector<float> loud(std::size_t count, float value = 0.1f) {
    return withLoud(count, 0, count, value);
}

}  // namespace

TEST(SpeechDetector, NeedsThirtyFiveHundredthsOfASecondAndALoudnessAboveTheThreshold) {
    EXPECT_EQ(SpeechDetector::frameLength(16000), 480);
    EXPECT_EQ(SpeechDetector::frameLength(33), 1);
    EXPECT_FALSE(SpeechDetector::hasSpeech(loud(5599), rate));
    EXPECT_TRUE(SpeechDetector::hasSpeech(loud(5600), rate));
    EXPECT_FALSE(SpeechDetector::hasSpeech(loud(2799), 8000));
    EXPECT_TRUE(SpeechDetector::hasSpeech(loud(2800), 8000));
    EXPECT_FALSE(SpeechDetector::hasSpeech({}, rate));

    const float threshold = SpeechDetector::rmsThreshold;
    EXPECT_FALSE(SpeechDetector::hasSpeech(loud(rate, threshold), rate));
    EXPECT_TRUE(SpeechDetector::hasSpeech(loud(rate, std::nextafter(threshold, 1.0f)), rate));
}

TEST(SpeechDetector, TwoPercentOfTheWholeFramesFromTheStart) {
    // 100 whole frames and a leftover of 479 loud samples, which is no frame.
    std::vector<float> samples = withLoud(100 * frame + 479, 100 * frame, 479);
    const auto loudFrame = withLoud(frame, 0, frame);
    std::copy(loudFrame.begin(), loudFrame.end(), samples.begin() + 10 * frame);
    EXPECT_FALSE(SpeechDetector::hasSpeech(samples, rate));  // 1 of 100
    std::copy(loudFrame.begin(), loudFrame.end(), samples.begin() + 57 * frame);
    EXPECT_TRUE(SpeechDetector::hasSpeech(samples, rate));  // 2 of 100

    // Frames count from the start: one frame's worth straddling two frames makes both loud.
    EXPECT_TRUE(SpeechDetector::hasSpeech(withLoud(100 * frame, 20 * frame + 240, frame), rate));
    // At 0.35 s there are 11 frames, and one loud frame is already 2 %.
    EXPECT_TRUE(SpeechDetector::hasSpeech(withLoud(5600, 0, frame), rate));
}

TEST(SpeechDetector, TrimKeepsAQuarterSecondAfterTheLastLoudFrameCountedFromTheEnd) {
    const std::vector<float> samples = withLoud(100 * frame, 0, 33 * frame);
    const auto trimmed = SpeechDetector::trimTrailingSilence(samples, rate);
    ASSERT_EQ(trimmed.size(), 33 * frame + 4000);
    EXPECT_TRUE(std::equal(trimmed.begin(), trimmed.end(), samples.begin()));

    // Speech to the end, or ending less than 0.25 s before it: nothing goes.
    EXPECT_EQ(SpeechDetector::trimTrailingSilence(loud(rate), rate).size(), 16000u);
    EXPECT_EQ(SpeechDetector::trimTrailingSilence(withLoud(rate, 0, rate - 3000), rate).size(), 16000u);

    // 10000 samples are 20 frames from the end and a leftover of 400 at the start, a frame of its
    // own: speech in its first 100 samples ends at 400, not at 480.
    EXPECT_EQ(SpeechDetector::trimTrailingSilence(withLoud(10000, 0, 100), rate).size(), 4400u);
}

TEST(SpeechDetector, TrimWithoutSpeechLeavesLessThanTwentyEightHundredths) {
    EXPECT_EQ(SpeechDetector::trimTrailingSilence(std::vector<float>(2 * rate), rate).size(), 4000u);
    EXPECT_EQ(SpeechDetector::trimTrailingSilence(std::vector<float>(1000), rate).size(), 1000u);
    EXPECT_TRUE(SpeechDetector::trimTrailingSilence({}, rate).empty());
}
