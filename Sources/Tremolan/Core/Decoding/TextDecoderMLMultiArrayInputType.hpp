#pragma once

#include "Platform/ML/MultiArray.hpp"

namespace tremolan {

/// The seven input arrays of one text-decoder step, in the model's feature order ("input_ids",
/// "cache_length", "key_cache", "value_cache", "kv_cache_update_mask", "encoder_output_embeds",
/// "decoder_key_padding_mask").
struct TextDecoderMLMultiArrayInputType {
    platform::ml::MLMultiArray inputIds;
    platform::ml::MLMultiArray cacheLength;
    platform::ml::MLMultiArray keyCache;
    platform::ml::MLMultiArray valueCache;
    platform::ml::MLMultiArray kvCacheUpdateMask;
    platform::ml::MLMultiArray encoderOutputEmbeds;
    platform::ml::MLMultiArray decoderKeyPaddingMask;
};

}  // namespace tremolan
