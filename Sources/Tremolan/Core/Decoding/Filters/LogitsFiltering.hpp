#pragma once

// What every logits filter offers: before the sampler picks the next token, each filter of the
// decoder's list forbids some tokens by writing negative infinity into their scores, in place.

#include "Platform/ML/MultiArray.hpp"

#include <span>

namespace tremolan {

class LogitsFiltering {
public:
    virtual ~LogitsFiltering() = default;

    /// Suppresses tokens of the [1, 1, V] half-precision logits in place and returns the same array.
    /// `tokens` is the whole sequence so far, prompt included. Filters keep no state between calls,
    /// so one filter may serve several decodings at once.
    virtual platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                                     std::span<const int> tokens) const = 0;
};

}  // namespace tremolan
