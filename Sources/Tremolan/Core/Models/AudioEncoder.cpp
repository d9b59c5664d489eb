#include "Tremolan/Core/Models/AudioEncoder.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Tremolan/Core/Models/AudioEncoderInput.hpp"
#include "Tremolan/Core/Models/AudioEncoderOutput.hpp"
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

    const SpeechLog::SignpostScope interval(SpeechLog::encodeAudioInterval, SpeechLog::AudioEncoding::signposter());
    return AudioEncoderOutput(korbit::asyncPrediction(*encoderModel, AudioEncoderInput(features)))
        .encoder_output_embeds();
}

}  // namespace tremolan
