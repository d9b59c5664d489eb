// Decoding of real (synthetic) speech with the trained test model, through the library's own road:
// mel, encoder, decoder inputs, filters, sampler, the decoding loop and temperature fallback.

#include "Support/HeldOutRecordings.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "SpeechReference/GreedyTranscriber.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using namespace tremolan;
using velmora::test::dataPath;

std::vector<velmora::test::Recording> recordings() {
    return velmora::test::heldOutRecordings();
}

/// Every grammar rule of the timestamp filter over the tokens sampled from `begin` on (the end token
/// excluded); an empty answer when all hold.
std::string timestampGrammarViolation(const std::vector<int>& tokens, std::size_t begin, const SpecialTokens& special) {
    const int T = special.timeTokenBegin;
    std::vector<int> sampled(tokens.begin() + static_cast<std::ptrdiff_t>(begin), tokens.end());
    if (!sampled.empty() && sampled.back() == special.endToken) sampled.pop_back();
    std::optional<int> lastTimestamp;
    for (std::size_t i = 0; i < sampled.size(); ++i) {
        const int t = sampled[i];
        const std::string at = " at " + std::to_string(i);
        if (t == special.noTimestampsToken) return "the no-timestamps token" + at;
        const bool last = i > 0 && sampled[i - 1] >= T;
        const bool penultimate = i < 2 || sampled[i - 2] >= T;
        if (i > 0 && last && penultimate && t >= T) return "a timestamp after a pair" + at;
        if (last && !penultimate && t < special.endToken) return "text after an opening timestamp" + at;
        if (t >= T && lastTimestamp) {
            // A timestamp may repeat the one just before it only to close it; otherwise it moves on.
            if (last && !penultimate ? t < *lastTimestamp : t <= *lastTimestamp) return "a timestamp going back" + at;
        }
        if (t >= T) lastTimestamp = t;
    }
    return {};
}

class DecodingOnTestModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const auto folder = dataPath("whisper-tokenizer/multilingual");
        tokenizer_ = std::make_shared<WhisperTokenizerWrapper>(
            korbit::AutoTokenizerWrapper::fromModelFolder(folder, true), folder);
        pipeline_ = std::make_unique<WindowDecoder>(WindowDecoder::load(dataPath("models/test-speech"), tokenizer_));
        greedy_ = std::make_unique<velmora::dev::GreedyTranscriber>(dataPath("models/test-speech"));
    }
    static void TearDownTestSuite() {
        pipeline_.reset();
        greedy_.reset();
        tokenizer_.reset();
    }

    static std::vector<float> samples(const velmora::test::Recording& r) {
        return platform::audio::loadMonoAudio(dataPath("testmodel/" + r.file));
    }

    static inline std::shared_ptr<WhisperTokenizerWrapper> tokenizer_;
    static inline std::unique_ptr<WindowDecoder> pipeline_;
    static inline std::unique_ptr<velmora::dev::GreedyTranscriber> greedy_;
};

TEST_F(DecodingOnTestModel, AtTemperatureZeroWithoutTimestampsTheLoopGivesTheGreedyTokens) {
    const auto& special = tokenizer_->specialTokens();
    for (const auto& r : recordings()) {
        DecodingOptions options;
        options.language = r.language;
        options.withoutTimestamps = true;
        options.temperatureFallbackCount = 0;
        const auto audio = samples(r);
        const DecodingResult result = pipeline_->decodeWindow(audio, options);

        const int language = *tokenizer_->convertTokenToId("<|" + r.language + "|>");
        const std::vector<int> prompt{special.startOfTranscriptToken, language, special.transcribeToken,
                                      special.noTimestampsToken};
        std::vector<int> expected = prompt;
        const auto reference = greedy_->transcribe(audio, prompt, special.endToken);
        expected.insert(expected.end(), reference.begin(), reference.end());
        expected.push_back(special.endToken);
        EXPECT_EQ(result.tokens, expected) << r.file << ": " << result.text;
        EXPECT_EQ(result.temperature, 0.0f);
        EXPECT_EQ(result.language, r.language);
    }
}

TEST_F(DecodingOnTestModel, WithTimestampsTheSampledTokensObeyTheTimestampGrammar) {
    const auto& special = tokenizer_->specialTokens();
    for (const auto& r : recordings()) {
        for (const float temperature : {0.0f, 0.8f}) {
            DecodingOptions options;
            options.language = r.language;
            options.temperature = temperature;
            options.temperatureFallbackCount = 0;
            const auto result =
                pipeline_->decodeWindow(samples(r), options, nullptr, std::make_shared<SeededRandomSource>(7));
            ASSERT_GE(result.tokens.size(), 5u) << r.file;
            EXPECT_GE(result.tokens[3], special.timeTokenBegin) << r.file;
            EXPECT_EQ(timestampGrammarViolation(result.tokens, 4, special), "")
                << r.file << " at " << temperature << ": " << result.text;
            // The text ends with a timestamp before the end token: the grammar was exercised.
            EXPECT_GE(result.tokens.rbegin()[1], special.timeTokenBegin) << r.file << " at " << temperature;
        }
    }
}

TEST_F(DecodingOnTestModel, LanguageDetectionPicksTheLanguageOfTheRecording) {
    std::map<std::string, std::pair<int, int>> hits;  // language -> (detected, recordings)
    for (const auto& r : recordings()) {
        DecodingOptions options;
        options.detectLanguage = true;
        options.withoutTimestamps = true;
        options.temperatureFallbackCount = 0;
        const auto result = pipeline_->decodeWindow(samples(r), options);
        hits[r.language].second += 1;
        hits[r.language].first += result.language == r.language;
        // The prompt carried the detected language.
        EXPECT_EQ(result.tokens.at(1), *tokenizer_->convertTokenToId("<|" + result.language + "|>")) << r.file;
    }
    for (const auto& [language, counts] : hits) {
        std::printf("%s: detected in %d of %d recordings\n", language.c_str(), counts.first, counts.second);
        EXPECT_GE(counts.first, counts.second - 1) << language;
    }
}

TEST_F(DecodingOnTestModel, AFirstTokenThresholdNoTryMeetsRunsTheWholeLadderAndReportsIt) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::info);
    const auto r = recordings().front();
    DecodingOptions options;
    options.language = r.language;
    options.withoutTimestamps = true;
    options.firstTokenLogProbThreshold = 1.0f;  // above every log probability
    TranscriptionTimings timings;
    const auto result =
        pipeline_->decodeWindow(samples(r), options, nullptr, std::make_shared<SeededRandomSource>(1), &timings);
    ASSERT_TRUE(result.fallback.has_value());
    EXPECT_EQ(*result.fallback, (DecodingFallback{true, "firstTokenLogProbThreshold"}));
    EXPECT_EQ(result.temperature, 1.0f);
    EXPECT_EQ(timings.totalDecodingFallbacks, 5.0);
    EXPECT_GT(timings.decodingFallback, 0.0);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(log.count("Fallback #" + std::to_string(i) + " (firstTokenLogProbThreshold)"), 1) << i;
    // The window stopped at its first sampled token: the prompt and the end token.
    EXPECT_EQ(result.tokens.size(), 5u);
    EXPECT_EQ(result.tokens.back(), tokenizer_->specialTokens().endToken);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 0.0);
}

TEST_F(DecodingOnTestModel, ALadderStopsAtTheFirstTryThatPasses) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::info);
    const auto r = recordings().back();
    DecodingOptions options;
    options.language = r.language;
    options.withoutTimestamps = true;
    options.logProbThreshold = 0.0f;  // no try passes on its average...
    options.temperatureFallbackCount = 2;
    TranscriptionTimings timings;
    const auto failing =
        pipeline_->decodeWindow(samples(r), options, nullptr, std::make_shared<SeededRandomSource>(3), &timings);
    EXPECT_EQ(failing.fallback->fallbackReason, "logProbThreshold");
    EXPECT_FLOAT_EQ(failing.temperature, 0.4f);
    EXPECT_EQ(timings.totalDecodingFallbacks, 2.0);

    options.logProbThreshold = -1000.0f;  // ...and every try passes here: one try, no fallback
    log.clear();
    TranscriptionTimings once;
    const auto passing = pipeline_->decodeWindow(samples(r), options, nullptr, nullptr, &once);
    EXPECT_FALSE(passing.fallback.has_value());
    EXPECT_EQ(passing.temperature, 0.0f);
    EXPECT_EQ(once.totalDecodingFallbacks, 0.0);
    EXPECT_EQ(log.count("Fallback #1 (logProbThreshold)"), 0);
}

}  // namespace
