// Dictation on the on-device engine: a chunk file in, the engine's text out.

#include "Velmora/STT/LocalWhisperSTT.hpp"
#include "Velmora/STT/STTError.hpp"

#include "FakeModelEngine.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace velmora;

namespace {

class LocalDictation : public ::testing::Test {
protected:
    /// One second at 16 kHz in two channels: a ramp on the left, a constant on the right.
    std::filesystem::path stereoChunk() {
        platform::audio::AudioBuffer buffer;
        buffer.sampleRate = 16000;
        buffer.channels = 2;
        for (int i = 0; i < 16000; ++i) {
            buffer.samples.push_back(static_cast<float>(i % 100) / 400.0f);
            buffer.samples.push_back(0.125f);
        }
        const auto path = dir / "chunk.wav";
        platform::audio::writeAudioFile(path, buffer, platform::audio::AudioFileType::wavInt16);
        return path;
    }

    velmora::test::TempDir dir;
    std::shared_ptr<velmora::test::FakeModelEngine> engine =
        std::make_shared<velmora::test::FakeModelEngine>(dir / "model");
    LocalWhisperSTT stt{"Локально · whisper-large-v3", 0, "ru", engine};
};

}  // namespace

TEST_F(LocalDictation, TranscribesTheFilesSummedSamplesInItsLanguageWithTheLatency) {
    const auto chunk = stereoChunk();
    engine->transcriber = [](const std::vector<float>&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return "привет мир";
    };
    const STTResult result = stt.transcribe(chunk, {"Velmora", "созвон"});
    EXPECT_EQ(result.text, "привет мир");
    EXPECT_EQ(result.title, "Локально · whisper-large-v3");
    EXPECT_EQ(result.costUSD, 0);
    EXPECT_GE(result.latencyMs, 30) << "the latency covers the engine's work";
    EXPECT_LT(result.latencyMs, 10000);

    ASSERT_EQ(engine->transcribed().size(), 1u);
    const std::vector<float> samples = engine->transcribed()[0];
    ASSERT_EQ(samples.size(), 16000u);
    // The channels are summed (the library scales the sum back to the louder channel's peak).
    const float scale = (99.0f / 400.0f) / (99.0f / 400.0f + 0.125f);
    for (std::size_t i : {0u, 37u, 99u, 15999u})
        EXPECT_NEAR(samples[i], (static_cast<float>(i % 100) / 400.0f + 0.125f) * scale, 1e-3f) << i;
    EXPECT_EQ(engine->languages(), std::vector<std::string>{"ru"});

    // The hints change nothing.
    EXPECT_EQ(stt.transcribe(chunk, {}).text, result.text);
    EXPECT_EQ(engine->transcribed()[1], samples);
}

TEST_F(LocalDictation, AnEmptyTextAMissingFileAndReadiness) {
    EXPECT_FALSE(stt.isReady());
    engine->load();
    EXPECT_TRUE(stt.isReady());
    engine->unload();
    EXPECT_FALSE(stt.isReady());

    engine->transcriber = [](const std::vector<float>&) { return std::string(); };
    EXPECT_EQ(velmora::test::messageOf<STTError>([&] { stt.transcribe(stereoChunk(), {}); }),
              "Пустой результат распознавания");
    EXPECT_ANY_THROW(stt.transcribe(dir / "missing.wav", {}));
    EXPECT_EQ(engine->transcribed().size(), 1u) << "a file that cannot be read never reaches the engine";
}
