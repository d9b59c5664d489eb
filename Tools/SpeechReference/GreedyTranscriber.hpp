#pragma once

// The shortest road from audio to tokens through the three model bundles: one 30 s window, mel,
// encoder, then the decoder one token at a time with the caller-held key/value cache, always taking
// the highest score, until end of text. No filters, no fallback, no segmenting: it checks a model and
// the runtime before the full pipeline is involved.

#include "Platform/ML/Model.hpp"

#include <filesystem>
#include <memory>
#include <vector>

namespace velmora::dev {

class GreedyTranscriber {
public:
    /// Loads MelSpectrogram, AudioEncoder and TextDecoder from the model folder.
    explicit GreedyTranscriber(const std::filesystem::path& modelFolder);

    /// The mel features of the first 30 s of 16 kHz samples (zero-padded), as the mel model gives them.
    platform::ml::MLMultiArray melFeatures(const std::vector<float>& samples) const;

    /// Feeds `prompt` from position 0, then the best token each step. Returns the tokens after the
    /// prompt, without the end token; stops at `endToken` or when the cache is full.
    std::vector<int> transcribe(const std::vector<float>& samples, const std::vector<int>& prompt, int endToken) const;

    /// The same from mel features.
    std::vector<int> decode(const platform::ml::MLMultiArray& melFeatures, const std::vector<int>& prompt,
                            int endToken) const;

private:
    std::shared_ptr<platform::ml::MLModel> mel_, encoder_, decoder_;
};

}  // namespace velmora::dev
