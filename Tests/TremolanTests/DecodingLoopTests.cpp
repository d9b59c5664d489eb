// The decoding loop of one window, driven by a scripted decoder model: the forced prompt and its
// timestamp substitution, the stop tests and the keep rule, cache and mask writes, the progress
// callback and its stop, the assembled result.

#include "ScriptedTextDecoder.hpp"
#include "SpeechTokenIds.hpp"

#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

using namespace tremolan;
using velmora::test::favour;
using velmora::test::LogCapture;
using velmora::test::messageOf;
using velmora::test::scriptedEncoderOutput;
using velmora::test::ScriptedTextDecoder;

using namespace velmora::test::tokens;
const std::vector<int> kPlainPrompt{SOT, EN, TRANSCRIBE, NO_TS};

DecodingOptions plainOptions() {
    DecodingOptions options;
    options.language = "en";
    options.withoutTimestamps = true;
    return options;
}

/// Predicts the language and task after the first prompt tokens, then `words`, then the end token.
ScriptedTextDecoder::Script speaks(std::vector<int> words, int promptLength = 4) {
    return [words = std::move(words), promptLength](int position, int) {
        if (position < promptLength - 1) return favour(position == 0 ? EN : TRANSCRIBE);
        const auto at = static_cast<std::size_t>(position - (promptLength - 1));
        return favour(at < words.size() ? words[at] : EOT);
    };
}

/// The scores of each position in turn, then the end token.
ScriptedTextDecoder::Script answers(std::vector<std::vector<float>> steps) {
    return [steps = std::move(steps)](int position, int) {
        const auto at = static_cast<std::size_t>(position);
        return at < steps.size() ? steps[at] : favour(EOT);
    };
}

/// Scores of 0 but for the tokens given.
std::vector<float> scores(std::initializer_list<std::pair<int, float>> liked) {
    std::vector<float> s(51865, 0.0f);
    for (const auto& [token, score] : liked) s[static_cast<std::size_t>(token)] = score;
    return s;
}

ScriptedTextDecoder::Script never_ends() {
    return [](int, int) { return favour(100); };
}

DecodingResult decode(ScriptedTextDecoder& decoder, DecodingInputs& inputs, const DecodingOptions& options,
                      const TranscriptionCallback& callback = nullptr, float temperature = 0.0f) {
    GreedyTokenSampler sampler(temperature, EOT, options);
    return decoder.decodeText(scriptedEncoderOutput(), inputs, sampler, options, callback);
}

std::vector<double> column(const platform::ml::MLMultiArray& cache, int e, int count) {
    std::vector<double> values;
    for (int k = 0; k < count; ++k) values.push_back(cache.value({0, e, 0, k}));
    return values;
}

std::vector<double> mask(const platform::ml::MLMultiArray& m, int count) {
    std::vector<double> values;
    for (int k = 0; k < count; ++k) values.push_back(m.value({0, k}));
    return values;
}

TEST(DecodingLoop, ForcesThePromptThenKeepsTheSampledTokensAndWritesTheirCacheColumns) {
    ScriptedTextDecoder decoder(speaks({100, 101}));
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions());

    EXPECT_EQ(decoder.fed,
              (std::vector<std::pair<int, int>>{{SOT, 0}, {EN, 1}, {TRANSCRIBE, 2}, {NO_TS, 3}, {100, 4}, {101, 5}}));
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, 100, 101, EOT}));
    EXPECT_EQ(result.text, decoder.tokenizer()->decode(result.tokens));  // special tokens stay in the text
    ASSERT_EQ(result.tokenLogProbs.size(), 7u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(result.tokenLogProbs[i].at(result.tokens[i]), 0.0f) << i;
    EXPECT_LT(result.tokenLogProbs[4].at(100), 0.0f);
    EXPECT_EQ(result.tokenLogProbs[6].at(EOT), 0.0f);  // appended by finalize

    // Steps 0..4 wrote their columns (value position + 1); step 5 stopped on the end token.
    EXPECT_EQ(column(inputs.keyCache(), 3, 7), (std::vector<double>{1, 2, 3, 4, 5, 0, 0}));
    EXPECT_EQ(column(inputs.valueCache(), 0, 6), (std::vector<double>{-1, -2, -3, -4, -5, 0}));
    EXPECT_EQ(mask(inputs.decoderKeyPaddingMask(), 7), (std::vector<double>{0, 0, 0, 0, 0, 0, -10000}));
    EXPECT_EQ(mask(inputs.kvCacheUpdateMask(), 7), (std::vector<double>{0, 0, 0, 0, 0, 1, 0}));
    // Row k + 1 holds the weights of step k.
    for (int row = 0; row < 7; ++row) EXPECT_EQ(inputs.alignmentWeights().value({row, 2}), row <= 5 ? row : 0) << row;
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    EXPECT_EQ(result.cache->keyCache->storageIdentifier(), inputs.keyCache().storageIdentifier());

    const auto& t = *result.timings;
    EXPECT_EQ(t.totalDecodingLoops, 6);
    EXPECT_EQ(t.totalKVUpdateRuns, 5);
    EXPECT_LT(t.firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_EQ(t.pipelineStart, std::numeric_limits<double>::max());
    EXPECT_GE(t.decodingLoop, t.decodingPredictions);
    EXPECT_EQ(result.language, "en");
    EXPECT_LT(result.noSpeechProb, 1e-6f);  // the language token took the step after the start
    EXPECT_FALSE(result.fallback.has_value());
    EXPECT_NEAR(result.avgLogProb, (result.tokenLogProbs[4].at(100) + result.tokenLogProbs[5].at(101)) / 7, 1e-6);
}

TEST(DecodingLoop, APromptEndingInATimestampTakesTheTimestampTheModelChose) {
    LogCapture log;
    DecodingOptions options;
    options.language = "en";
    // The model answers <|0.40|> where the prompt holds <|0.00|>, then text closed by <|0.80|>.
    ScriptedTextDecoder decoder(answers({favour(EN), favour(TRANSCRIBE), favour(T + 20), favour(100), favour(T + 40)}));
    auto inputs = decoder.inputs(options);
    const auto result = decode(decoder, inputs, options);
    EXPECT_EQ(decoder.fed.at(3), (std::pair<int, int>{T + 20, 3}));
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, T + 20, 100, T + 40, EOT}));
    EXPECT_EQ(log.count("Skipping prompt tokenIndex: 3, token: 50384, text: <|0.40|>"), 1);

    // A text token there leaves the prompt's own timestamp in place.
    ScriptedTextDecoder plain(speaks({100}));
    auto plainInputs = plain.inputs(options);
    log.clear();
    const auto forced = decode(plain, plainInputs, options);
    EXPECT_EQ(plain.fed.at(3), (std::pair<int, int>{T, 3}));
    EXPECT_EQ(log.count("Forcing prompt tokenIndex: 3, token: 50364, text: <|0.00|>"), 1);
    EXPECT_EQ(forced.tokens[3], T);
}

TEST(DecodingLoop, TheTimestampTheModelChoseForThePromptOpensTheTimestampGrammar) {
    // The model opens at <|1.26|> in place of the prompt's <|0.00|>; then it would like a second
    // timestamp straight away, and after a word one before its first (<|1.20|>). Text must follow
    // the opening timestamp and the closing one may not go back before it: the next likeliest
    // tokens are taken instead.
    ScriptedTextDecoder decoder(answers({favour(EN), favour(TRANSCRIBE), favour(T + 63),
                                         scores({{T + 70, 15}, {100, 12}}), scores({{T + 60, 15}, {T + 80, 12}})}));
    DecodingOptions options;
    options.language = "en";
    auto inputs = decoder.inputs(options);
    const auto result = decode(decoder, inputs, options);
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, T + 63, 100, T + 80, EOT}));
}

TEST(DecodingLoop, AnUnlikelyFirstTokenStopsTheWindowAfterOneStep) {
    ScriptedTextDecoder decoder([](int, int) { return std::vector<float>(51865, 0.0f); });  // ln(1/V) ~ -10.9
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions());
    EXPECT_EQ(decoder.fed.size(), 1u);
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, EOT}));
    EXPECT_EQ(result.fallback, (DecodingFallback{true, "firstTokenLogProbThreshold"}));
    EXPECT_EQ(result.timings->totalDecodingLoops, 1);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 0);
    EXPECT_EQ(result.timings->firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_EQ(mask(inputs.kvCacheUpdateMask(), 2), (std::vector<double>{1, 0}));  // nothing written
    EXPECT_EQ(inputs.keyCache().value({0, 0, 0, 0}), 0.0);

    // Without the threshold the same logits decode on.
    auto options = plainOptions();
    options.firstTokenLogProbThreshold.reset();
    ScriptedTextDecoder again([](int position, int) {
        return position == 0 ? std::vector<float>(51865, 0.0f) : favour(position < 5 ? 100 : EOT);
    });
    auto againInputs = again.inputs(options);
    EXPECT_EQ(decode(again, againInputs, options).tokens.size(), 7u);
}

TEST(DecodingLoop, TheEndTokenAtAForcedPromptPositionEndsTheWindow) {
    ScriptedTextDecoder decoder([](int position, int) { return favour(position == 1 ? EOT : EN); });
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions());
    EXPECT_EQ(decoder.fed.size(), 2u);
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, EOT}));
}

TEST(DecodingLoop, TheLoopStaysWithinTheTokenBoundTheSampleLengthAndTheMasks) {
    struct Case {
        int sampleLength, contextLength;
        std::size_t steps, tokens;
    };
    // 223 tokens at most (steps 0..222, the last one stopping); the sample length counts prompt
    // positions; a sample length past the context, or a shorter context, never takes the loop past
    // the last mask position.
    for (const Case c :
         {Case{224, 224, 223, 224}, Case{10, 224, 10, 12}, Case{300, 224, 223, 224}, Case{224, 20, 19, 21}}) {
        auto options = plainOptions();
        options.sampleLength = c.sampleLength;
        ScriptedTextDecoder decoder(never_ends(), c.contextLength);
        auto inputs = decoder.inputs(options);
        const auto result = decode(decoder, inputs, options);
        EXPECT_EQ(decoder.fed.size(), c.steps) << c.sampleLength << "/" << c.contextLength;
        EXPECT_EQ(result.tokens.size(), c.tokens) << c.sampleLength << "/" << c.contextLength;
        EXPECT_EQ(result.tokens.back(), EOT);
        const auto update = mask(inputs.kvCacheUpdateMask(), c.contextLength);
        EXPECT_EQ(std::count(update.begin(), update.end(), 1.0), 1) << c.sampleLength << "/" << c.contextLength;
        // The next window starts clean: one open position, one update position.
        inputs.reset(static_cast<int>(options.sampleLength));
        EXPECT_EQ(mask(inputs.kvCacheUpdateMask(), 2), (std::vector<double>{1, 0}));
        const auto padding = mask(inputs.decoderKeyPaddingMask(), c.contextLength);
        EXPECT_EQ(std::count(padding.begin(), padding.end(), 0.0), 1);
    }
}

TEST(DecodingLoop, APromptThatLeavesNoRoomToDecodeIsRefusedInsteadOfDecodingNothing) {
    ScriptedTextDecoder decoder(speaks({100}));
    auto inputs = decoder.inputs(plainOptions());
    inputs.setInitialPrompt(std::vector<int>(223, 100));
    EXPECT_EQ(messageOf<WhisperError>([&] { decode(decoder, inputs, plainOptions()); }),
              "The prompt of 223 tokens leaves no room to decode within 223 positions");
    inputs.setInitialPrompt(kPlainPrompt);
    auto tiny = plainOptions();
    tiny.sampleLength = 3;
    EXPECT_EQ(messageOf<WhisperError>([&] { decode(decoder, inputs, tiny); }),
              "The prompt of 4 tokens leaves no room to decode within 3 positions");
    EXPECT_TRUE(decoder.fed.empty());
}

TEST(DecodingLoop, ACacheAlreadyAtTheLoopsEndRunsNoStep) {
    ScriptedTextDecoder decoder(speaks({100}));
    auto options = plainOptions();
    options.sampleLength = 10;
    auto inputs = decoder.inputs(options);
    inputs.cacheLength().setValue(0, 10);
    EXPECT_EQ(decode(decoder, inputs, options).tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, EOT}));
    EXPECT_TRUE(decoder.fed.empty());
    inputs.cacheLength().setValue(0, 11);
    EXPECT_EQ(messageOf<WhisperError>([&] { decode(decoder, inputs, options); }),
              "The cache length 11 lies outside the 10 positions this decoding may use");
}

TEST(DecodingLoop, TheCallbackReceivesEveryKeptStepInOrderOffTheDecodingThread) {
    ScriptedTextDecoder decoder(speaks({100, 101}));
    auto options = plainOptions();
    options.skipSpecialTokens = true;
    auto inputs = decoder.inputs(options);
    std::mutex mutex;
    std::vector<TranscriptionProgress> records;
    std::atomic<bool> offThread{true};
    const auto caller = std::this_thread::get_id();
    const auto result = decode(decoder, inputs, options, [&](const TranscriptionProgress& p) {
        if (std::this_thread::get_id() == caller) offThread = false;
        std::lock_guard lock(mutex);
        records.push_back(p);
        return std::optional<bool>();
    });
    ASSERT_EQ(records.size(), 5u);  // steps 0..4; the stopping step reports nothing
    EXPECT_TRUE(offThread);
    EXPECT_EQ(records[0].tokens, kPlainPrompt);
    EXPECT_EQ(records[0].text, "");  // special tokens skipped in progress texts only
    EXPECT_EQ(records[4].tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, 100, 101}));
    EXPECT_EQ(records[4].text, decoder.tokenizer()->decode(std::vector<int>{100, 101}));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].timings.totalKVUpdateRuns, static_cast<double>(i + 1));
        EXPECT_EQ(records[i].timings.totalDecodingLoops, static_cast<double>(i));
        EXPECT_EQ(records[i].windowId, 0);
        EXPECT_FALSE(records[i].temperature.has_value());
        ASSERT_TRUE(records[i].avgLogprob && records[i].compressionRatio);
    }
    EXPECT_NE(result.text.find("<|startoftranscript|>"), std::string::npos);
}

TEST(DecodingLoop, OnlyAFalseAnswerAtADecodingPositionStopsTheWindow) {
    // false at forced prompt positions, and no answer at all, change nothing.
    for (const auto& answer :
         {std::function<std::optional<bool>(std::size_t)>(
              [](std::size_t tokens) { return tokens <= 4 ? std::optional<bool>(false) : std::nullopt; }),
          std::function<std::optional<bool>(std::size_t)>([](std::size_t) { return std::nullopt; }),
          std::function<std::optional<bool>(std::size_t)>([](std::size_t) { return true; })}) {
        ScriptedTextDecoder decoder(speaks({100, 101, 102}));
        auto inputs = decoder.inputs(plainOptions());
        decoder.delay = std::chrono::milliseconds(2);
        const auto result = decode(decoder, inputs, plainOptions(),
                                   [&](const TranscriptionProgress& p) { return answer(p.tokens.size()); });
        EXPECT_EQ(result.tokens.size(), 8u);
    }
    // A false answer once decoding runs stops a window that would otherwise run to the bound; the
    // tokens of the steps up to the stop stay.
    LogCapture log;
    ScriptedTextDecoder decoder(never_ends());
    decoder.delay = std::chrono::milliseconds(1);
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions(), [](const TranscriptionProgress& p) {
        return p.tokens.size() >= 6 ? std::optional<bool>(false) : std::nullopt;
    });
    EXPECT_GE(result.tokens.size(), 7u);
    EXPECT_LT(result.tokens.size(), 100u);
    EXPECT_EQ(result.tokens.back(), EOT);
    EXPECT_GE(log.count("Early stopping"), 1);
    EXPECT_EQ(log.count("Early stop flag not found for window: "), 0);
}

TEST(DecodingLoop, ACallbackThatThrowsIsLoggedAndDecodingGoesOn) {
    LogCapture log(korbit::Logging::LogLevel::error);
    ScriptedTextDecoder decoder(speaks({100}));
    auto inputs = decoder.inputs(plainOptions());
    const auto result =
        decode(decoder, inputs, plainOptions(),
               [](const TranscriptionProgress&) -> std::optional<bool> { throw std::runtime_error("callback broke"); });
    EXPECT_EQ(result.tokens.size(), 6u);
    EXPECT_EQ(log.count("Progress callback failed: callback broke"), 4);
}

TEST(DecodingLoop, LogitsWithoutAFiniteScoreEndTheWindowWithAnErrorInsteadOfNaN) {
    LogCapture log(korbit::Logging::LogLevel::error);
    const float inf = std::numeric_limits<float>::infinity();
    ScriptedTextDecoder decoder([&](int position, int) {
        if (position == 4) return std::vector<float>(51865, -inf);
        if (position == 5) return std::vector<float>(51865, std::nanf(""));
        return favour(position < 3 ? EN : 100);
    });
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions());
    EXPECT_EQ(result.tokens, (std::vector<int>{SOT, EN, TRANSCRIBE, NO_TS, 100, EOT}));
    EXPECT_TRUE(std::isfinite(result.avgLogProb));
    EXPECT_EQ(log.count("Sampling error: the logits hold no finite score; ending the window"), 1);
    Json json = result;
    EXPECT_EQ(json["tokens"].size(), 6u);
}

TEST(DecodingLoop, TheLanguageComesFromTheOptionsThenFromTheSpan) {
    ScriptedTextDecoder decoder(speaks({100}));
    auto options = plainOptions();
    options.language = "de";
    auto inputs = decoder.inputs(options);
    auto result = decode(decoder, inputs, options);
    EXPECT_EQ(result.tokens[1], DE);
    EXPECT_EQ(result.language, "de");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"de", 0.0f}}));

    inputs.reset(224);
    options.language = "fr";  // wins whatever the tokens say
    result = decode(decoder, inputs, options);
    EXPECT_EQ(result.language, "fr");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"fr", 0.0f}}));

    // A vocabulary without language tokens in the prompt (English-only model): "en".
    ScriptedTextDecoder english(speaks({100}, 2));
    english.setIsModelMultilingual(false);
    auto englishOptions = plainOptions();
    englishOptions.language.reset();
    auto englishInputs = english.inputs(englishOptions);
    EXPECT_EQ(englishInputs.initialPrompt(), (std::vector<int>{SOT, NO_TS}));
    result = decode(english, englishInputs, englishOptions);
    EXPECT_EQ(result.language, "en");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"en", 0.0f}}));
}

TEST(DecodingLoop, TheResultMeasuresTheSpanAndGivesTheVerdict) {
    // Previous text before the start of transcript is left out of the span.
    auto options = plainOptions();
    options.promptTokens = std::vector<std::int64_t>{300, 301};
    ScriptedTextDecoder decoder(speaks(std::vector<int>(40, 100), 7));
    auto inputs = decoder.inputs(options);
    EXPECT_EQ(inputs.initialPrompt(), (std::vector<int>{50361, 300, 301, SOT, EN, TRANSCRIBE, NO_TS}));
    const auto result = decode(decoder, inputs, options, nullptr, 0.599609375f);
    ASSERT_EQ(result.tokens.front(), SOT);
    EXPECT_EQ(result.tokens.size(), 4u + 40u + 1u);
    EXPECT_EQ(result.temperature, 0.6f);       // the sampler's half-precision temperature to 3 places
    EXPECT_GT(result.compressionRatio, 2.4f);  // forty times the same token
    EXPECT_EQ(result.fallback, (DecodingFallback{true, "compressionRatioThreshold"}));
    EXPECT_EQ(result.tokenLogProbs.size(), result.tokens.size());
}

/// Scores where the no-speech token has probability `p` at the step fed the start of transcript (its
/// language choice otherwise), then the end token.
ScriptedTextDecoder::Script silentWindow(float p) {
    return [p](int, int token) {
        if (token != SOT) return favour(token == EN ? TRANSCRIBE : token == TRANSCRIBE ? EOT : SOT);
        // Two finite scores: no-speech against the language token; every other score -inf.
        std::vector<float> scores(51865, -std::numeric_limits<float>::infinity());
        scores[NO_SPEECH] = std::log(p);
        scores[EN] = std::log(1.0f - p);
        return scores;
    };
}

TEST(DecodingLoop, TheNoSpeechProbabilityIsMeasuredAtTheStepFedTheStartOfTranscript) {
    struct Case {
        std::optional<std::vector<std::int64_t>> previousText;  // moves the start of transcript on
        std::vector<std::int64_t> suppressed;                   // filters run after the measure
    };
    for (const Case& c : {Case{std::nullopt, {}}, Case{std::vector<std::int64_t>{300, 301}, {NO_SPEECH}}}) {
        auto options = plainOptions();
        options.promptTokens = c.previousText;
        options.suppressTokens = c.suppressed;
        options.firstTokenLogProbThreshold.reset();
        ScriptedTextDecoder decoder(silentWindow(0.8f));
        auto inputs = decoder.inputs(options);
        const auto result = decode(decoder, inputs, options);
        EXPECT_NEAR(result.noSpeechProb, 0.8f, 1e-3f);
        // Silence is accepted as it is: no retry for its quality.
        EXPECT_EQ(result.fallback, (DecodingFallback{false, "silence"}));
    }

    // A window whose start of transcript lies in the prefilled cache cannot measure it.
    auto options = plainOptions();
    options.firstTokenLogProbThreshold.reset();
    ScriptedTextDecoder decoder(silentWindow(0.8f));
    auto inputs = decoder.inputs(options);
    inputs.cacheLength().setValue(0, 1);
    EXPECT_EQ(decode(decoder, inputs, options).noSpeechProb, 0.0f);
}

TEST(DecodingLoop, AModelWithoutAlignmentOutputGivesNoAlignmentWeights) {
    ScriptedTextDecoder decoder(speaks({100}), 224, false);
    auto inputs = decoder.inputs(plainOptions());
    const auto result = decode(decoder, inputs, plainOptions());
    ASSERT_TRUE(result.cache.has_value());
    EXPECT_FALSE(result.cache->alignmentWeights.has_value());
}

TEST(DecodingLoop, RefusesWhatItCannotDecode) {
    ScriptedTextDecoder decoder(speaks({100}));
    auto inputs = decoder.inputs(plainOptions());
    GreedyTokenSampler sampler(0.0f, EOT, plainOptions());

    struct OtherInputs : DecodingInputsType {
        std::vector<int> prompt;
        const std::vector<int>& initialPrompt() const override { return prompt; }
        void setInitialPrompt(std::vector<int> p) override { prompt = std::move(p); }
        platform::ml::MLMultiArray inputIds() const override { return {}; }
        void setInputIds(platform::ml::MLMultiArray) override {}
        platform::ml::MLMultiArray cacheLength() const override { return {}; }
        void setCacheLength(platform::ml::MLMultiArray) override {}
        void reset(int) override {}
    } other;
    EXPECT_EQ(
        messageOf<WhisperError>([&] { decoder.decodeText(scriptedEncoderOutput(), other, sampler, plainOptions()); }),
        "DecodingInputsType must be DecodingInputs");
    EXPECT_EQ(messageOf<WhisperError>([&] { decoder.decodeText({}, inputs, sampler, plainOptions()); }),
              "Input must be MLMultiArray");
    auto bad = plainOptions();
    bad.sampleLength = 0;
    EXPECT_EQ(messageOf<WhisperError>([&] { decoder.decodeText(scriptedEncoderOutput(), inputs, sampler, bad); }),
              "Invalid decoding options: sampleLength must be at least 1, not 0");

    TextDecoder withoutModel;
    EXPECT_EQ(messageOf<WhisperError>(
                  [&] { withoutModel.decodeText(scriptedEncoderOutput(), inputs, sampler, plainOptions()); }),
              "Tokenizer is unavailable");
    withoutModel.setTokenizer(decoder.tokenizer());
    LogCapture log(korbit::Logging::LogLevel::error);
    EXPECT_EQ(messageOf<WhisperError>(
                  [&] { withoutModel.decodeText(scriptedEncoderOutput(), inputs, sampler, plainOptions()); }),
              "Unable to decode logits");
    EXPECT_EQ(log.count("Unable to decode logits"), 1);
}

}  // namespace
