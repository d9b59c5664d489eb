#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"

namespace tremolan {

/// The input of the audio encoder: the mel features under "melspectrogram_features".
class AudioEncoderInput : public platform::ml::MLFeatureProvider {
public:
    explicit AudioEncoderInput(platform::ml::MLMultiArray features) : melspectrogram_features(std::move(features)) {}
    explicit AudioEncoderInput(const platform::ml::MLShapedArray<float>& features)
        : melspectrogram_features(features.toMultiArray()) {}

    platform::ml::MLMultiArray melspectrogram_features;

    std::set<std::string> featureNames() const override { return {"melspectrogram_features"}; }
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override {
        if (name == "melspectrogram_features") return platform::ml::MLFeatureValue(melspectrogram_features);
        return std::nullopt;
    }
};

}  // namespace tremolan
