#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"
#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"

#include <memory>

namespace tremolan {

/// One text-decoder step's prediction, read by name.
class TextDecoderOutput : public platform::ml::MLFeatureProvider {
public:
    explicit TextDecoderOutput(std::shared_ptr<const platform::ml::MLFeatureProvider> features)
        : provider(std::move(features)) {}
    /// A result holding the logits and the two cache updates. The alignment array is accepted
    /// and not kept: the result has no alignment output.
    TextDecoderOutput(const platform::ml::MLMultiArray& logits, const platform::ml::MLMultiArray& key_cache_updates,
                      const platform::ml::MLMultiArray& value_cache_updates,
                      const platform::ml::MLMultiArray& /*alignment_heads_weights*/)
        : provider(std::make_shared<platform::ml::MLDictionaryFeatureProvider>(
              std::map<std::string, platform::ml::MLMultiArray>{{"logits", logits},
                                                                {"key_cache_updates", key_cache_updates},
                                                                {"value_cache_updates", value_cache_updates}})) {}

    std::shared_ptr<const platform::ml::MLFeatureProvider> provider;

    // The required outputs throw WhisperError when the model gave none.
    platform::ml::MLMultiArray logits() const { return requiredOutput(*provider, "logits"); }
    platform::ml::MLMultiArray key_cache_updates() const { return requiredOutput(*provider, "key_cache_updates"); }
    platform::ml::MLMultiArray value_cache_updates() const { return requiredOutput(*provider, "value_cache_updates"); }
    /// Absent when the decoder model has no alignment output.
    std::optional<platform::ml::MLMultiArray> alignment_heads_weights() const {
        return provider->multiArray("alignment_heads_weights");
    }

    // The same features as half-precision scalars.
    platform::ml::MLShapedArray<platform::ml::Float16> logitsShapedArray() const {
        return platform::ml::MLShapedArray<platform::ml::Float16>(logits());
    }
    platform::ml::MLShapedArray<platform::ml::Float16> key_cache_updatesShapedArray() const {
        return platform::ml::MLShapedArray<platform::ml::Float16>(key_cache_updates());
    }
    platform::ml::MLShapedArray<platform::ml::Float16> value_cache_updatesShapedArray() const {
        return platform::ml::MLShapedArray<platform::ml::Float16>(value_cache_updates());
    }
    std::optional<platform::ml::MLShapedArray<platform::ml::Float16>> alignment_heads_weightsShapedArray() const {
        auto weights = alignment_heads_weights();
        if (!weights) return std::nullopt;
        return platform::ml::MLShapedArray<platform::ml::Float16>(*weights);
    }

    std::set<std::string> featureNames() const override { return provider->featureNames(); }
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override {
        return provider->featureValue(name);
    }
};

}  // namespace tremolan
