#pragma once

// The audio-encoder model as the second stage: it reports the embedding width and sequence length,
// checks its input and times each prediction. It neither pads nor trims the features.

#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

namespace tremolan {

class AudioEncoder : public AudioEncoding, public WhisperMLModel {
public:
    AudioEncoder() = default;

    /// Dimension 1 of the output "encoder_output_embeds".
    std::optional<int> embedSize() const override;
    /// Dimension 3 of the same output.
    virtual std::optional<int> sequenceLength() const;

    /// Errors, in the order tested: an empty array, WhisperError::audioProcessingFailed
    /// "AudioEncoder input must be MLMultiArray"; no model, WhisperError::modelsUnavailable; a stop
    /// request, korbit::CancellationError. The model's errors pass unchanged.
    std::optional<platform::ml::MLMultiArray> encodeFeatures(const platform::ml::MLMultiArray& features,
                                                             std::stop_token stop = {}) override;
};

}  // namespace tremolan
