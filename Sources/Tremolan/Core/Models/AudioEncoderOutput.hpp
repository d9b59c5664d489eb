#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"
#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"

#include <memory>

namespace tremolan {

/// The audio encoder's prediction, read by name.
class AudioEncoderOutput : public platform::ml::MLFeatureProvider {
public:
    explicit AudioEncoderOutput(std::shared_ptr<const platform::ml::MLFeatureProvider> features)
        : provider(std::move(features)) {}
    explicit AudioEncoderOutput(const platform::ml::MLMultiArray& encoder_output_embeds)
        : provider(std::make_shared<platform::ml::MLDictionaryFeatureProvider>(
              std::map<std::string, platform::ml::MLMultiArray>{{"encoder_output_embeds", encoder_output_embeds}})) {}

    std::shared_ptr<const platform::ml::MLFeatureProvider> provider;

    /// "encoder_output_embeds"; throws WhisperError when the model gave none.
    platform::ml::MLMultiArray encoder_output_embeds() const {
        return requiredOutput(*provider, "encoder_output_embeds");
    }

    platform::ml::MLShapedArray<platform::ml::Float16> encoder_output_embedsShapedArray() const {
        return platform::ml::MLShapedArray<platform::ml::Float16>(encoder_output_embeds());
    }

    std::set<std::string> featureNames() const override { return provider->featureNames(); }
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override {
        return provider->featureValue(name);
    }
};

}  // namespace tremolan
