#pragma once

// Decoding of one window with temperature fallback: the decoding loop runs with a fresh sampler at
// the lowest temperature of a ladder and again at the next one for as long as its verdict asks for
// a retry. The transcription task calls it once per window.

#include "Platform/ML/Float16.hpp"
#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace tremolan {

class TemperatureFallbackDecoder {
public:
    /// `random` gives the draws of every try above temperature 0 (one stream for the whole window, so
    /// that a seeded source repeats the decoding); without one each sampler seeds its own.
    TemperatureFallbackDecoder(TextDecoding& textDecoder, std::shared_ptr<WhisperTokenizer> tokenizer,
                               std::shared_ptr<RandomSource> random = nullptr);

    /// The accepted result of the window: the first try whose verdict asks for no retry, else the last
    /// try's result with its verdict. Language detection runs before every try when the model is
    /// multilingual, the options name no language and ask for detection; its failure is passed over.
    /// The inputs are reset after every try that asks for fallback. Decoder counters are added to
    /// `timings`. Throws the options' WhisperError when DecodingOptions::validate refuses them, the
    /// errors of prefill and decoding unchanged, and WhisperError::decodingFailed "Decoding failed"
    /// when no try ran.
    DecodingResult decodeWithFallback(const platform::ml::MLMultiArray& encoderSegment,
                                      const DecodingOptions& decodingOptions, DecodingInputsType& decoderInputs,
                                      std::optional<std::string>& detectedLanguage, TranscriptionTimings& timings,
                                      const TranscriptionCallback& callback = nullptr, std::stop_token stop = {});

    /// temperatureFallbackCount + 1 temperatures: t(i) = h(temperature) + h(i) x h(increment), with the
    /// product and the sum each rounded to half precision.
    static std::vector<platform::ml::Float16> temperatureLadder(const DecodingOptions& options);
    /// The shortest decimal that reads back to the same half-precision value, whole numbers with ".0".
    static std::string temperatureText(platform::ml::Float16 temperature);
    /// "[0.0, 0.2, 0.4, 0.5996, 0.8, 1.0]".
    static std::string ladderText(const std::vector<platform::ml::Float16>& ladder);

private:
    TextDecoding& textDecoder_;
    std::shared_ptr<WhisperTokenizer> tokenizer_;
    std::shared_ptr<RandomSource> random_;
};

}  // namespace tremolan
