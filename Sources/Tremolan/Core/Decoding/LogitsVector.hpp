#pragma once

// The decoder's logits as one vector of half-precision scores: what the filters write and the
// samplers read. The view checks the array once, so that every write lands inside it.

#include "Platform/ML/MultiArray.hpp"

#include <cstdint>
#include <vector>

namespace tremolan {

class LogitsVector {
public:
    /// A view that reads and writes. Throws WhisperError::decodingLogitsFailed unless the array holds
    /// half-precision floats in its last dimension only (every other dimension 1, as in [1, 1, V]).
    explicit LogitsVector(platform::ml::MLMultiArray& logits);
    /// A view that only reads; the same checks.
    explicit LogitsVector(const platform::ml::MLMultiArray& logits);

    std::int64_t size() const { return size_; }
    float operator[](std::int64_t token) const;

    /// Writes negative infinity at the token; a token outside the vector is passed over.
    void suppress(std::int64_t token);
    /// Writes negative infinity over [begin, end), clamped to the vector.
    void suppressRange(std::int64_t begin, std::int64_t end);

    /// The scores [begin, end) as floats, into `out` (resized to the count; no allocation once it is
    /// large enough).
    void toFloat(std::vector<float>& out, std::int64_t begin, std::int64_t end) const;
    void toFloat(std::vector<float>& out) const { toFloat(out, 0, size_); }
    /// The softmax probability of the token over all scores, in single precision; 0 for a token outside
    /// the vector or scores with no finite maximum. NaN scores count as -inf.
    float probability(std::int64_t token) const;
    /// The half-precision bits when the scores lie next to each other, else nullptr.
    const std::uint16_t* contiguousBits() const { return stride_ == 1 ? read_ : nullptr; }

private:
    void check(const platform::ml::MLMultiArray& logits);

    const std::uint16_t* read_ = nullptr;
    std::uint16_t* write_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t stride_ = 1;
};

}  // namespace tremolan
