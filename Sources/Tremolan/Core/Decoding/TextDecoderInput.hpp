#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"

#include <array>

namespace tremolan {

/// The seven inputs' feature names.
const std::set<std::string>& textDecoderFeatureNames();
/// The one of seven arrays, given in the model's feature order ("input_ids", "cache_length",
/// "key_cache", "value_cache", "kv_cache_update_mask", "encoder_output_embeds",
/// "decoder_key_padding_mask"), that a feature name names; nullptr for another name.
const platform::ml::MLMultiArray* textDecoderFeature(const std::string& name,
                                                     const std::array<const platform::ml::MLMultiArray*, 7>& arrays);

/// The seven inputs of one text-decoder step.
class TextDecoderInput : public platform::ml::MLFeatureProvider {
public:
    TextDecoderInput(platform::ml::MLMultiArray inputIds, platform::ml::MLMultiArray cacheLength,
                     platform::ml::MLMultiArray keyCache, platform::ml::MLMultiArray valueCache,
                     platform::ml::MLMultiArray updateMask, platform::ml::MLMultiArray encoderOutput,
                     platform::ml::MLMultiArray paddingMask)
        : input_ids(std::move(inputIds)),
          cache_length(std::move(cacheLength)),
          key_cache(std::move(keyCache)),
          value_cache(std::move(valueCache)),
          kv_cache_update_mask(std::move(updateMask)),
          encoder_output_embeds(std::move(encoderOutput)),
          decoder_key_padding_mask(std::move(paddingMask)) {}

    /// Each shaped array becomes a new multi-array of its element type.
    TextDecoderInput(const platform::ml::MLShapedArray<std::int32_t>& inputIds,
                     const platform::ml::MLShapedArray<std::int32_t>& cacheLength,
                     const platform::ml::MLShapedArray<float>& keyCache,
                     const platform::ml::MLShapedArray<float>& valueCache,
                     const platform::ml::MLShapedArray<float>& updateMask,
                     const platform::ml::MLShapedArray<float>& encoderOutput,
                     const platform::ml::MLShapedArray<float>& paddingMask)
        : TextDecoderInput(inputIds.toMultiArray(), cacheLength.toMultiArray(), keyCache.toMultiArray(),
                           valueCache.toMultiArray(), updateMask.toMultiArray(), encoderOutput.toMultiArray(),
                           paddingMask.toMultiArray()) {}

    platform::ml::MLMultiArray input_ids;
    platform::ml::MLMultiArray cache_length;
    platform::ml::MLMultiArray key_cache;
    platform::ml::MLMultiArray value_cache;
    platform::ml::MLMultiArray kv_cache_update_mask;
    platform::ml::MLMultiArray encoder_output_embeds;
    platform::ml::MLMultiArray decoder_key_padding_mask;

    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override;
    const platform::ml::MLMultiArray* multiArrayView(const std::string& name) const override;
};

}  // namespace tremolan
