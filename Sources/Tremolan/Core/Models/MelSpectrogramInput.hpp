#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"

namespace tremolan {

/// The input of the mel-spectrogram model: one window of audio samples under "audio".
class MelSpectrogramInput : public platform::ml::MLFeatureProvider {
public:
    explicit MelSpectrogramInput(platform::ml::MLMultiArray samples) : audio(std::move(samples)) {}
    explicit MelSpectrogramInput(const platform::ml::MLShapedArray<float>& samples) : audio(samples.toMultiArray()) {}

    platform::ml::MLMultiArray audio;

    std::set<std::string> featureNames() const override { return {"audio"}; }
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override {
        if (name == "audio") return platform::ml::MLFeatureValue(audio);
        return std::nullopt;
    }
};

}  // namespace tremolan
