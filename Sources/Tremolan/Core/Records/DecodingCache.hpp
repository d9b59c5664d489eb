#pragma once

#include "Platform/ML/MultiArray.hpp"

#include <optional>

namespace tremolan {

/// The key/value caches and alignment weights a decoder step returns besides its logits.
struct DecodingCache {
    std::optional<platform::ml::MLMultiArray> keyCache;
    std::optional<platform::ml::MLMultiArray> valueCache;
    std::optional<platform::ml::MLMultiArray> alignmentWeights;
};

}  // namespace tremolan
