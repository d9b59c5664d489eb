#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Audio/AudioInputConfig.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"
#include "TremolanTests/Audio/AudioTestSignals.hpp"

#include <gtest/gtest.h>

using namespace tremolan;
using velmora::test::channel;
using velmora::test::channelBuffer;
using velmora::test::sine;

TEST(ChannelMode, JsonFormsEqualityAndHashing) {
    const std::vector<std::pair<ChannelMode, std::string>> forms = {
        {ChannelMode::specificChannel(2), R"({"specificChannel":{"_0":2}})"},
        {ChannelMode::sumChannels(std::vector<int>{0, 1}), R"({"sumChannels":{"_0":[0,1]}})"},
        {ChannelMode::sumChannels(), R"({"sumChannels":{}})"},
        {ChannelMode::sumChannels(std::vector<int>{}), R"({"sumChannels":{"_0":[]}})"},
    };
    for (const auto& [mode, text] : forms) {
        EXPECT_EQ(Json(mode).dump(), text);
        EXPECT_EQ(Json::parse(text).get<ChannelMode>(), mode) << text;
    }
    EXPECT_EQ(Json::parse(R"({"sumChannels":{"_0":null},"other":1})").get<ChannelMode>(), ChannelMode::sumChannels());

    for (const char* bad : {"{}", R"({"specificChannel":{"_0":1},"sumChannels":{}})", R"({"other":{}})"}) {
        try {
            (void)Json::parse(bad).get<ChannelMode>();
            ADD_FAILURE() << bad;
        } catch (const JSONDecodingError& e) {
            EXPECT_EQ(e.kind(), JSONDecodingError::Kind::typeMismatch);
            EXPECT_STREQ(e.what(), "Invalid number of keys found, expected one.");
        }
    }
    EXPECT_THROW((void)Json::parse(R"({"specificChannel":{}})").get<ChannelMode>(), JSONDecodingError);
    EXPECT_THROW((void)Json::parse(R"({"specificChannel":{"_0":1.5}})").get<ChannelMode>(), JSONDecodingError);

    // An absent list differs from an empty one; lists compare in order, repeats counting.
    EXPECT_NE(ChannelMode::sumChannels(), ChannelMode::sumChannels(std::vector<int>{}));
    EXPECT_NE(ChannelMode::sumChannels(std::vector<int>{0, 1}), ChannelMode::sumChannels(std::vector<int>{1, 0}));
    EXPECT_NE(ChannelMode::sumChannels(std::vector<int>{1}), ChannelMode::sumChannels(std::vector<int>{1, 1}));
    EXPECT_NE(ChannelMode::specificChannel(0), ChannelMode::sumChannels(std::vector<int>{0}));
    const std::hash<ChannelMode> hash;
    EXPECT_EQ(hash(ChannelMode::sumChannels(std::vector<int>{0, 1})),
              hash(ChannelMode::sumChannels(std::vector<int>{0, 1})));
    EXPECT_NE(hash(ChannelMode::sumChannels()), hash(ChannelMode::sumChannels(std::vector<int>{})));
    EXPECT_NE(hash(ChannelMode::specificChannel(0)), hash(ChannelMode::sumChannels(std::vector<int>{0})));
    EXPECT_EQ(AudioInputConfig{}.channelMode, ChannelMode::sumChannels());
}

TEST(ChannelMixing, MonoComesBackAndChannelsArePickedOrSummedAndRescaled) {
    const auto mono = channelBuffer({{0.1f, -0.2f, 0.3f}});
    for (const auto& mode : {ChannelMode::specificChannel(3), ChannelMode::sumChannels()}) {
        const auto same = AudioProcessor::convertToMono(mono, mode);
        ASSERT_TRUE(same);
        EXPECT_EQ(channel(*same), channel(mono));
    }

    const auto left = sine(440, 1000, 16000, 1.0f);
    std::vector<float> right = sine(220, 1000, 16000, 0.25f);
    const auto stereo = channelBuffer({left, right});

    const auto picked = AudioProcessor::convertToMono(stereo, ChannelMode::specificChannel(1));
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->format().channelCount, 1u);
    EXPECT_EQ(picked->frameLength(), 1000u);
    EXPECT_EQ(channel(*picked), right);
    EXPECT_EQ(channel(*AudioProcessor::convertToMono(stereo, ChannelMode::specificChannel(5))), left);
    EXPECT_EQ(channel(*AudioProcessor::convertToMono(stereo, ChannelMode::specificChannel(-1))), left);

    // In phase at full scale: the sum peaks at twice the level and is halved back.
    const auto inPhase = AudioProcessor::convertToMono(channelBuffer({left, left}), ChannelMode::sumChannels());
    for (std::size_t i = 0; i < left.size(); ++i) EXPECT_NEAR(channel(*inPhase)[i], left[i], 1e-6f);
    // A channel listed twice counts twice and is rescaled back to itself.
    const auto twice = AudioProcessor::convertToMono(stereo, ChannelMode::sumChannels(std::vector<int>{1, 1}));
    for (std::size_t i = 0; i < right.size(); ++i) EXPECT_NEAR(channel(*twice)[i], right[i], 1e-6f);
    // The mix of different channels peaks at the loudest channel's peak.
    const auto mixed = channel(*AudioProcessor::convertToMono(stereo, ChannelMode::sumChannels(std::vector<int>{})));
    float peak = 0;
    for (float s : mixed) peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 1.0f, 1e-5f);
    EXPECT_EQ(mixed, channel(*AudioProcessor::convertToMono(stereo, ChannelMode::sumChannels())));

    // Channels that cancel stay silent rather than blowing up.
    std::vector<float> negative(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) negative[i] = -left[i];
    for (float s : channel(*AudioProcessor::convertToMono(channelBuffer({left, negative}), ChannelMode::sumChannels())))
        ASSERT_EQ(s, 0.0f);

    velmora::test::LogCapture log;
    EXPECT_EQ(channel(*AudioProcessor::convertToMono(stereo, ChannelMode::sumChannels(std::vector<int>{7, 9}))), left);
    EXPECT_EQ(log.count("No valid channel indices provided, defaulting to first channel"), 1);
}

TEST(ChannelMixing, BuffersWithoutFloatChannelsGiveNothing) {
    velmora::test::LogCapture log;
    platform::audio::AudioPCMBuffer ints({platform::audio::CommonFormat::int16, 16000, 2, false}, 10);
    EXPECT_FALSE(AudioProcessor::convertToMono(ints, ChannelMode::sumChannels()));
    platform::audio::AudioPCMBuffer interleaved({platform::audio::CommonFormat::float32, 16000, 2, true}, 10);
    EXPECT_FALSE(AudioProcessor::convertToMono(interleaved, ChannelMode::specificChannel(0)));
    EXPECT_EQ(log.count("Buffer did not contain floatChannelData."), 2);
}
