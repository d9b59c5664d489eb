#include "Tremolan/Core/Decoding/TextDecoder.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Tremolan/Core/Decoding/DecodingLoop.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressBlankFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressTokensFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/TimestampRulesFilter.hpp"
#include "Tremolan/Core/Decoding/TextDecoderInputView.hpp"
#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/MultiArrayAccess.hpp"
#include "Tremolan/Utilities/StringExtensions.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <charconv>
#include <chrono>
#include <cmath>

namespace tremolan {

using korbit::Logging;
using korbit::ModelUtilities;
using platform::ml::MLMultiArray;

namespace {

/// printf's "%<width>.<precision>f" in the "C" locale.
std::string fixed(double value, int width, int precision) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision).ptr;
    std::string text(buffer, end);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

}  // namespace

bool TextDecoder::supportsWordTimestamps() const {
    return ModelUtilities::getModelOutputDimension(model().get(), "alignment_heads_weights", 0).has_value();
}

std::optional<int> TextDecoder::logitsSize() const {
    return ModelUtilities::getModelOutputDimension(model().get(), "logits", 2);
}

std::optional<int> TextDecoder::kvCacheEmbedDim() const {
    return ModelUtilities::getModelInputDimension(model().get(), "key_cache", 1);
}

std::optional<int> TextDecoder::kvCacheMaxSequenceLength() const {
    return ModelUtilities::getModelInputDimension(model().get(), "key_cache", 3);
}

std::optional<int> TextDecoder::windowSize() const {
    return ModelUtilities::getModelInputDimension(model().get(), "encoder_output_embeds", 3);
}

std::optional<int> TextDecoder::embedSize() const {
    return ModelUtilities::getModelInputDimension(model().get(), "encoder_output_embeds", 1);
}

void TextDecoder::unloadModel() {
    setModel(nullptr);
    std::lock_guard lock(languageFilterMutex_);
    languageLogitsFilter_.reset();
}

void TextDecoder::debugCaches(const DecodingInputs& decoderInputs, int /*tokenIndex*/, int prefillSize) const {
    if (!Logging::isLoggingEnabled(Logging::LogLevel::debug)) return;
    Logging::debug("--------------- DECODER INPUTS DEBUG ---------------");
    Logging::debug({"Cache Length: ", fixed(readFlat(decoderInputs.cacheLength(), 0), 2, 0),
                    " Input Token: ", fixed(readFlat(decoderInputs.inputIds(), 0), 4, 0)},
                   "");
    Logging::debug("Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
    const int rows = std::min(prefillSize + 4, Constants::maxTokenContext);
    for (int i = 0; i < rows; ++i) {
        // The alignment column uses the standard window of 1500 frames as its row length.
        Logging::debug({fixed(readFlat(decoderInputs.keyCache(), i), 9, 6), " | ",
                        fixed(readFlat(decoderInputs.valueCache(), i), 9, 6), " | ",
                        fixed(readFlat(decoderInputs.alignmentWeights(), std::int64_t{i} * 1500), 9, 6), " | ",
                        fixed(readFlat(decoderInputs.kvCacheUpdateMask(), i), 11, 0), " | ",
                        fixed(readFlat(decoderInputs.decoderKeyPaddingMask(), i), 12, 0), " | ", i},
                       "");
    }
}

TextDecoderMLMultiArrayOutputType TextDecoder::predictLogits(const TextDecoderMLMultiArrayInputType& inputs,
                                                             std::stop_token stop) {
    const auto decoderModel = model();
    if (!decoderModel) return {};
    korbit::checkCancellation(stop);
    // The model reads the caller's arrays where they lie and its outputs are taken as it made them:
    // no array handle is copied on the way.
    auto outputs = decoderModel->predict(TextDecoderInputView(inputs));
    MLMultiArray logits = requiredOutput(outputs, "logits");
    DecodingCache cache{requiredOutput(outputs, "key_cache_updates"), requiredOutput(outputs, "value_cache_updates"),
                        std::nullopt};
    if (const auto weights = outputs.find("alignment_heads_weights"); weights != outputs.end())
        cache.alignmentWeights = std::move(weights->second);
    return {std::move(logits), std::move(cache)};
}

std::optional<std::pair<MLMultiArray, DecodingCache>> TextDecoder::predictLogits(
    const MLMultiArray& inputIds, const MLMultiArray& cacheLength, const MLMultiArray& keyCache,
    const MLMultiArray& valueCache, const MLMultiArray& kvCacheUpdateMask, const MLMultiArray& encoderOutputEmbeds,
    const MLMultiArray& decoderKeyPaddingMask, std::stop_token stop) {
    auto output =
        predictLogits(TextDecoderMLMultiArrayInputType{inputIds, cacheLength, keyCache, valueCache, kvCacheUpdateMask,
                                                       encoderOutputEmbeds, decoderKeyPaddingMask},
                      stop);
    if (!output.logits || !output.cache) return std::nullopt;
    return std::make_pair(*output.logits, *output.cache);
}

TextDecoding::LogitsFilters TextDecoder::createLogitsFilters(const DecodingOptions& options, int prefilledIndex,
                                                             int sampleBegin, const WhisperTokenizer& tokenizer) const {
    const SpecialTokens& special = tokenizer.specialTokens();
    LogitsFilters filters = logitsFilters_.value_or(LogitsFilters{});
    if (options.suppressBlank) filters.push_back(std::make_shared<SuppressBlankFilter>(special, prefilledIndex));
    if (!options.suppressTokens.empty()) {
        std::vector<int> suppress;
        for (std::int64_t token : options.suppressTokens)
            if (token >= 0 && token < special.specialTokenBegin) suppress.push_back(static_cast<int>(token));
        filters.push_back(std::make_shared<SuppressTokensFilter>(std::move(suppress)));
    }
    if (options.withoutTimestamps) return filters;

    std::optional<int> maxInitialTimestampIndex;
    if (options.maxInitialTimestamp) {
        // Refused earlier by DecodingOptions::validate; clamped here so that no value can overflow.
        const float steps = *options.maxInitialTimestamp / 0.02f;
        if (!std::isnan(steps))
            maxInitialTimestampIndex = static_cast<int>(std::clamp(steps, -2147483648.0f, 2147483520.0f));
    }
    filters.push_back(
        std::make_shared<TimestampRulesFilter>(special, sampleBegin, maxInitialTimestampIndex, isModelMultilingual_));
    return filters;
}

std::shared_ptr<LanguageLogitsFilter> TextDecoder::languageFilter(const WhisperTokenizer& tokenizer, int logitsDim) {
    std::lock_guard lock(languageFilterMutex_);
    if (!languageLogitsFilter_)
        languageLogitsFilter_ = std::make_shared<LanguageLogitsFilter>(tokenizer.allLanguageTokens(), logitsDim, 0);
    return languageLogitsFilter_;
}

DecodingResult TextDecoder::detectLanguage(const MLMultiArray& encoderOutput, DecodingInputsType& decoderInputs,
                                           TokenSampling& sampler, const DecodingOptions& /*options*/,
                                           platform::ml::Float16 /*temperature*/, std::stop_token stop) {
    const auto vocabulary = tokenizer_;
    if (!vocabulary) throw WhisperError::tokenizerUnavailable();
    const auto logitsDim = logitsSize();
    if (!logitsDim) throw WhisperError::modelsUnavailable("Failed to read logits size from model");
    const SpecialTokens& special = vocabulary->specialTokens();
    const std::vector<int> tokens{special.startOfTranscriptToken};
    const std::vector<float> logProbs{0.0f};
    const auto filter = languageFilter(*vocabulary, *logitsDim);

    auto inputIds = decoderInputs.inputIds();
    auto cacheLength = decoderInputs.cacheLength();
    writeFlat(inputIds, 0, special.startOfTranscriptToken);
    writeFlat(cacheLength, 0, 0);

    Logging::debug("Detecting language...");
    if (encoderOutput.isNull()) throw WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray");
    auto* inputs = dynamic_cast<DecodingInputs*>(&decoderInputs);
    if (!inputs) throw WhisperError::prepareDecoderInputsFailed("DecodingInputsType must be DecodingInputs");

    TranscriptionTimings timings;
    auto start = std::chrono::steady_clock::now();
    auto output = predictLogits({inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
                                 inputs->kvCacheUpdateMask(), encoderOutput, inputs->decoderKeyPaddingMask()},
                                stop);
    timings.decodingPredictions = korbit::secondsSince(start);
    if (!output.logits) {
        Logging::error("Unable to decode logits");
        throw WhisperError::decodingLogitsFailed("Unable to decode logits from the model output");
    }
    filter->filterLogits(*output.logits, tokens);

    start = std::chrono::steady_clock::now();
    const SamplingResult sampled = sampler.update(tokens, *output.logits, logProbs);
    timings.decodingSampling = korbit::secondsSince(start);
    if (sampled.tokens.empty()) throw WhisperError::decodingFailed("The sampler returned no token");

    const auto decodeOne = [&](int token) {
        return trimmingSpecialTokenCharacters(vocabulary->decode(std::span<const int>(&token, 1)));
    };
    std::map<std::string, float> languageProbs;
    for (std::size_t i = 0; i < sampled.tokens.size(); ++i) {
        if (vocabulary->allLanguageTokens().contains(sampled.tokens[i]))
            languageProbs[decodeOne(sampled.tokens[i])] = i < sampled.logProbs.size() ? sampled.logProbs[i] : 0.0f;
    }
    std::string language = decodeOne(sampled.tokens.back());
    if (Constants::languageCodes().contains(language)) {
        Logging::debug({"Detected language: ", language}, "");
    } else {
        Logging::error(
            {"Detected language ", language, " is not supported, defaulting to ", Constants::defaultLanguageCode}, "");
        language = std::string(Constants::defaultLanguageCode);
    }

    DecodingResult result;
    result.language = std::move(language);
    result.languageProbs = std::move(languageProbs);
    result.timings = timings;
    return result;
}

/// The decoder as one call's loop uses it: its overridable operations and its early-stop flags.
class TextDecoder::LoopSteps final : public DecodingSteps {
public:
    explicit LoopSteps(TextDecoder& decoder) : decoder_(decoder) {}

    LogitsFilters createLogitsFilters(const DecodingOptions& options, int prefilledIndex, int sampleBegin,
                                      const WhisperTokenizer& tokenizer) const override {
        return decoder_.createLogitsFilters(options, prefilledIndex, sampleBegin, tokenizer);
    }
    TextDecoderMLMultiArrayOutputType predictLogits(const TextDecoderMLMultiArrayInputType& inputs,
                                                    std::stop_token stop) override {
        return decoder_.predictLogits(inputs, std::move(stop));
    }
    void debugCaches(const DecodingInputs& inputs, int tokenIndex, int prefillSize) const override {
        decoder_.debugCaches(inputs, tokenIndex, prefillSize);
    }
    korbit::EarlyStopActor& earlyStopActor() override { return decoder_.earlyStopActor_; }

private:
    TextDecoder& decoder_;
};

DecodingResult TextDecoder::decodeText(const MLMultiArray& encoderOutput, DecodingInputsType& decoderInputs,
                                       TokenSampling& sampler, const DecodingOptions& options,
                                       const TranscriptionCallback& callback, std::stop_token stop) {
    const auto vocabulary = tokenizer_;
    if (!vocabulary) throw WhisperError::tokenizerUnavailable();
    auto* inputs = dynamic_cast<DecodingInputs*>(&decoderInputs);
    if (!inputs) throw WhisperError::prepareDecoderInputsFailed("DecodingInputsType must be DecodingInputs");
    if (encoderOutput.isNull()) throw WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray");
    options.validate();
    LoopSteps steps(*this);
    DecodingLoop loop(steps, *vocabulary, *inputs, encoderOutput, sampler, options, callback, std::move(stop));
    return loop.run();
}

}  // namespace tremolan
