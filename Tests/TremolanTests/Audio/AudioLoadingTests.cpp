#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"
#include "TremolanTests/Audio/AudioTestSignals.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tremolan;
using platform::audio::AudioFileType;
using velmora::test::messageOf;
using velmora::test::sine;
using velmora::test::TempDir;
using velmora::test::toneFrequency;
using velmora::test::writeTone;

namespace {

std::string missingMessage(const std::function<void()>& action) {
    return messageOf<WhisperError>(action);
}

}  // namespace

TEST(AudioLoading, TheSharedRecordingLoadsAs16kMono) {
    const std::string path = velmora::test::dataPath("audio/jfk.flac").string();
    const auto samples = AudioProcessor::loadAudioAsFloatArray(path);
    platform::audio::AudioFile file(path);
    // 44.1 kHz stereo: the length is the file's duration at 16 kHz, truncated.
    EXPECT_EQ(samples.size(), static_cast<std::size_t>(static_cast<double>(file.length()) / 44100.0 * 16000.0));
    double energy = 0;
    for (float s : samples) energy += static_cast<double>(s) * s;
    EXPECT_GT(energy / static_cast<double>(samples.size()), 1e-4);

    AudioProcessor processor;
    auto buffer = processor.loadAudio(path);
    EXPECT_EQ(buffer.format().sampleRate, 16000.0);
    EXPECT_EQ(buffer.format().channelCount, 1u);
    EXPECT_EQ(AudioProcessor::convertBufferToArray(buffer), samples);
    EXPECT_EQ(AudioProcessor::convertBufferToArray(buffer), std::vector<float>(samples.size(), 0.0f));

    auto async = processor.loadAudioAsync(path).get();
    EXPECT_EQ(AudioProcessor::convertBufferToArray(async), samples);
}

TEST(AudioLoading, EveryFormatAndRateKeepsTheToneAndTheLength) {
    TempDir dir;
    struct Case {
        AudioFileType type;
        const char* name;
        double rate;
        int channels;
    };
    const std::vector<Case> cases = {
        {AudioFileType::wavInt16, "a.wav", 44100, 2}, {AudioFileType::wavInt24, "b.wav", 48000, 1},
        {AudioFileType::wavInt32, "c.wav", 8000, 2},  {AudioFileType::wavFloat, "d.wav", 22050, 3},
        {AudioFileType::flac, "e.flac", 32000, 2},    {AudioFileType::oggVorbis, "f.ogg", 44100, 2},
        {AudioFileType::mp3, "g.mp3", 48000, 2},      {AudioFileType::wavInt16, "h.wav", 11025, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frames = static_cast<std::size_t>(c.rate * 1.5);
        writeTone(dir / c.name, sine(1000, frames, c.rate), c.rate, c.channels, c.type);
        const auto samples = AudioProcessor::loadAudioAsFloatArray((dir / c.name).string());
        platform::audio::AudioFile file(dir / c.name);
        // Lossy coders add a little at the edges; the length follows what the file holds.
        const auto expected = static_cast<std::size_t>(static_cast<double>(file.length()) / c.rate * 16000.0);
        EXPECT_EQ(samples.size(), expected);
        EXPECT_NEAR(toneFrequency(samples, 16000), 1000.0, 5.0);
        float peak = 0;
        for (std::size_t i = 1000; i + 1000 < samples.size(); ++i) peak = std::max(peak, std::fabs(samples[i]));
        EXPECT_NEAR(peak, 0.5f, 0.05f);
    }
}

TEST(AudioLoading, A16kMonoFileIsReadUnchangedByRange) {
    TempDir dir;
    const auto tone = sine(440, 48000, 16000);
    writeTone(dir / "mono.wav", tone, 16000, 1, AudioFileType::wavFloat);
    const std::string path = (dir / "mono.wav").string();
    for (const auto& mode : {ChannelMode::sumChannels(), ChannelMode::specificChannel(4)})
        EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path, mode), tone);

    const auto middle = AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 0.5, 1.25);
    EXPECT_EQ(middle, std::vector<float>(tone.begin() + 8000, tone.begin() + 20000));
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 2.5, 99.0),
              std::vector<float>(tone.begin() + 40000, tone.end()));
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 2.0, 2.0).empty());
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 2.5, 1.0).empty());
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 3.0, std::nullopt).empty());
}

TEST(AudioLoading, ChannelModesApplyToEveryBlockOfAConvertedFile) {
    TempDir dir;
    platform::audio::AudioBuffer stereo;
    stereo.sampleRate = 32000;
    stereo.channels = 2;
    const auto low = sine(300, 64000, 32000, 0.4f);
    const auto high = sine(2000, 64000, 32000, 0.4f);
    for (std::size_t i = 0; i < low.size(); ++i) {
        stereo.samples.push_back(low[i]);
        stereo.samples.push_back(high[i]);
    }
    platform::audio::writeAudioFile(dir / "two.wav", stereo, AudioFileType::wavFloat);
    const std::string path = (dir / "two.wav").string();
    AudioProcessor processor;
    // Small blocks: every block is mixed on its own.
    auto left = processor.loadAudio(path, ChannelMode::specificChannel(0), 0.0, std::nullopt, 5000);
    auto right = processor.loadAudio(path, ChannelMode::specificChannel(1), 0.0, std::nullopt, 5000);
    EXPECT_NEAR(toneFrequency(AudioProcessor::convertBufferToArray(left), 16000), 300, 5);
    EXPECT_NEAR(toneFrequency(AudioProcessor::convertBufferToArray(right), 16000), 2000, 10);
    EXPECT_EQ(left.frameLength(), 32000u);
}

TEST(AudioLoading, LongFilesLoadInSegmentsWithoutLosingOrRepeatingAFrame) {
    TempDir dir;
    // 605 s at 8 kHz: two segments of the array loader, several blocks each.
    const double rate = 8000;
    const std::size_t frames = 605 * 8000;
    writeTone(dir / "long.wav", sine(50, frames, rate), rate, 1, AudioFileType::wavInt16);
    const auto samples = AudioProcessor::loadAudioAsFloatArray((dir / "long.wav").string());
    ASSERT_EQ(samples.size(), 605u * 16000u);
    // Past the edges of the blocks' filters the tone keeps its phase: a frame lost or read twice
    // at the 600 s seam would shift everything after it.
    for (std::size_t at : {std::size_t(100000), std::size_t(600 * 16000 + 3000), samples.size() - 3000}) {
        for (std::size_t i = at; i < at + 200; ++i)
            ASSERT_NEAR(samples[i], 0.5 * std::sin(2 * std::numbers::pi * 50 * i / 16000.0), 0.01) << i;
    }
}

TEST(AudioLoading, TruncatedFilesEndTheirLoadInsteadOfLooping) {
    TempDir dir;
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    for (const auto& [name, type, rate] :
         std::vector<std::tuple<std::string, AudioFileType, double>>{{"cut.flac", AudioFileType::flac, 44100},
                                                                     {"cut.wav", AudioFileType::wavInt16, 16000},
                                                                     {"cut48.wav", AudioFileType::wavInt16, 48000}}) {
        SCOPED_TRACE(name);
        const auto path = dir / name;
        writeTone(path, sine(440, static_cast<std::size_t>(rate * 4), rate), rate, 1, type);
        // Half the bytes are gone; the header still announces four seconds.
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
        EXPECT_GT(samples.size(), 16000u);
        EXPECT_LT(samples.size(), 3u * 16000u);
        EXPECT_NEAR(toneFrequency(samples, 16000), 440, 5);
    }
    // In blocks of 0.1 s the conversion goes on past the last whole block; the header still counts
    // four seconds, and the read after the data's end returns nothing: the load ends there, says so.
    AudioProcessor processor;
    auto blocks = processor.loadAudio((dir / "cut.flac").string(), ChannelMode::sumChannels(), 0.0, std::nullopt, 4410);
    EXPECT_GT(blocks.frameLength(), 16000u);
    EXPECT_LT(blocks.frameLength(), 3u * 16000u);
    EXPECT_NEAR(toneFrequency(AudioProcessor::convertBufferToArray(blocks), 16000), 440, 5);
    const auto messages = log.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
        return m.rfind("Audio file " + (dir / "cut.flac").string() + " ended at frame ", 0) == 0;
    }));
}

TEST(AudioLoading, AWholeLoadHoldsNoMoreThanItsSamples) {
    TempDir dir;
    // A vector grown sample by sample would hold up to twice its samples, and three times at its
    // last step; the load sets aside the room once. Rates that resample and rates that do not.
    for (const double rate : {16000.0, 44100.0}) {
        SCOPED_TRACE(rate);
        const auto path = dir / "tone.wav";
        writeTone(path, sine(300, static_cast<std::size_t>(rate * 630), rate), rate, 1, AudioFileType::wavInt16);
        const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
        ASSERT_NEAR(static_cast<double>(samples.size()), 630 * 16000.0, 2.0);
        EXPECT_LE(samples.capacity(), samples.size() + 16);
    }

    // A damaged header that announces hours of data in a small file sets aside room only for what
    // the file can hold.
    const auto path = dir / "claims-hours.wav";
    writeTone(path, sine(300, 16000, 16000), 16000, 1, AudioFileType::wavInt16);
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        const std::uint32_t huge = 0xFFFFFF00u;
        file.seekp(40);
        file.write(reinterpret_cast<const char*>(&huge), 4);
    }
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
    EXPECT_EQ(samples.size(), 16000u);
    EXPECT_LE(samples.capacity(), 4 * std::filesystem::file_size(path));
}

TEST(AudioLoading, MissingAndUnreadableFilesNameThePathAndTheReason) {
    TempDir dir;
    const std::string missing = (dir / "missing.wav").string();
    AudioProcessor processor;
    EXPECT_EQ(missingMessage([&] { AudioProcessor::loadAudioAsFloatArray(missing); }),
              "Resource path does not exist " + missing);
    EXPECT_EQ(missingMessage([&] { processor.loadAudio(missing); }), "Resource path does not exist " + missing);
    EXPECT_EQ(missingMessage([&] { processor.loadAudioAsync(missing).get(); }),
              "Resource path does not exist " + missing);

    velmora::test::writeFile(dir / "text.wav", "this is not audio at all");
    const std::string text = messageOf<platform::audio::AudioError>(
        [&] { AudioProcessor::loadAudioAsFloatArray((dir / "text.wav").string()); });
    EXPECT_NE(text.find((dir / "text.wav").string()), std::string::npos) << text;
    EXPECT_GT(text.size(), (dir / "text.wav").string().size() + 25) << "a reason follows the path";

    // Several files at once: one result per path, in order, each failure its own.
    writeTone(dir / "a.wav", sine(440, 8000, 16000), 16000, 1, AudioFileType::wavFloat);
    writeTone(dir / "b.flac", sine(440, 22050, 44100), 44100, 2, AudioFileType::flac);
    const auto results =
        processor.loadAudio(std::vector<std::string>{(dir / "a.wav").string(), missing, (dir / "b.flac").string()});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(results[0].succeeded());
    EXPECT_EQ(results[0].samples.size(), 8000u);
    ASSERT_FALSE(results[1].succeeded());
    EXPECT_EQ(messageOf<WhisperError>([&] {
                  std::rethrow_exception(results[1].error);
              }).rfind("Resource path does not exist ", 0),
              0u);
    EXPECT_TRUE(results[2].succeeded());
    EXPECT_EQ(results[2].samples.size(), 8000u);
}

TEST(AudioLoading, ResampledCapacitiesRoundToTheNearestWholeFrame) {
    const platform::audio::AudioFormat from{platform::audio::CommonFormat::float32, 48000, 1, false};
    const platform::audio::AudioFormat to{platform::audio::CommonFormat::float32, 16000, 1, false};
    const platform::audio::AudioConverter converter(from, to);
    velmora::test::LogCapture log;
    const auto convert = [&](std::size_t frames) {
        return AudioProcessor::resampleBuffer(velmora::test::channelBuffer({sine(100, frames, 48000)}, 48000),
                                              converter);
    };
    EXPECT_EQ(convert(1000).frameCapacity(), 333u);
    EXPECT_EQ(log.count("Rounding buffer frame capacity from 333.3333333333333 to 333.0 to better fit new sample rate"),
              1);
    EXPECT_EQ(convert(1).frameCapacity(), 1u);
    EXPECT_EQ(convert(4800).frameCapacity(), 1600u);
    EXPECT_EQ(convert(4800).frameLength(), 1600u);
    // Halves go to the even neighbour.
    const platform::audio::AudioConverter halving({platform::audio::CommonFormat::float32, 32000, 1, false}, to);
    const auto halve = [&](std::size_t frames) {
        return AudioProcessor::resampleBuffer(velmora::test::channelBuffer({sine(100, frames, 32000)}, 32000), halving)
            .frameCapacity();
    };
    EXPECT_EQ(halve(3), 2u);
    EXPECT_EQ(halve(5), 2u);
    EXPECT_EQ(halve(7), 4u);

    // A buffer of another format is a conversion error.
    EXPECT_EQ(messageOf<WhisperError>([&] {
                  AudioProcessor::resampleBuffer(velmora::test::channelBuffer({sine(100, 10, 16000)}, 16000),
                                                 converter);
              }).rfind("Error converting audio: ", 0),
              0u);
    EXPECT_FALSE(AudioProcessor::resampleAudio(velmora::test::channelBuffer({sine(1, 10, 8000)}, 8000), 16000, 0));
}

TEST(AudioLoading, BuffersBecomeArraysChunkByChunkAndWindowsArePaddedOrTrimmed) {
    auto buffer = velmora::test::channelBuffer({sine(100, 2500, 16000), sine(200, 2500, 16000)});
    const auto first = velmora::test::channel(buffer, 0);
    const auto second = velmora::test::channel(buffer, 1);
    for (std::size_t chunk : {std::size_t(1024), std::size_t(1), std::size_t(5000)}) {
        auto copy = buffer;
        EXPECT_EQ(AudioProcessor::convertBufferToArray(copy, chunk), first);
        EXPECT_EQ(velmora::test::channel(copy, 0), std::vector<float>(2500, 0.0f));
        EXPECT_EQ(velmora::test::channel(copy, 1), second);
    }
    platform::audio::AudioPCMBuffer ints({platform::audio::CommonFormat::int16, 16000, 1, false}, 4);
    ints.setFrameLength(4);
    EXPECT_TRUE(AudioProcessor::convertBufferToArray(ints).empty());

    AudioProcessor processor;
    std::vector<float> hundred(100, 0.25f);
    const auto padded = processor.padOrTrim(hundred, 0, 480000);
    ASSERT_TRUE(padded);
    ASSERT_EQ(padded->shape(), (std::vector<std::int64_t>{480000}));
    const auto values = padded->toFloatVector();
    EXPECT_EQ(std::vector<float>(values.begin(), values.begin() + 100), hundred);
    EXPECT_EQ(std::count(values.begin(), values.end(), 0.0f), 480000 - 100);

    std::vector<float> ramp(500000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    EXPECT_EQ(processor.padOrTrim(ramp, 0, 480000)->toFloatVector(),
              std::vector<float>(ramp.begin(), ramp.begin() + 480000));
    const auto tail = processor.padOrTrimAudio(ramp, 499990, 20)->toFloatVector();
    EXPECT_EQ(tail[9], 499999.0f);
    EXPECT_EQ(tail[10], 0.0f);

    velmora::test::LogCapture log;
    EXPECT_FALSE(processor.padOrTrim(hundred, 100, 480000));
    EXPECT_FALSE(processor.padOrTrim(hundred, -1, 480000));
    EXPECT_EQ(log.count("startIndex is outside the buffer size"), 2);
}
