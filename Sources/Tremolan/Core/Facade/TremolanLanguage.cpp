// The facade's language detection: the first window of a recording through the mel and encoder
// models and one decoder step restricted to the language tokens.

#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

namespace tremolan {

LanguageDetection Tremolan::detectLanguage(const std::string& audioPath) {
    // Throws "Resource path does not exist <path>" for a missing file.
    const auto file = AudioProcessor::openAudioFile(audioPath);
    auto buffer = AudioProcessor::loadAudio(*file, ChannelMode::sumChannels(), 0.0, 30.0, std::nullopt);
    return detectLangauge(AudioProcessor::convertBufferToArray(buffer, 1024));
}

LanguageDetection Tremolan::detectLangauge(const std::vector<float>& audioArray) {
    const auto use = useModels();
    const FacadeState current = state();
    const auto& decoder = current.textDecoder;
    if (!decoder->isModelMultilingual())
        throw WhisperError::decodingFailed("Language detection not supported for this model");
    const auto& runTokenizer = current.tokenizer;
    if (!runTokenizer) throw WhisperError::tokenizerUnavailable();

    DecodingOptions options;
    options.verbose = korbit::Logging::isLoggingEnabled();
    DecodingInputs inputs = decoder->prepareDecoderInputs({runTokenizer->specialTokens().startOfTranscriptToken});

    const auto& extractor = current.featureExtractor;
    const std::int64_t window = extractor->windowSamples().value_or(Constants::defaultWindowSamples);
    const auto samples = current.audioProcessor->padOrTrim(audioArray, 0, window);
    if (!samples) throw WhisperError::transcriptionFailed("Audio samples are nil");
    const auto features = extractor->logMelSpectrogram(*samples);
    if (!features) throw WhisperError::transcriptionFailed("Mel output is nil");
    const auto encoded = current.audioEncoder->encodeFeatures(*features);
    if (!encoded) throw WhisperError::transcriptionFailed("Encoder output is nil");

    GreedyTokenSampler sampler(platform::ml::Float16(0.0f), runTokenizer->specialTokens().endToken, options);
    DecodingResult result;
    try {
        result = decoder->detectLanguage(*encoded, inputs, sampler, options, platform::ml::Float16(0.0f));
    } catch (...) {
        throw WhisperError::decodingFailed("Language detection failed");
    }
    return {result.language, result.languageProbs};
}

}  // namespace tremolan
