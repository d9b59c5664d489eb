#pragma once

#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"
#include "Tremolan/Core/Tokenizer/SpecialTokens.hpp"

#include <cstdint>
#include <vector>

namespace tremolan {

/// Forbids a blank or an immediate end of text at the first position the decoder samples.
class SuppressBlankFilter : public LogitsFiltering {
public:
    SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin);

    const SpecialTokens& specialTokens() const { return specialTokens_; }
    int sampleBegin() const { return sampleBegin_; }
    /// The whitespace token, then the end token.
    const std::vector<std::int64_t>& suppressTokenIndexes() const { return suppressTokenIndexes_; }

    /// Acts only when the sequence holds exactly sampleBegin tokens.
    platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                             std::span<const int> tokens) const override;

private:
    SpecialTokens specialTokens_;
    int sampleBegin_;
    std::vector<std::int64_t> suppressTokenIndexes_;
};

}  // namespace tremolan
