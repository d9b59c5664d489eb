#pragma once

// The mel-spectrogram model as the first stage: it reports the model's window length and band
// count, checks its input and times each prediction.

#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

namespace tremolan {

class FeatureExtractor : public FeatureExtracting, public WhisperMLModel {
public:
    FeatureExtractor() = default;

    /// Dimension 1 of the output "melspectrogram_features".
    std::optional<int> melCount() const override;
    /// Dimension 0 of the input "audio".
    std::optional<int> windowSamples() const override;

    /// Errors, in the order tested: an empty array, WhisperError::audioProcessingFailed
    /// "FeatureExtractor input must be MLMultiArray"; no model, WhisperError::modelsUnavailable; a stop
    /// request, korbit::CancellationError. The model's errors pass unchanged.
    std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                std::stop_token stop = {}) override;
};

}  // namespace tremolan
