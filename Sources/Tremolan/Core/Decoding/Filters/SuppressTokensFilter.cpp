#include "Tremolan/Core/Decoding/Filters/SuppressTokensFilter.hpp"

#include "Tremolan/Core/Decoding/LogitsVector.hpp"

namespace tremolan {

SuppressTokensFilter::SuppressTokensFilter(std::vector<int> suppressTokens)
    : suppressTokens_(std::move(suppressTokens)),
      suppressTokenIndexes_(suppressTokens_.begin(), suppressTokens_.end()) {}

platform::ml::MLMultiArray& SuppressTokensFilter::filterLogits(platform::ml::MLMultiArray& logits,
                                                               std::span<const int> /*tokens*/) const {
    if (suppressTokenIndexes_.empty()) return logits;
    LogitsVector scores(logits);
    for (std::int64_t token : suppressTokenIndexes_) scores.suppress(token);
    return logits;
}

}  // namespace tremolan
