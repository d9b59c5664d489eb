// Decoding with temperature fallback over a decoder whose results are scripted per try: the
// half-precision ladder, the verdicts, resets, language detection on every try, folded timings.

#include "ScriptedTextDecoder.hpp"

#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Core/Decoding/TemperatureFallbackDecoder.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

namespace {

using namespace tremolan;
using platform::ml::Float16;
using velmora::test::LogCapture;
using velmora::test::messageOf;

/// Inputs that count their resets.
class CountingInputs : public DecodingInputs {
public:
    explicit CountingInputs(const DecodingInputs& inputs) : DecodingInputs(inputs) {}
    void reset(int maxTokenContext) override {
        ++resets;
        DecodingInputs::reset(maxTokenContext);
    }
    int resets = 0;
};

/// A decoder whose every try answers the next scripted result, and which records what it was asked.
class ScriptedTries : public velmora::test::ScriptedTextDecoder {
public:
    ScriptedTries() : ScriptedTextDecoder([](int, int) { return velmora::test::favour(50257); }) {}

    DecodingResult decodeText(const platform::ml::MLMultiArray&, DecodingInputsType&, TokenSampling& sampler,
                              const DecodingOptions& options, const TranscriptionCallback&, std::stop_token) override {
        temperatures.push_back(dynamic_cast<GreedyTokenSampler&>(sampler).temperature());
        languages.push_back(options.language);
        if (failDecoding) throw WhisperError::decodingFailed("the model broke");
        return results.at(std::min(temperatures.size(), results.size()) - 1);
    }
    DecodingResult detectLanguage(const platform::ml::MLMultiArray&, DecodingInputsType&, TokenSampling&,
                                  const DecodingOptions&, Float16, std::stop_token) override {
        ++detections;
        if (!detected) throw WhisperError::decodingFailed("no language");
        DecodingResult result;
        result.language = *detected;
        result.timings = TranscriptionTimings();
        result.timings->decodingPredictions = 0.5;
        result.timings->decodingSampling = 0.25;
        return result;
    }
    DecodingInputsType& prefillDecoderInputs(DecodingInputsType& inputs,
                                             const std::optional<DecodingOptions>& options) override {
        prefilledLanguages.push_back(options ? options->language : std::nullopt);
        return TextDecoding::prefillDecoderInputs(inputs, options);
    }

    std::vector<DecodingResult> results;
    std::optional<std::string> detected;
    bool failDecoding = false;
    std::vector<Float16> temperatures;
    std::vector<std::optional<std::string>> languages;
    std::vector<std::optional<std::string>> prefilledLanguages;
    int detections = 0;
};

DecodingResult tryResult(std::optional<DecodingFallback> fallback, std::string language = "en",
                         double firstTokenTime = 100.0) {
    DecodingResult result;
    result.language = std::move(language);
    result.fallback = std::move(fallback);
    result.timings = TranscriptionTimings();
    result.timings->firstTokenTime = firstTokenTime;
    result.timings->decodingPredictions = 1.0;
    result.timings->totalDecodingLoops = 10;
    result.timings->totalKVUpdateRuns = 9;
    return result;
}

const DecodingFallback kRetry{true, "compressionRatioThreshold"};

struct WindowRun {
    ScriptedTries decoder;
    CountingInputs inputs{decoder.inputs(std::nullopt)};
    std::optional<std::string> detectedLanguage;
    TranscriptionTimings timings;

    WindowRun() { decoder.prefilledLanguages.clear(); }  // the run's own prefill is not a try's

    DecodingResult decode(const DecodingOptions& options) {
        TemperatureFallbackDecoder fallback(decoder, decoder.tokenizer());
        return fallback.decodeWithFallback(velmora::test::scriptedEncoderOutput(), options, inputs, detectedLanguage,
                                           timings);
    }
};

TEST(TemperatureFallback, TheLadderIsComputedInHalfPrecision) {
    const auto ladder = TemperatureFallbackDecoder::temperatureLadder(DecodingOptions());
    std::vector<float> values(ladder.begin(), ladder.end());
    EXPECT_EQ(values, (std::vector<float>{0.0f, 0.199951171875f, 0.39990234375f, 0.599609375f, 0.7998046875f, 1.0f}));
    EXPECT_EQ(TemperatureFallbackDecoder::ladderText(ladder), "[0.0, 0.2, 0.4, 0.5996, 0.8, 1.0]");
    EXPECT_EQ(TemperatureFallbackDecoder::temperatureText(Float16(1.5f)), "1.5");
    EXPECT_EQ(TemperatureFallbackDecoder::temperatureText(Float16(2.0f)), "2.0");
    DecodingOptions options;
    options.temperature = 0.5f;
    options.temperatureIncrementOnFallback = 0.25f;
    options.temperatureFallbackCount = 2;
    EXPECT_EQ(TemperatureFallbackDecoder::ladderText(TemperatureFallbackDecoder::temperatureLadder(options)),
              "[0.5, 0.75, 1.0]");
}

TEST(TemperatureFallback, RetriesUntilATryPassesAndResetsTheInputsAfterEachRetry) {
    LogCapture log;
    WindowRun run;
    run.decoder.results = {tryResult(kRetry), tryResult(kRetry), tryResult(std::nullopt, "en", 50.0)};
    const auto result = run.decode(DecodingOptions());
    EXPECT_FALSE(result.fallback.has_value());
    EXPECT_EQ(run.decoder.temperatures, (std::vector<Float16>{0.0f, 0.199951171875f, 0.39990234375f}));
    EXPECT_EQ(run.inputs.resets, 2);
    EXPECT_EQ(run.timings.totalDecodingFallbacks, 1.0);
    EXPECT_GT(run.timings.decodingFallback, 0.0);
    EXPECT_EQ(run.timings.firstTokenTime, 50.0);
    EXPECT_EQ(run.timings.decodingPredictions, 3.0);
    EXPECT_EQ(run.timings.totalDecodingLoops, 30.0);
    EXPECT_EQ(run.timings.totalKVUpdateRuns, 27.0);
    EXPECT_EQ(log.count("Decoding with temperatures [0.0, 0.2, 0.4, 0.5996, 0.8, 1.0]"), 1);
    EXPECT_EQ(log.count("Decoding Temperature: 0.4"), 1);
    EXPECT_EQ(log.count("Fallback #1 (compressionRatioThreshold)"), 1);
    EXPECT_EQ(log.count("Fallback #2 (compressionRatioThreshold)"), 1);
    EXPECT_EQ(log.count("Fallback #3 (compressionRatioThreshold)"), 0);
    EXPECT_EQ(run.detectedLanguage, "en");
}

TEST(TemperatureFallback, WhenEveryTryAsksForFallbackTheLastResultComesBackWithItsVerdict) {
    LogCapture log(korbit::Logging::LogLevel::info);
    WindowRun run;
    run.decoder.results = {tryResult(DecodingFallback{true, "logProbThreshold"})};
    const auto result = run.decode(DecodingOptions());
    EXPECT_EQ(result.fallback, (DecodingFallback{true, "logProbThreshold"}));
    EXPECT_EQ(run.decoder.temperatures.size(), 6u);
    EXPECT_EQ(static_cast<float>(run.decoder.temperatures.back()), 1.0f);
    EXPECT_EQ(run.inputs.resets, 6);
    EXPECT_EQ(run.timings.totalDecodingFallbacks, 5.0);
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(log.count("Fallback #" + std::to_string(i) + " (logProbThreshold)"), 1);
}

TEST(TemperatureFallback, ASilenceVerdictOrNoVerdictIsAcceptedAtOnce) {
    for (const auto& verdict :
         {std::optional<DecodingFallback>(DecodingFallback{false, "silence"}), std::optional<DecodingFallback>()}) {
        WindowRun run;
        run.decoder.results = {tryResult(verdict), tryResult(std::nullopt)};
        EXPECT_EQ(run.decode(DecodingOptions()).fallback, verdict);
        EXPECT_EQ(run.decoder.temperatures.size(), 1u);
        EXPECT_EQ(run.inputs.resets, 0);
        EXPECT_EQ(run.timings.decodingFallback, 0.0);
        EXPECT_EQ(run.timings.totalDecodingFallbacks, 0.0);
    }
    // With no fallback allowed, one try whatever its verdict.
    WindowRun run;
    run.decoder.results = {tryResult(kRetry)};
    DecodingOptions options;
    options.temperatureFallbackCount = 0;
    EXPECT_EQ(run.decode(options).fallback, kRetry);
    EXPECT_EQ(run.decoder.temperatures.size(), 1u);
}

TEST(TemperatureFallback, DetectsTheLanguageBeforeEveryTryAndPrefillsIt) {
    WindowRun run;
    run.decoder.results = {tryResult(kRetry, "de"), tryResult(std::nullopt, "de")};
    run.decoder.detected = "de";
    DecodingOptions options;
    options.detectLanguage = true;
    run.decode(options);
    EXPECT_EQ(run.decoder.detections, 2);
    EXPECT_EQ(run.decoder.prefilledLanguages, (std::vector<std::optional<std::string>>{"de", "de"}));
    EXPECT_EQ(run.decoder.languages, (std::vector<std::optional<std::string>>{"de", "de"}));
    EXPECT_EQ(run.inputs.initialPrompt()[1], 50261);  // <|de|>
    EXPECT_EQ(run.detectedLanguage, "de");
    EXPECT_EQ(run.timings.decodingPredictions, 2 * 0.5 + 2 * 1.0);
    EXPECT_EQ(run.timings.decodingSampling, 2 * 0.25);

    // Without the prefill prompt the detected language only reaches the options.
    WindowRun plain;
    plain.decoder.results = {tryResult(std::nullopt, "de")};
    plain.decoder.detected = "de";
    options.usePrefillPrompt = false;
    plain.decode(options);
    EXPECT_TRUE(plain.decoder.prefilledLanguages.empty());
    EXPECT_EQ(plain.decoder.languages, (std::vector<std::optional<std::string>>{"de"}));
}

TEST(TemperatureFallback, AFailedDetectionDecodesWithoutALanguage) {
    WindowRun run;
    run.decoder.results = {tryResult(std::nullopt, "ru")};
    DecodingOptions options;
    options.detectLanguage = true;
    run.decode(options);
    EXPECT_EQ(run.decoder.detections, 1);
    EXPECT_EQ(run.decoder.languages, (std::vector<std::optional<std::string>>{std::nullopt}));
    EXPECT_EQ(run.detectedLanguage, "ru");  // from the decoded result
}

TEST(TemperatureFallback, NoDetectionWhereTheOptionsNameTheLanguageOrTheModelIsEnglishOnly) {
    WindowRun named;
    named.decoder.results = {tryResult(std::nullopt, "fr")};
    named.detectedLanguage = "it";  // kept across windows
    DecodingOptions options;
    options.detectLanguage = true;
    options.language = "fr";
    named.decode(options);
    EXPECT_EQ(named.decoder.detections, 0);
    EXPECT_EQ(named.detectedLanguage, "it");

    WindowRun english;
    english.decoder.setIsModelMultilingual(false);
    english.decoder.results = {tryResult(std::nullopt)};
    options.language.reset();
    english.decode(options);
    EXPECT_EQ(english.decoder.detections, 0);
}

TEST(TemperatureFallback, ErrorsEndTheLadder) {
    WindowRun run;
    run.decoder.failDecoding = true;
    EXPECT_EQ(messageOf<WhisperError>([&] { run.decode(DecodingOptions()); }), "the model broke");
    EXPECT_EQ(run.decoder.temperatures.size(), 1u);

    DecodingOptions options;
    options.temperatureFallbackCount = -1;
    EXPECT_EQ(messageOf<WhisperError>([&] { run.decode(options); }),
              "Invalid decoding options: temperatureFallbackCount must lie between 0 and 100, not -1");
}

}  // namespace
