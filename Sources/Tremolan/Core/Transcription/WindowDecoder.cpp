#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TemperatureFallbackDecoder.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Models/AudioEncoder.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>

namespace tremolan {

using platform::ml::MLMultiArray;

namespace {
// The vocabulary width of the English-only models; every other width is multilingual.
constexpr int kEnglishOnlyLogitsSize = 51864;
}  // namespace

WindowDecoder WindowDecoder::load(const std::filesystem::path& modelFolder, std::shared_ptr<WhisperTokenizer> tokenizer,
                                  platform::ml::MLComputeUnits computeUnits) {
    using korbit::ModelUtilities;
    auto mel = std::make_shared<FeatureExtractor>();
    mel->loadModel(ModelUtilities::detectModelURL(modelFolder, platform::ml::kMelModelName), computeUnits);
    auto encoder = std::make_shared<AudioEncoder>();
    encoder->loadModel(ModelUtilities::detectModelURL(modelFolder, platform::ml::kEncoderModelName), computeUnits);
    auto decoder = std::make_shared<TextDecoder>();
    decoder->loadModel(ModelUtilities::detectModelURL(modelFolder, platform::ml::kDecoderModelName), computeUnits);
    decoder->setTokenizer(std::move(tokenizer));
    decoder->setIsModelMultilingual(decoder->logitsSize().value_or(kEnglishOnlyLogitsSize) != kEnglishOnlyLogitsSize);
    return WindowDecoder{std::move(mel), std::move(encoder), std::move(decoder), std::make_shared<AudioProcessor>()};
}

MLMultiArray WindowDecoder::encodeWindow(std::span<const float> samples, std::stop_token stop) const {
    const std::int64_t window = featureExtractor->windowSamples().value_or(Constants::defaultWindowSamples);
    if (samples.empty()) throw WhisperError::audioProcessingFailed("The recording holds no samples");
    // Only the first window is copied out of a longer recording.
    const std::vector<float> first(
        samples.begin(),
        samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), static_cast<std::size_t>(window))));
    const auto audio = audioProcessor->padOrTrim(first, 0, window);
    if (!audio) throw WhisperError::transcriptionFailed("Audio samples are nil");

    const auto features = featureExtractor->logMelSpectrogram(*audio, stop);
    if (!features) throw WhisperError::audioProcessingFailed("The feature extractor gave no features");
    const auto encoded = audioEncoder->encodeFeatures(*features, stop);
    if (!encoded) throw WhisperError::audioProcessingFailed("The audio encoder gave no output");
    return *encoded;
}

DecodingResult WindowDecoder::decodeWindow(std::span<const float> samples, const DecodingOptions& options,
                                           const TranscriptionCallback& callback, std::shared_ptr<RandomSource> random,
                                           TranscriptionTimings* timings, std::stop_token stop) const {
    options.validate();
    const MLMultiArray encoded = encodeWindow(samples, stop);
    const auto tokenizer = textDecoder->tokenizer();
    if (!tokenizer) throw WhisperError::tokenizerUnavailable();
    // As the transcription task starts a run: the start of transcript alone, then the prompt the
    // options ask for.
    DecodingInputs inputs = textDecoder->prepareDecoderInputs({tokenizer->specialTokens().startOfTranscriptToken});
    if (options.usePrefillPrompt) textDecoder->prefillDecoderInputs(inputs, options);

    TemperatureFallbackDecoder decoder(*textDecoder, tokenizer, std::move(random));
    std::optional<std::string> detectedLanguage;
    TranscriptionTimings local;
    return decoder.decodeWithFallback(encoded, options, inputs, detectedLanguage, timings ? *timings : local, callback,
                                      std::move(stop));
}

}  // namespace tremolan
