#pragma once

#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"

#include <cstdint>
#include <set>
#include <vector>

namespace tremolan {

/// Leaves only the language tokens open: what language detection samples from.
class LanguageLogitsFilter : public LogitsFiltering {
public:
    /// Throws std::invalid_argument for a negative logitsDim.
    LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim, int sampleBegin);

    const std::set<int>& allLanguageTokens() const { return allLanguageTokens_; }
    int logitsDim() const { return logitsDim_; }
    int sampleBegin() const { return sampleBegin_; }
    /// Every index in [0, logitsDim) that is not a language token, ascending.
    const std::vector<std::int64_t>& nonLanguageTokenIndexes() const { return nonLanguageTokenIndexes_; }

    /// Acts once the sequence holds sampleBegin tokens or more.
    platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                             std::span<const int> tokens) const override;

private:
    static std::vector<std::int64_t> getNonLanguageTokenIndexes(int logitsDim, const std::set<int>& allLanguageTokens);

    std::set<int> allLanguageTokens_;
    int logitsDim_;
    int sampleBegin_;
    std::vector<std::int64_t> nonLanguageTokenIndexes_;
};

}  // namespace tremolan
