#pragma once

#include "Platform/ML/FeatureProvider.hpp"

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
