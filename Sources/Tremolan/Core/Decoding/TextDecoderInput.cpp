#include "Tremolan/Core/Decoding/TextDecoderInput.hpp"

namespace tremolan {

namespace {
constexpr std::array<const char*, 7> kFeatureOrder = {"input_ids",
                                                      "cache_length",
                                                      "key_cache",
                                                      "value_cache",
                                                      "kv_cache_update_mask",
                                                      "encoder_output_embeds",
                                                      "decoder_key_padding_mask"};
}  // namespace

const std::set<std::string>& textDecoderFeatureNames() {
    static const std::set<std::string> names(kFeatureOrder.begin(), kFeatureOrder.end());
    return names;
}

const platform::ml::MLMultiArray* textDecoderFeature(const std::string& name,
                                                     const std::array<const platform::ml::MLMultiArray*, 7>& arrays) {
    for (std::size_t i = 0; i < kFeatureOrder.size(); ++i)
        if (name == kFeatureOrder[i]) return arrays[i];
    return nullptr;
}

std::set<std::string> TextDecoderInput::featureNames() const {
    return textDecoderFeatureNames();
}

const platform::ml::MLMultiArray* TextDecoderInput::multiArrayView(const std::string& name) const {
    return textDecoderFeature(name, {&input_ids, &cache_length, &key_cache, &value_cache, &kv_cache_update_mask,
                                     &encoder_output_embeds, &decoder_key_padding_mask});
}

std::optional<platform::ml::MLFeatureValue> TextDecoderInput::featureValue(const std::string& name) const {
    if (const auto* array = multiArrayView(name)) return platform::ml::MLFeatureValue(*array);
    return std::nullopt;
}

}  // namespace tremolan
