#include "Tremolan/Core/Models/FeatureExtractor.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Tremolan/Core/Models/MelSpectrogramInput.hpp"
#include "Tremolan/Core/Models/MelSpectrogramOutput.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

namespace tremolan {

std::optional<int> FeatureExtractor::melCount() const {
    return korbit::ModelUtilities::getModelOutputDimension(model().get(), "melspectrogram_features", 1);
}

std::optional<int> FeatureExtractor::windowSamples() const {
    return korbit::ModelUtilities::getModelInputDimension(model().get(), "audio", 0);
}

std::optional<platform::ml::MLMultiArray> FeatureExtractor::logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                              std::stop_token stop) {
    if (audio.isNull()) throw WhisperError::audioProcessingFailed("FeatureExtractor input must be MLMultiArray");
    const auto melModel = model();
    if (!melModel) throw WhisperError::modelsUnavailable();
    korbit::checkCancellation(stop);

    const SpeechLog::SignpostScope interval(SpeechLog::extractAudioFeaturesInterval,
                                            SpeechLog::FeatureExtractor::signposter());
    return MelSpectrogramOutput(korbit::asyncPrediction(*melModel, MelSpectrogramInput(audio)))
        .melspectrogramFeatures();
}

}  // namespace tremolan
