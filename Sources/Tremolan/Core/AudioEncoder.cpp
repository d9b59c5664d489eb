#include "Tremolan/Core/AudioEncoder.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Tremolan/Core/AudioEncoderInput.hpp"
#include "Tremolan/Core/AudioEncoderOutput.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

namespace tremolan {

std::optional<int> AudioEncoder::embedSize() const {
    return korbit::ModelUtilities::getModelOutputDimension(model().get(), "encoder_output_embeds", 1);
}

std::optional<int> AudioEncoder::sequenceLength() const {
    return korbit::ModelUtilities::getModelOutputDimension(model().get(), "encoder_output_embeds", 3);
}

std::optional<platform::ml::MLMultiArray> AudioEncoder::encodeFeatures(const platform::ml::MLMultiArray& features,
                                                                       std::stop_token stop) {
    if (features.isNull()) throw WhisperError::audioProcessingFailed("AudioEncoder input must be MLMultiArray");
    const auto encoderModel = model();
    if (!encoderModel) throw WhisperError::modelsUnavailable();
    korbit::checkCancellation(stop);

    auto& signposter = SpeechLog::AudioEncoding::signposter();
    auto interval = SpeechLog::beginSignpost(SpeechLog::encodeAudioInterval, signposter);
    try {
        const auto output = korbit::asyncPrediction(*encoderModel, AudioEncoderInput(features));
        auto embeds = AudioEncoderOutput(output).encoder_output_embeds();
        SpeechLog::endSignpost(SpeechLog::encodeAudioInterval, interval, signposter);
        return embeds;
    } catch (...) {
        SpeechLog::endSignpost(SpeechLog::encodeAudioInterval, interval, signposter);
        throw;
    }
}

}  // namespace tremolan
