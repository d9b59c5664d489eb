#pragma once

#include "Platform/ML/MultiArray.hpp"
#include "Tremolan/Core/Records/DecodingCache.hpp"

#include <optional>

namespace tremolan {

/// What one text-decoder step gives back: the next token's logits and the step's cache columns
/// (with the alignment weights when the model has them). Both absent when no model is loaded.
struct TextDecoderMLMultiArrayOutputType {
    std::optional<platform::ml::MLMultiArray> logits;
    std::optional<DecodingCache> cache;
};

}  // namespace tremolan
