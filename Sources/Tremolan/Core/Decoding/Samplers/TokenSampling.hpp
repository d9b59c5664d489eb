#pragma once

// What a token sampler offers the decoder: pick the next token from the filtered logits, and close
// a sequence that stopped without its end token.

#include "Platform/ML/MultiArray.hpp"
#include "Tremolan/Core/Decoding/Samplers/SamplingResult.hpp"

#include <vector>

namespace tremolan {

class TokenSampling {
public:
    virtual ~TokenSampling() = default;
    /// Picks one token from the [1, 1, V] half-precision logits and appends it and its log probability.
    virtual SamplingResult update(const std::vector<int>& tokens, const platform::ml::MLMultiArray& logits,
                                  const std::vector<float>& logProbs) = 0;
    /// Appends the end token (log probability 0) unless the sequence already ends with it.
    virtual SamplingResult finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) = 0;
};

}  // namespace tremolan
