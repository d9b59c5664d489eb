#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"
#include "TremolanTests/Audio/AudioTestSignals.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace tremolan;
using velmora::test::sine;

namespace {

/// Frames of 1600 samples at the given levels (a square wave: its RMS is the level).
std::vector<float> frames(const std::vector<float>& levels, std::size_t lastFrame = 1600) {
    std::vector<float> samples;
    for (std::size_t f = 0; f < levels.size(); ++f) {
        const std::size_t n = f + 1 == levels.size() ? lastFrame : 1600;
        for (std::size_t i = 0; i < n; ++i) samples.push_back(i % 2 ? levels[f] : -levels[f]);
    }
    return samples;
}

}  // namespace

TEST(Energy, MeasuresAndRelativeLevels) {
    const std::vector<float> square = {1, -1, 1, -1};
    EXPECT_FLOAT_EQ(AudioProcessor::calculateAverageEnergy(square), 1.0f);
    EXPECT_EQ(AudioProcessor::calculateEnergy(std::vector<float>{0.5f, -0.25f, 0.1f}).max, 0.5f);
    EXPECT_EQ(AudioProcessor::calculateEnergy(std::vector<float>{0.5f, -0.25f, 0.1f}).min, 0.1f);
    EXPECT_NEAR(AudioProcessor::calculateAverageEnergy(sine(100, 16000, 16000, 1.0f)), std::sqrt(0.5f), 1e-4f);
    EXPECT_EQ(AudioProcessor::calculateAverageEnergy(std::vector<float>{}), 0.0f);

    const std::vector<float> silence(1600, 0.0f);
    for (auto reference : {std::optional<float>(), std::optional<float>(0.0f), std::optional<float>(0.5f)})
        EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(silence, reference), 0.0f);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(square, 0.001f), 1.0f);
    const std::vector<float> minus30dB = frames({0.0316227766f});
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(minus30dB, 0.001f), 0.5f, 1e-4f);
    // No reference is -60 dB; a reference of 0 is raised to -160 dB.
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(minus30dB, std::nullopt), 0.5f, 1e-4f);
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(minus30dB, 0.0f), 130.0f / 160.0f, 1e-4f);
    // Quieter than the reference, and no history yet (+infinity): 0.
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(minus30dB, 0.5f), 0.0f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(minus30dB, std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(Energy, ChunkedActivityIsAStrictThresholdOverFramesAndTheirOverlap) {
    const auto samples = frames({0.01f, 0.03f, 0.02f, 0.0f});
    EXPECT_TRUE(AudioProcessor::calculateVoiceActivityInChunks(samples, 0, 1600, 0, 0.02f).empty());
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 4, 1600, 0, 0.02f),
              (std::vector<bool>{false, true, false, false}));
    // The overlap lengthens frame 0 into the loud frame 1; frames still step by 1600.
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 4, 1600, 1600, 0.02f),
              (std::vector<bool>{true, true, false, false}));
    // A frame asked for past the samples measures nothing.
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 6, 1600, 0, 0.02f).size(), 6u);
    EXPECT_FALSE(AudioProcessor::calculateVoiceActivityInChunks(samples, 6, 1600, 0, 0.02f)[5]);
}

TEST(Energy, VoiceDetectionExaminesAllButTheNewestSecond) {
    std::vector<float> values(30, 0.0f);
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 3.0f, 0.3f));
    values[19] = 0.5f;  // the last value examined of the last 30
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(values, 3.0f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 0.0f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 0.3f, 0.3f));
    values[19] = 0.0f;
    values[20] = 0.5f;  // within the newest second: not examined
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 3.0f, 0.3f));
    // 15 values: the first 10 of them.
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(values, 1.5f, 0.3f));
    values[20] = 0.0f;
    values[25] = 0.5f;
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 1.5f, 0.3f));
    // Ten or fewer: all of them; the threshold itself is silence.
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(values, 0.5f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, 0.5f, 0.5f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(values, std::numeric_limits<float>::infinity(), 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected({}, 5.0f, 0.3f));
}

TEST(VoiceActivity, EnergyDetectorFramesRangesAndSilences) {
    const EnergyVAD vad = EnergyVAD::standard();
    EXPECT_EQ(vad.voiceActivity(std::vector<float>(16000, 0.0f)), std::vector<bool>(10, false));
    EXPECT_EQ(vad.voiceActivity(std::vector<float>(16001, 0.0f)).size(), 11u);
    EXPECT_TRUE(vad.voiceActivity(std::vector<float>{}).empty());
    EXPECT_EQ(vad.voiceActivity(frames({0.02f, 0.0201f})), (std::vector<bool>{false, true}));

    const auto samples = frames({0.0f, 0.5f, 0.5f, 0.0f, 0.5f});
    ASSERT_EQ(samples.size(), 8000u);
    EXPECT_EQ(vad.calculateActiveChunks(samples), (std::vector<IndexRange>{{1600, 4800}, {6400, 8000}}));
    EXPECT_EQ(AudioProcessor::calculateNonSilentChunks(samples), vad.calculateActiveChunks(samples));
    // A partial last frame ends its range at the sample count.
    EXPECT_EQ(vad.calculateActiveChunks(frames({0.0f, 0.5f}, 700)), (std::vector<IndexRange>{{1600, 2300}}));
    EXPECT_EQ(vad.voiceActivityAsync(samples).get(), vad.voiceActivity(samples));

    EXPECT_EQ(vad.findLongestSilence({true, false, false, true, false, false}), (IndexRange{1, 3}));
    EXPECT_EQ(vad.findLongestSilence({false, false, false}), (IndexRange{0, 3}));
    EXPECT_EQ(vad.findLongestSilence({true, false, true, false, false, false, true}), (IndexRange{3, 6}));
    EXPECT_FALSE(vad.findLongestSilence({true, true}));
    EXPECT_FALSE(vad.findLongestSilence({}));
    EXPECT_FLOAT_EQ(vad.voiceActivityIndexToSeconds(5), 0.5f);
    EXPECT_EQ(vad.voiceActivityIndexToAudioSampleIndex(5), 8000);

    EXPECT_EQ(EnergyVAD(16000, 0.1f, 0.0f, 0.02f).frameLengthSamples(), 1600);
    EXPECT_EQ(EnergyVAD(16000, 0.0999f, 0.05f, 0.02f).frameLengthSamples(), 1598);
    EXPECT_EQ(EnergyVAD(16000, 0.0999f, 0.05f, 0.02f).frameOverlapSamples(), 800);
    EXPECT_THROW(EnergyVAD(16000, 0.0f, 0.0f, 0.02f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD(16000, std::numeric_limits<float>::infinity(), 0.0f, 0.02f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD(16000, 1e30f, 0.0f, 0.02f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD(16000, std::int64_t{0}, std::int64_t{0}, 0.02f), std::invalid_argument);
}
