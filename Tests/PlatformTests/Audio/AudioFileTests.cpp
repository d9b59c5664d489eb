#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Audio/Resampler.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace platform::audio;

TEST(AudioFile, ReadsAStereoFlacAndResamplesItToMono16k) {
    const auto path = velmora::test::dataPath("audio/jfk.flac");
    const AudioBuffer buffer = readAudioFile(path);
    EXPECT_EQ(buffer.sampleRate, 44100.0);
    EXPECT_EQ(buffer.channels, 2);
    EXPECT_NEAR(buffer.duration(), 11.0, 0.1);
    float peak = 0;
    for (float s : buffer.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.1f);
    EXPECT_LE(peak, 1.0f);

    const auto mono = loadMonoAudio(path);
    EXPECT_NEAR(static_cast<double>(mono.size()), buffer.duration() * 16000.0, 2.0);
    double energy = 0;
    for (float s : mono) energy += static_cast<double>(s) * s;
    EXPECT_GT(energy / static_cast<double>(mono.size()), 1e-4);  // speech, not silence
}

TEST(AudioFile, TheStartOfAFileLoadsAloneAsTheWholeFileBegins) {
    // A stereo 44.1 kHz file resampled to 16 kHz mono, whole and only its first five seconds: the
    // same samples, but for the resampler's last few milliseconds.
    const auto path = velmora::test::dataPath("audio/jfk.flac");
    const auto whole = loadMonoAudio(path);
    const auto start = loadMonoAudio(path, 16000.0, 5.0);
    ASSERT_EQ(start.size(), 80000u);
    for (std::size_t i = 0; i < 79900; ++i) ASSERT_NEAR(start[i], whole[i], 1e-5f) << i;

    // A 16 kHz mono file is read as it lies; a stretch longer than the file gives the file.
    velmora::test::TempDir dir;
    AudioBuffer tone;
    tone.sampleRate = 16000;
    tone.channels = 1;
    for (int i = 0; i < 40000; ++i) tone.samples.push_back(0.25f * std::sin(0.05f * static_cast<float>(i)));
    writeAudioFile(dir / "tone.wav", tone, AudioFileType::wavFloat);
    EXPECT_EQ(loadMonoAudio(dir / "tone.wav", 16000.0, 1.5),
              std::vector<float>(tone.samples.begin(), tone.samples.begin() + 24000));
    EXPECT_EQ(loadMonoAudio(dir / "tone.wav", 16000.0, 30.0), tone.samples);
    EXPECT_EQ(loadMonoAudio(dir / "tone.wav"), tone.samples);
    EXPECT_NEAR(audioFileDuration(dir / "tone.wav"), 2.5, 1e-9);
    EXPECT_TRUE(loadMonoAudio(dir / "tone.wav", 16000.0, 0.0).empty());
    EXPECT_THROW(loadMonoAudio(dir / "tone.wav", 16000.0, -1.0), AudioError);
}

TEST(AudioFile, MixesChannelsByAveraging) {
    AudioBuffer b;
    b.sampleRate = 8000;
    b.channels = 2;
    b.samples = {1.0f, 0.0f, -0.5f, -0.5f, 0.25f, 0.75f};
    EXPECT_EQ(mixToMono(b), (std::vector<float>{0.5f, -0.5f, 0.5f}));
    b.channels = 1;
    EXPECT_EQ(mixToMono(b), b.samples);
}

TEST(AudioFile, ResamplingKeepsAToneItsPitchAndLevel) {
    std::vector<float> tone(44100);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * i / 44100.0));
    const auto out = resample(tone, 44100, 16000);
    ASSERT_NEAR(static_cast<double>(out.size()), 16000.0, 1.0);
    int crossings = 0;
    float peak = 0;
    for (std::size_t i = 1000; i < 15000; ++i) {
        crossings += (out[i - 1] < 0) != (out[i] < 0);
        peak = std::max(peak, std::fabs(out[i]));
    }
    EXPECT_NEAR(crossings, 2 * 1000 * 14000 / 16000, 4);
    EXPECT_NEAR(peak, 0.5f, 0.01f);
    EXPECT_EQ(resample(tone, 16000, 16000), tone);
    EXPECT_THROW(resample(tone, 0, 16000), AudioError);
}

TEST(AudioFile, UnreadableFilesAreErrors) {
    velmora::test::TempDir dir;
    EXPECT_THROW(readAudioFile(dir / "missing.wav"), AudioError);
    velmora::test::writeFile(dir / "text.wav", "this is not audio");
    EXPECT_NE(velmora::test::messageOf<AudioError>([&] { readAudioFile(dir / "text.wav"); }).find("text.wav"),
              std::string::npos);
}
