#include "Tremolan/Core/Decoding/TextDecoderInput.hpp"

namespace tremolan {

std::set<std::string> TextDecoderInput::featureNames() const {
    return {"input_ids",
            "cache_length",
            "key_cache",
            "value_cache",
            "kv_cache_update_mask",
            "encoder_output_embeds",
            "decoder_key_padding_mask"};
}

std::optional<platform::ml::MLFeatureValue> TextDecoderInput::featureValue(const std::string& name) const {
    if (name == "input_ids") return platform::ml::MLFeatureValue(input_ids);
    if (name == "cache_length") return platform::ml::MLFeatureValue(cache_length);
    if (name == "key_cache") return platform::ml::MLFeatureValue(key_cache);
    if (name == "value_cache") return platform::ml::MLFeatureValue(value_cache);
    if (name == "kv_cache_update_mask") return platform::ml::MLFeatureValue(kv_cache_update_mask);
    if (name == "encoder_output_embeds") return platform::ml::MLFeatureValue(encoder_output_embeds);
    if (name == "decoder_key_padding_mask") return platform::ml::MLFeatureValue(decoder_key_padding_mask);
    return std::nullopt;
}

}  // namespace tremolan
