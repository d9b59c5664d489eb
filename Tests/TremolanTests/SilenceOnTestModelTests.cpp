// Recordings without speech through the trained test model: digital silence, noise and a file cut
// off after a few samples are known as silence (the no-speech probability of their windows) and give
// no words, one window or many; the held-out phrases are still heard as speech and give their words.

#include "ScriptedTextDecoder.hpp"
#include "Support/HeldOutRecordings.hpp"

#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <random>

namespace {

using namespace tremolan;
using velmora::test::dataPath;

constexpr float kThreshold = 0.6f;  // the options' default noSpeechThreshold

struct Silent {
    std::string name;
    std::vector<float> samples;
};

std::vector<float> noise(std::size_t count, float rms, bool brown, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> normal;
    std::vector<float> x(count);
    float walk = 0;
    for (auto& s : x) {
        walk = brown ? 0.995f * walk + normal(random) : normal(random);
        s = walk;
    }
    double power = 0;
    for (float s : x) power += static_cast<double>(s) * s;
    const auto scale = static_cast<float>(rms / std::sqrt(power / static_cast<double>(count)));
    for (auto& s : x) s *= scale;
    return x;
}

/// A WAV file whose header announces a second of 16-bit samples but whose data stop after
/// `frames` of them, as a recording cut off by a crash leaves it; loaded as the library loads files.
std::vector<float> truncatedWav(const velmora::test::TempDir& dir, std::size_t frames) {
    auto put = [](std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const std::uint32_t announced = 32000;
    std::string wav = "RIFF";
    put(wav, 36 + announced, 4);
    wav += "WAVEfmt ";
    put(wav, 16, 4);
    put(wav, 1, 2);  // PCM
    put(wav, 1, 2);  // mono
    put(wav, 16000, 4);
    put(wav, 32000, 4);
    put(wav, 2, 2);
    put(wav, 16, 2);
    wav += "data";
    put(wav, announced, 4);
    for (float s : noise(frames, 0.01f, false, 3)) put(wav, static_cast<std::uint16_t>(std::lround(s * 32767)), 2);
    const auto path = dir / "cut.wav";
    velmora::test::writeFile(path, wav);
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);  // "... ended at frame 28 of 16000 ..."
    return AudioProcessor::loadAudioAsFloatArray(path.string());
}

std::vector<Silent> recordingsWithoutSpeech(const velmora::test::TempDir& dir) {
    return {{"30 s of digital silence", std::vector<float>(480000, 0.0f)},
            {"20 s of hiss at -50 dB", noise(320000, 0.003f, false, 1)},
            {"30 s of rumble at -35 dB", noise(480000, 0.018f, true, 2)},
            {"a WAV file cut off after 28 samples", truncatedWav(dir, 28)}};
}

std::string words(const std::string& text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    return out;
}

class SilenceOnTestModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        model_ = std::make_unique<WindowDecoder>(
            WindowDecoder::load(dataPath("models/test-speech"), velmora::test::multilingualTokenizer()));
    }
    static void TearDownTestSuite() { model_.reset(); }

    /// The library's default road: timestamps, fallback with seeded draws, special tokens left out.
    static std::shared_ptr<TranscriptionResult> transcribe(const std::vector<float>& samples,
                                                           const std::string& language) {
        TranscribeTask task({}, nullptr, model_->audioProcessor, model_->audioEncoder, model_->featureExtractor,
                            std::make_shared<SegmentSeeker>(), model_->textDecoder,
                            velmora::test::multilingualTokenizer());
        task.setRandomSource(std::make_shared<SeededRandomSource>(7));
        DecodingOptions options;
        options.language = language;
        options.skipSpecialTokens = true;
        return task.run(samples, options);
    }

    static inline std::unique_ptr<WindowDecoder> model_;
};

TEST_F(SilenceOnTestModel, WindowsWithoutSpeechAreKnownAsSilenceAndGiveNoWords) {
    velmora::test::TempDir dir;
    for (const auto& recording : recordingsWithoutSpeech(dir)) {
        SCOPED_TRACE(recording.name);
        ASSERT_FALSE(recording.samples.empty());
        for (const bool timestamps : {false, true}) {
            DecodingOptions options;
            options.language = "en";
            options.withoutTimestamps = !timestamps;
            const DecodingResult window = model_->decodeWindow(recording.samples, options);
            std::printf("%s%s: no-speech probability %.3f\n", recording.name.c_str(), timestamps ? ", timestamps" : "",
                        window.noSpeechProb);
            EXPECT_GT(window.noSpeechProb, kThreshold);
            // Accepted as silence at the first try, never retried for its quality.
            EXPECT_EQ(window.fallback, (DecodingFallback{false, "silence"}));
        }
        for (const char* language : {"en", "ru"}) {
            const auto result = transcribe(recording.samples, language);
            EXPECT_EQ(words(result->text()), "") << language << ": \"" << result->text() << "\"";
            for (const auto& segment : result->segments()) EXPECT_EQ(words(segment.text), "") << language;
        }
    }
}

TEST_F(SilenceOnTestModel, MinutesOfSilenceGiveNoWordsWindowAfterWindow) {
    // Five minutes: ten windows, each known as silence.
    std::vector<float> samples(16000 * 300, 0.0f);
    const auto hiss = noise(16000 * 60, 0.002f, false, 5);
    std::copy(hiss.begin(), hiss.end(), samples.begin() + 16000 * 120);
    const auto result = transcribe(samples, "en");
    EXPECT_EQ(words(result->text()), "") << result->text();
    for (const auto& segment : result->segments()) EXPECT_EQ(words(segment.text), "");
}

TEST_F(SilenceOnTestModel, TheHeldOutPhrasesAreStillHeardAsSpeech) {
    for (const auto& phrase : velmora::test::heldOutRecordings()) {
        SCOPED_TRACE(phrase.file);
        const auto samples = AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + phrase.file));
        DecodingOptions options;
        options.language = phrase.language;
        const DecodingResult window = model_->decodeWindow(samples, options);
        std::printf("%s: no-speech probability %.4f\n", phrase.file.c_str(), window.noSpeechProb);
        EXPECT_LT(window.noSpeechProb, 0.1f);
        EXPECT_NE(window.fallback, (DecodingFallback{false, "silence"}));
        EXPECT_NE(words(transcribe(samples, phrase.language)->text()), "");
    }
}

}  // namespace
