#pragma once

#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ShapedArray.hpp"

namespace tremolan {

/// The seven inputs of one text-decoder step.
class TextDecoderInput : public platform::ml::MLFeatureProvider {
public:
    TextDecoderInput(platform::ml::MLMultiArray input_ids, platform::ml::MLMultiArray cache_length,
                     platform::ml::MLMultiArray key_cache, platform::ml::MLMultiArray value_cache,
                     platform::ml::MLMultiArray kv_cache_update_mask, platform::ml::MLMultiArray encoder_output_embeds,
                     platform::ml::MLMultiArray decoder_key_padding_mask)
        : input_ids(std::move(input_ids)),
          cache_length(std::move(cache_length)),
          key_cache(std::move(key_cache)),
          value_cache(std::move(value_cache)),
          kv_cache_update_mask(std::move(kv_cache_update_mask)),
          encoder_output_embeds(std::move(encoder_output_embeds)),
          decoder_key_padding_mask(std::move(decoder_key_padding_mask)) {}

    /// Each shaped array becomes a new multi-array of its element type.
    TextDecoderInput(const platform::ml::MLShapedArray<std::int32_t>& input_ids,
                     const platform::ml::MLShapedArray<std::int32_t>& cache_length,
                     const platform::ml::MLShapedArray<float>& key_cache,
                     const platform::ml::MLShapedArray<float>& value_cache,
                     const platform::ml::MLShapedArray<float>& kv_cache_update_mask,
                     const platform::ml::MLShapedArray<float>& encoder_output_embeds,
                     const platform::ml::MLShapedArray<float>& decoder_key_padding_mask)
        : TextDecoderInput(input_ids.toMultiArray(), cache_length.toMultiArray(), key_cache.toMultiArray(),
                           value_cache.toMultiArray(), kv_cache_update_mask.toMultiArray(),
                           encoder_output_embeds.toMultiArray(), decoder_key_padding_mask.toMultiArray()) {}

    platform::ml::MLMultiArray input_ids;
    platform::ml::MLMultiArray cache_length;
    platform::ml::MLMultiArray key_cache;
    platform::ml::MLMultiArray value_cache;
    platform::ml::MLMultiArray kv_cache_update_mask;
    platform::ml::MLMultiArray encoder_output_embeds;
    platform::ml::MLMultiArray decoder_key_padding_mask;

    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override;
};

}  // namespace tremolan
