#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"
#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"

#include <memory>

namespace tremolan {

/// The mel-spectrogram model's prediction, read by name.
class MelSpectrogramOutput : public platform::ml::MLFeatureProvider {
public:
    /// Wraps a prediction's result unchanged.
    explicit MelSpectrogramOutput(std::shared_ptr<const platform::ml::MLFeatureProvider> features)
        : provider(std::move(features)) {}
    /// A result holding just the features.
    explicit MelSpectrogramOutput(const platform::ml::MLMultiArray& melspectrogram_features)
        : provider(std::make_shared<platform::ml::MLDictionaryFeatureProvider>(
              std::map<std::string, platform::ml::MLMultiArray>{
                  {"melspectrogram_features", melspectrogram_features}})) {}

    std::shared_ptr<const platform::ml::MLFeatureProvider> provider;

    /// "melspectrogram_features"; throws WhisperError when the model gave none.
    platform::ml::MLMultiArray melspectrogramFeatures() const {
        return requiredOutput(*provider, "melspectrogram_features");
    }

    /// The same feature as half-precision scalars.
    platform::ml::MLShapedArray<platform::ml::Float16> melspectrogram_featuresShapedArray() const {
        return platform::ml::MLShapedArray<platform::ml::Float16>(melspectrogramFeatures());
    }

    std::set<std::string> featureNames() const override { return provider->featureNames(); }
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override {
        return provider->featureValue(name);
    }
};

}  // namespace tremolan
