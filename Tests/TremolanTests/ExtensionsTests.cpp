#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Records/ResultExtensions.hpp"
#include "Tremolan/Utilities/AudioPCMBufferExtensions.hpp"
#include "Tremolan/Utilities/StringExtensions.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace tremolan;
using platform::audio::AudioFormat;
using platform::audio::AudioPCMBuffer;
using platform::audio::CommonFormat;

namespace {

AudioPCMBuffer ramp(std::uint32_t frames, AudioFormat format = {}) {
    AudioPCMBuffer buffer(format, frames);
    for (std::uint32_t block = 0; block < buffer.blockCount(); ++block) {
        float* data = buffer.floatChannelData(block);
        for (std::uint32_t i = 0; i < frames * buffer.samplesPerFrame(); ++i) data[i] = float(block * 10000 + i);
    }
    buffer.setFrameLength(frames);
    return buffer;
}

}  // namespace

TEST(StringExtensions, NormalizedTextForComparison) {
    EXPECT_EQ(normalized("Hello-World, it's  me!"), "hello world its me");
    EXPECT_EQ(normalized("  A--B  "), "a b");
    EXPECT_EQ(normalized("«Привет», — сказал ОН.\n"), "привет сказал он");
    EXPECT_EQ(normalized(""), "");
}

TEST(StringExtensions, SpecialTokenFramingIsTrimmedFromTheEndsOnly) {
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|startoftranscript|>"), "startoftranscript");
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|en|>"), "en");
    EXPECT_EQ(trimmingSpecialTokenCharacters("a|b"), "a|b");
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|>"), "");
}

TEST(ResultExtensions, ContainsComparesStartTimesOnly) {
    TranscriptionSegment a;
    a.start = 1.5f;
    a.text = "a";
    TranscriptionSegment b = a;
    b.text = "different";
    b.end = 99;
    EXPECT_TRUE(contains({a}, b));
    b.start = 1.5000001f;
    EXPECT_FALSE(contains({a}, b));
    EXPECT_FALSE(contains({}, a));
}

TEST(ResultExtensions, FailedOutcomesBecomeAbsentLists) {
    using Outcome = std::variant<std::vector<int>, std::exception_ptr>;
    std::vector<Outcome> outcomes{std::vector<int>{1}, std::make_exception_ptr(std::runtime_error("e")),
                                  std::vector<int>{}};
    auto lists = toOptionalArrays(outcomes);
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[0], std::vector<int>{1});
    EXPECT_FALSE(lists[1]);
    EXPECT_EQ(lists[2], std::vector<int>{});
    EXPECT_FALSE(isRunningOnSimulator());
}

TEST(AudioPCMBufferExtensions, AppendsTheRequestedFramesUpToTheSourceEnd) {
    velmora::test::LogCapture log;
    auto source = ramp(10);
    AudioPCMBuffer target({}, 20);
    EXPECT_TRUE(appendContents(target, source, 4, 6));
    EXPECT_EQ(target.frameLength(), 6u);
    EXPECT_EQ(target.floatChannelData()[0], 4.0f);
    EXPECT_EQ(target.floatChannelData()[5], 9.0f);
    EXPECT_TRUE(appendContents(target, source, 0, 2));
    EXPECT_EQ(target.frameLength(), 8u);
    EXPECT_EQ(target.floatChannelData()[6], 0.0f);

    EXPECT_FALSE(appendContents(target, source, 5, 6));
    EXPECT_FALSE(appendContents(target, source, -1, 1));
    EXPECT_EQ(log.count("Insufficient audio in buffer"), 2);
    EXPECT_EQ(target.frameLength(), 8u);
}

TEST(AudioPCMBufferExtensions, ShortensToTheFreeSpace) {
    velmora::test::LogCapture log;
    auto source = ramp(1000);
    AudioPCMBuffer target({}, 600);
    EXPECT_TRUE(appendContents(target, source, 0, 1000));
    EXPECT_EQ(target.frameLength(), 600u);
    EXPECT_EQ(target.floatChannelData()[599], 599.0f);
    EXPECT_EQ(log.count("Insufficient space in buffer, reducing frame count to fit"), 1);
    EXPECT_TRUE(appendContents(target, source, 0, 10));  // full: nothing more fits
    EXPECT_EQ(target.frameLength(), 600u);
}

TEST(AudioPCMBufferExtensions, RefusesOtherFormatsAndNonFloatData) {
    velmora::test::LogCapture log;
    auto source = ramp(10);
    AudioPCMBuffer otherRate(AudioFormat{CommonFormat::float32, 44100, 1, false}, 10);
    EXPECT_FALSE(appendContents(otherRate, source, 0, 1));
    EXPECT_EQ(log.count("Format mismatch"), 1);

    AudioFormat int16{CommonFormat::int16, 16000, 1, false};
    AudioPCMBuffer integers(int16, 10);
    integers.setFrameLength(10);
    AudioPCMBuffer integerTarget(int16, 10);
    EXPECT_FALSE(appendContents(integerTarget, integers, 0, 1));
    EXPECT_EQ(log.count("Failed to access float channel data"), 1);
    EXPECT_EQ(integerTarget.frameLength(), 0u);
}

TEST(AudioPCMBufferExtensions, CopiesEveryChannel) {
    const AudioFormat stereo{CommonFormat::float32, 16000, 2, false};
    auto planar = ramp(4, stereo);
    AudioPCMBuffer planarTarget(stereo, 4);
    ASSERT_TRUE(appendContents(planarTarget, planar, 1, 3));
    EXPECT_EQ(planarTarget.floatChannelData(0)[0], 1.0f);
    EXPECT_EQ(planarTarget.floatChannelData(1)[2], 10003.0f);

    const AudioFormat interleaved{CommonFormat::float32, 16000, 2, true};
    auto frames = ramp(4, interleaved);
    AudioPCMBuffer interleavedTarget(interleaved, 4);
    ASSERT_TRUE(appendContents(interleavedTarget, frames, 2, 2));
    EXPECT_EQ(interleavedTarget.floatChannelData()[0], 4.0f);
    EXPECT_EQ(interleavedTarget.floatChannelData()[3], 7.0f);
    EXPECT_THROW(interleavedTarget.setFrameLength(5), std::out_of_range);
}
