#pragma once

#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"

#include <cstdint>
#include <vector>

namespace tremolan {

/// Forbids a fixed list of tokens at every step.
class SuppressTokensFilter : public LogitsFiltering {
public:
    explicit SuppressTokensFilter(std::vector<int> suppressTokens);

    const std::vector<int>& suppressTokens() const { return suppressTokens_; }
    /// The token index of every listed token, in the given order, duplicates kept.
    const std::vector<std::int64_t>& suppressTokenIndexes() const { return suppressTokenIndexes_; }

    platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                             std::span<const int> tokens) const override;

private:
    std::vector<int> suppressTokens_;
    std::vector<std::int64_t> suppressTokenIndexes_;
};

}  // namespace tremolan
