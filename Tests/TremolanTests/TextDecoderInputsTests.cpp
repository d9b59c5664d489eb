// What the text decoder sets up around each prediction: its model's sizes, the decoder inputs and
// their prompt, the writes of cache columns and alignment rows, the filter list and the debug dump.

#include "ScriptedTextDecoder.hpp"
#include "SpeechTokenIds.hpp"

#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressBlankFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressTokensFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/TimestampRulesFilter.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace tremolan;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using velmora::test::messageOf;
using velmora::test::ScriptedTextDecoder;

using namespace velmora::test::tokens;

ScriptedTextDecoder scripted(int contextLength = 224) {
    return ScriptedTextDecoder([](int, int) { return velmora::test::favour(EOT); }, contextLength);
}

TEST(TextDecoder, ReadsItsSizesFromTheModel) {
    TextDecoder decoder;
    EXPECT_FALSE(decoder.logitsSize() || decoder.kvCacheEmbedDim() || decoder.kvCacheMaxSequenceLength() ||
                 decoder.windowSize() || decoder.embedSize());
    EXPECT_FALSE(decoder.supportsWordTimestamps());
    EXPECT_EQ(messageOf<WhisperError>([&] { decoder.prepareDecoderInputs({}); }),
              "Unable to determine kvCacheEmbedDim");
    EXPECT_FALSE(decoder.predictLogits(TextDecoderMLMultiArrayInputType{}).logits.has_value());

    decoder.loadModel(velmora::test::dataPath("models/test-speech/TextDecoder.mlmodelc"),
                      platform::ml::MLComputeUnits::cpuOnly);
    EXPECT_EQ(decoder.logitsSize(), 51865);
    EXPECT_EQ(decoder.kvCacheEmbedDim(), 256);
    EXPECT_EQ(decoder.kvCacheMaxSequenceLength(), 224);
    EXPECT_EQ(decoder.windowSize(), 1500);
    EXPECT_EQ(decoder.embedSize(), 128);
    EXPECT_TRUE(decoder.supportsWordTimestamps());

    const DecodingInputs inputs = decoder.prepareDecoderInputs({SOT});
    EXPECT_EQ(inputs.initialPrompt(), std::vector<int>{SOT});
    EXPECT_EQ(inputs.keyCache().shape(), (std::vector<std::int64_t>{1, 256, 1, 224}));
    EXPECT_EQ(inputs.keyCache().dataType(), MLMultiArrayDataType::float16);
    EXPECT_EQ(inputs.alignmentWeights().shape(), (std::vector<std::int64_t>{224, 1500}));
    EXPECT_EQ(inputs.kvCacheUpdateMask().dataType(), MLMultiArrayDataType::int32);
    EXPECT_EQ(inputs.cacheLength().value(0), 0.0);
    const auto update = inputs.kvCacheUpdateMask().toFloatVector();
    const auto padding = inputs.decoderKeyPaddingMask().toFloatVector();
    ASSERT_EQ(update.size(), 224u);
    EXPECT_EQ(update[0], 1.0f);
    EXPECT_EQ(std::count(update.begin(), update.end(), 0.0f), 223);
    EXPECT_EQ(padding[0], 0.0f);
    EXPECT_EQ(std::count(padding.begin(), padding.end(), -10000.0f), 223);

    decoder.unloadModel();
    EXPECT_FALSE(decoder.logitsSize().has_value());
}

TEST(TextDecoder, PrefillsThePromptTheOptionsAskFor) {
    auto decoder = scripted();
    auto withOptions = [&](const std::optional<DecodingOptions>& options) {
        return decoder.inputs(options).initialPrompt();
    };
    DecodingOptions options;
    EXPECT_EQ(withOptions(std::nullopt), std::vector<int>{SOT});
    EXPECT_EQ(withOptions(options), (std::vector<int>{SOT, EN, TRANSCRIBE, T}));
    options.language = "de";
    options.task = DecodingTask::translate;
    options.withoutTimestamps = true;
    EXPECT_EQ(withOptions(options), (std::vector<int>{SOT, DE, TRANSLATE, NO_TS}));
    options.language = "xx";  // no such token (the vocabulary's unknown id is not taken): the English one
    EXPECT_EQ(withOptions(options)[1], EN);

    decoder.setIsModelMultilingual(false);
    EXPECT_EQ(withOptions(options), (std::vector<int>{SOT, NO_TS}));
    options.withoutTimestamps = false;
    EXPECT_EQ(withOptions(options), (std::vector<int>{SOT, T}));
    decoder.setIsModelMultilingual(true);

    // Previous text: its last 111 tokens, special ones left out, before the start of transcript;
    // a prefix after the timestamp mode.
    options = DecodingOptions();
    std::vector<std::int64_t> previous;
    for (int i = 0; i < 150; ++i) previous.push_back(i == 140 ? EOT : 1000 + i);
    options.promptTokens = previous;
    options.prefixTokens = std::vector<std::int64_t>{7, T + 3, 8};
    const auto prompt = withOptions(options);
    std::vector<int> expected{PREVIOUS};
    for (int i = 39; i < 150; ++i)
        if (i != 140) expected.push_back(1000 + i);
    for (int t : {SOT, EN, TRANSCRIBE, T, 7, 8}) expected.push_back(t);
    EXPECT_EQ(prompt, expected);
    options.promptTokens = std::vector<std::int64_t>{};
    options.prefixTokens.reset();
    EXPECT_EQ(withOptions(options), (std::vector<int>{PREVIOUS, SOT, EN, TRANSCRIBE, T}));
}

TEST(TextDecoder, APromptTooLongToDecodeLosesItsOldestPreviousTextOrIsRefused) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::info);
    auto decoder = scripted();
    DecodingOptions options;
    options.promptTokens = std::vector<std::int64_t>(111, 500);
    options.promptTokens->back() = 501;
    options.prefixTokens = std::vector<std::int64_t>(112, 600);
    // 1 + 111 + 4 + 112 = 228 tokens; 222 leave one position to decode in.
    const auto prompt = decoder.inputs(options).initialPrompt();
    ASSERT_EQ(prompt.size(), 222u);
    EXPECT_EQ(prompt.front(), PREVIOUS);
    EXPECT_EQ(prompt[105], 501);  // the newest previous tokens stay
    EXPECT_EQ(prompt[106], SOT);
    EXPECT_EQ(log.count("Previous-text prompt trimmed to 105 tokens to leave room to decode"), 1);

    // A short sample length leaves room for the start-of-previous token only, then for none of it.
    options.sampleLength = 117;
    EXPECT_EQ(decoder.inputs(options).initialPrompt()[1], SOT);
    options.sampleLength = 116;
    EXPECT_EQ(decoder.inputs(options).initialPrompt().front(), SOT);
    // ...and none for a prompt longer than it.
    options.sampleLength = 100;
    EXPECT_EQ(messageOf<WhisperError>([&] { decoder.inputs(options); }),
              "The prompt of 116 tokens leaves no room to decode within 100 positions");
}

TEST(TextDecoder, PrefillRefusesWithoutTokenizerOrForeignInputs) {
    auto decoder = scripted();
    auto inputs = decoder.inputs(std::nullopt);
    decoder.setTokenizer(nullptr);
    EXPECT_EQ(messageOf<WhisperError>([&] { decoder.prefillDecoderInputs(inputs, std::nullopt); }),
              "Tokenizer is unavailable");
}

TEST(TextDecoder, WritesOneCacheColumnAndOneAlignmentRowPerStep) {
    MLMultiArray keys({1, 3, 1, 10}, MLMultiArrayDataType::float16),
        values({1, 3, 1, 10}, MLMultiArrayDataType::float16);
    MLMultiArray keySlice({1, 3, 1, 1}, MLMultiArrayDataType::float16),
        valueSlice({1, 3, 1, 1}, MLMultiArrayDataType::float16);
    for (int e = 0; e < 3; ++e) {
        keySlice.setValue(e, e + 1);
        valueSlice.setValue(e, -(e + 1));
    }
    TextDecoding::updateKVCache(keys, keySlice, values, valueSlice, 5);
    for (int e = 0; e < 3; ++e)
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(keys.value({0, e, 0, k}), k == 5 ? e + 1 : 0) << e << "," << k;
            EXPECT_EQ(values.value({0, e, 0, k}), k == 5 ? -(e + 1) : 0) << e << "," << k;
        }

    MLMultiArray alignment({10, 4}, MLMultiArrayDataType::float16), row({1, 4}, MLMultiArrayDataType::float16);
    for (int w = 0; w < 4; ++w) row.setValue(w, 0.25);
    TextDecoding::updateAlignmentWeights(alignment, row, 5);
    for (int r = 0; r < 10; ++r) EXPECT_EQ(alignment.value({r, 3}), r == 6 ? 0.25 : 0.0) << r;
}

TEST(TextDecoder, CacheAndAlignmentWritesThatDoNotFitAreRefusedUnwritten) {
    MLMultiArray keys({1, 3, 1, 10}, MLMultiArrayDataType::float16),
        values({1, 3, 1, 10}, MLMultiArrayDataType::float16);
    MLMultiArray slice({1, 3, 1, 1}, MLMultiArrayDataType::float16);
    slice.setValue(0, 9);
    auto refused = [](auto&& write) {
        return messageOf<WhisperError>(write).rfind("Cannot update the decoder cache: ", 0) == 0;
    };
    EXPECT_TRUE(refused([&] { TextDecoding::updateKVCache(keys, slice, values, slice, 10); }));
    EXPECT_TRUE(refused([&] { TextDecoding::updateKVCache(keys, slice, values, slice, -1); }));
    MLMultiArray wide({1, 4, 1, 1}, MLMultiArrayDataType::float16), flat({3, 10}, MLMultiArrayDataType::float16);
    MLMultiArray single({1, 3, 1, 1}, MLMultiArrayDataType::float32);
    EXPECT_TRUE(refused([&] { TextDecoding::updateKVCache(keys, wide, values, wide, 0); }));
    EXPECT_TRUE(refused([&] { TextDecoding::updateKVCache(flat, slice, values, slice, 0); }));
    EXPECT_TRUE(refused([&] { TextDecoding::updateKVCache(keys, single, values, single, 0); }));
    const auto written = keys.toFloatVector();
    EXPECT_EQ(std::count(written.begin(), written.end(), 0.0f), 30);

    MLMultiArray alignment({10, 4}, MLMultiArrayDataType::float16), row({1, 4}, MLMultiArrayDataType::float16);
    MLMultiArray longRow({1, 5}, MLMultiArrayDataType::float16);
    EXPECT_TRUE(refused([&] { TextDecoding::updateAlignmentWeights(alignment, row, 9); }));  // row 10 of 10
    EXPECT_TRUE(refused([&] { TextDecoding::updateAlignmentWeights(alignment, longRow, 0); }));
}

TEST(TextDecoder, BuildsTheFilterListTheOptionsAskFor) {
    auto decoder = scripted();
    const auto& tokenizer = *decoder.tokenizer();
    DecodingOptions options;
    auto filters = decoder.createLogitsFilters(options, 0, 4, tokenizer);
    ASSERT_EQ(filters.size(), 1u);
    const auto* rules = dynamic_cast<const TimestampRulesFilter*>(filters[0].get());
    ASSERT_NE(rules, nullptr);
    EXPECT_EQ(rules->sampleBegin(), 4);
    EXPECT_FALSE(rules->maxInitialTimestampIndex().has_value());

    options.maxInitialTimestamp = 1.0f;
    EXPECT_EQ(dynamic_cast<const TimestampRulesFilter&>(*decoder.createLogitsFilters(options, 0, 4, tokenizer)[0])
                  .maxInitialTimestampIndex(),
              50);
    options.maxInitialTimestamp = 0.019f;
    EXPECT_EQ(dynamic_cast<const TimestampRulesFilter&>(*decoder.createLogitsFilters(options, 0, 4, tokenizer)[0])
                  .maxInitialTimestampIndex(),
              0);

    options.withoutTimestamps = true;
    EXPECT_TRUE(decoder.createLogitsFilters(options, 0, 4, tokenizer).empty());

    const auto configured = std::make_shared<SuppressTokensFilter>(std::vector<int>{1});
    decoder.setLogitsFilters(TextDecoding::LogitsFilters{configured});
    options.suppressBlank = true;
    options.suppressTokens = {5, EOT, T + 2, 6};
    filters = decoder.createLogitsFilters(options, 2, 4, tokenizer);
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_EQ(filters[0], configured);
    EXPECT_EQ(dynamic_cast<const SuppressBlankFilter&>(*filters[1]).sampleBegin(), 2);
    EXPECT_EQ(dynamic_cast<const SuppressTokensFilter&>(*filters[2]).suppressTokens(), (std::vector<int>{5, 6}));
}

TEST(TextDecoder, DumpsTheFirstInputPositionsInTheCLocale) {
    auto decoder = scripted();
    auto inputs = decoder.inputs(std::nullopt);
    inputs.keyCache().setValue({0, 0, 0, 1}, 0.5);
    velmora::test::LogCapture log;
    decoder.debugCaches(inputs, 0, 0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 7u);  // header, counters, column titles, four rows
    EXPECT_EQ(lines[0], "--------------- DECODER INPUTS DEBUG ---------------");
    EXPECT_EQ(lines[1], "Cache Length:  0 Input Token:    0");
    EXPECT_EQ(lines[3], " 0.000000 |  0.000000 |  0.000000 |           1 |            0 | 0");
    EXPECT_EQ(lines[4], " 0.500000 |  0.000000 |  0.000000 |           0 |       -10000 | 1");
    log.clear();
    decoder.debugCaches(inputs, 0, 300);
    EXPECT_EQ(log.messages().size(), 3u + 224u);
}

TEST(TextDecoder, LanguageDetectionSamplesAmongLanguageTokensOnly) {
    // Text is far likelier; of the languages, German.
    auto scores = velmora::test::favour(100);
    scores[DE] = 5.0f;
    ScriptedTextDecoder decoder([scores](int, int) { return scores; });
    auto inputs = decoder.inputs(std::nullopt);
    GreedyTokenSampler sampler(0.0f, EOT, DecodingOptions());
    const auto result =
        decoder.detectLanguage(velmora::test::scriptedEncoderOutput(), inputs, sampler, DecodingOptions(), 0.0f);
    EXPECT_EQ(decoder.fed, (std::vector<std::pair<int, int>>{{SOT, 0}}));
    EXPECT_EQ(result.language, "de");
    ASSERT_EQ(result.languageProbs.size(), 1u);
    // Only the language tokens stay open: German at 5 against the others at 0.
    const double others = static_cast<double>(decoder.tokenizer()->allLanguageTokens().size()) - 1;
    EXPECT_NEAR(result.languageProbs.at("de"), 5.0 - std::log(std::exp(5.0) + others), 1e-3);
    EXPECT_TRUE(result.tokens.empty());
    EXPECT_EQ(result.text, "");
    EXPECT_FALSE(result.fallback.has_value());
    ASSERT_TRUE(result.timings.has_value());
    EXPECT_GT(result.timings->decodingPredictions, 0.0);
    EXPECT_EQ(inputs.cacheLength().value(0), 0.0);  // masks and caches as they were
    EXPECT_EQ(inputs.kvCacheUpdateMask().value(0), 1.0);
}

TEST(TextDecoder, ADetectedTokenThatIsNoKnownLanguageFallsBackToEnglish) {
    struct PicksText : TokenSampling {
        SamplingResult update(const std::vector<int>& tokens, const MLMultiArray&,
                              const std::vector<float>& logProbs) override {
            SamplingResult r{tokens, logProbs, false};
            r.tokens.push_back(100);
            r.logProbs.push_back(-1.0f);
            return r;
        }
        SamplingResult finalize(const std::vector<int>& t, const std::vector<float>& l) override {
            return {t, l, true};
        }
    } picksText;
    auto decoder = scripted();
    auto inputs = decoder.inputs(std::nullopt);
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    const auto result =
        decoder.detectLanguage(velmora::test::scriptedEncoderOutput(), inputs, picksText, DecodingOptions(), 0.0f);
    EXPECT_EQ(result.language, "en");
    EXPECT_TRUE(result.languageProbs.empty());
    const std::string text = decoder.tokenizer()->decode(std::vector<int>{100});
    EXPECT_EQ(log.count("Detected language " + text + " is not supported, defaulting to en"), 1);
}

TEST(TextDecoder, LanguageDetectionRefusesWhatItCannotRun) {
    TextDecoder decoder;
    auto scriptedDecoder = scripted();
    auto inputs = scriptedDecoder.inputs(std::nullopt);
    GreedyTokenSampler sampler(0.0f, EOT, DecodingOptions());
    const auto encoder = velmora::test::scriptedEncoderOutput();
    EXPECT_EQ(
        messageOf<WhisperError>([&] { decoder.detectLanguage(encoder, inputs, sampler, DecodingOptions(), 0.0f); }),
        "Tokenizer is unavailable");
    decoder.setTokenizer(scriptedDecoder.tokenizer());
    EXPECT_EQ(
        messageOf<WhisperError>([&] { decoder.detectLanguage(encoder, inputs, sampler, DecodingOptions(), 0.0f); }),
        "Failed to read logits size from model");
    EXPECT_EQ(
        messageOf<WhisperError>([&] { scriptedDecoder.detectLanguage({}, inputs, sampler, DecodingOptions(), 0.0f); }),
        "Input must be MLMultiArray");
}

}  // namespace
