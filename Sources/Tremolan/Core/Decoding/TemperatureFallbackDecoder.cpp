#include "Tremolan/Core/Decoding/TemperatureFallbackDecoder.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace tremolan {

using korbit::Logging;
using platform::ml::Float16;

namespace {

void foldDecoderTimings(TranscriptionTimings& into, const TranscriptionTimings& from) {
    into.firstTokenTime = std::min(into.firstTokenTime, from.firstTokenTime);
    into.decodingPredictions += from.decodingPredictions;
    into.totalDecodingLoops += from.totalDecodingLoops;
    into.decodingNonPrediction += from.decodingNonPrediction;
    into.decodingFiltering += from.decodingFiltering;
    into.decodingSampling += from.decodingSampling;
    into.decodingKvCaching += from.decodingKvCaching;
    into.totalKVUpdateRuns += from.totalKVUpdateRuns;
}

}  // namespace

TemperatureFallbackDecoder::TemperatureFallbackDecoder(TextDecoding& textDecoder,
                                                       std::shared_ptr<WhisperTokenizer> tokenizer,
                                                       std::shared_ptr<RandomSource> random)
    : textDecoder_(textDecoder), tokenizer_(std::move(tokenizer)), random_(std::move(random)) {}

std::vector<Float16> TemperatureFallbackDecoder::temperatureLadder(const DecodingOptions& options) {
    // A product or a sum of two half-precision values is exact in single precision up to the one
    // rounding that matters, so rounding the float result to half gives the half-precision result.
    const Float16 base(options.temperature);
    const Float16 increment(options.temperatureIncrementOnFallback);
    std::vector<Float16> ladder;
    for (int i = 0; i <= options.temperatureFallbackCount; ++i) {
        const Float16 step(static_cast<float>(Float16(static_cast<float>(i))) * static_cast<float>(increment));
        ladder.emplace_back(static_cast<float>(base) + static_cast<float>(step));
    }
    return ladder;
}

std::string TemperatureFallbackDecoder::temperatureText(Float16 temperature) {
    const float value = temperature;
    if (temperature.isNaN() || temperature.isInfinite()) return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
    char buffer[64];
    for (int decimals = 1; decimals <= 10; ++decimals) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                       std::chars_format::fixed, decimals)
                             .ptr;
        double parsed = 0;
        std::from_chars(buffer, end, parsed);
        if (Float16(static_cast<float>(parsed)).sameBits(temperature)) return std::string(buffer, end);
    }
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string TemperatureFallbackDecoder::ladderText(const std::vector<Float16>& ladder) {
    std::string text = "[";
    for (std::size_t i = 0; i < ladder.size(); ++i) text.append(i > 0 ? ", " : "").append(temperatureText(ladder[i]));
    return text + "]";
}

DecodingResult TemperatureFallbackDecoder::decodeWithFallback(
    const platform::ml::MLMultiArray& encoderSegment, const DecodingOptions& decodingOptions,
    DecodingInputsType& decoderInputs, std::optional<std::string>& detectedLanguage, TranscriptionTimings& timings,
    const TranscriptionCallback& callback, std::stop_token stop) {
    decodingOptions.validate();
    if (!tokenizer_) throw WhisperError::tokenizerUnavailable();
    const SpeechLog::SignpostScope interval(SpeechLog::decodeInterval, SpeechLog::TranscribeTask::signposter());
    const std::vector<Float16> ladder = temperatureLadder(decodingOptions);
    Logging::debug({"Decoding with temperatures ", ladderText(ladder)}, "");

    std::optional<DecodingResult> result;
    for (std::size_t i = 0; i < ladder.size(); ++i) {
        const Float16 temperature = ladder[i];
        Logging::info({"Decoding Temperature: ", temperatureText(temperature)}, "");
        const auto tryStart = std::chrono::steady_clock::now();
        GreedyTokenSampler sampler(temperature, tokenizer_->specialTokens().endToken, decodingOptions, random_);
        DecodingOptions tryOptions = decodingOptions;

        if (textDecoder_.isModelMultilingual() && !decodingOptions.language && decodingOptions.detectLanguage) {
            std::optional<DecodingResult> detection;
            try {
                detection = textDecoder_.detectLanguage(encoderSegment, decoderInputs, sampler, decodingOptions,
                                                        temperature, stop);
            } catch (const korbit::CancellationError&) {
                throw;
            } catch (const std::exception& error) {
                Logging::debug({"Language detection failed: ", error.what()}, "");
            }
            detectedLanguage = detection ? std::optional<std::string>(detection->language) : std::nullopt;
            tryOptions.language = detectedLanguage;
            if (decodingOptions.usePrefillPrompt) textDecoder_.prefillDecoderInputs(decoderInputs, tryOptions);
            if (Logging::isLoggingEnabled(Logging::LogLevel::debug))
                Logging::debug(
                    {"Prefill prompt updated to: ", tokenizer_->quotedTokenList(decoderInputs.initialPrompt())}, "");
            if (detection && detection->timings) {
                timings.decodingPredictions += detection->timings->decodingPredictions;
                timings.decodingSampling += detection->timings->decodingSampling;
            }
        }

        result = textDecoder_.decodeText(encoderSegment, decoderInputs, sampler, tryOptions, callback, stop);
        if (!detectedLanguage) detectedLanguage = result->language;
        if (result->timings) foldDecoderTimings(timings, *result->timings);

        if (!(result->fallback && result->fallback->needsFallback)) break;
        timings.decodingFallback += korbit::secondsSince(tryStart);
        timings.totalDecodingFallbacks = static_cast<double>(i);
        decoderInputs.reset(static_cast<int>(std::clamp<std::int64_t>(decodingOptions.sampleLength, 1, 1 << 30)));
        Logging::info({"Fallback #", i + 1, " (", result->fallback->fallbackReason, ")"}, "");
    }

    if (!result) throw WhisperError::decodingFailed("Decoding failed");
    return *result;
}

}  // namespace tremolan
