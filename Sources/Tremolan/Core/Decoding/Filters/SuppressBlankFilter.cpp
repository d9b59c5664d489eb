#include "Tremolan/Core/Decoding/Filters/SuppressBlankFilter.hpp"

#include "Tremolan/Core/Decoding/LogitsVector.hpp"

namespace tremolan {

SuppressBlankFilter::SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin)
    : specialTokens_(specialTokens),
      sampleBegin_(sampleBegin),
      suppressTokenIndexes_{specialTokens.whitespaceToken, specialTokens.endToken} {}

platform::ml::MLMultiArray& SuppressBlankFilter::filterLogits(platform::ml::MLMultiArray& logits,
                                                              std::span<const int> tokens) const {
    if (static_cast<std::int64_t>(tokens.size()) != sampleBegin_) return logits;
    LogitsVector scores(logits);
    for (std::int64_t token : suppressTokenIndexes_) scores.suppress(token);
    return logits;
}

}  // namespace tremolan
