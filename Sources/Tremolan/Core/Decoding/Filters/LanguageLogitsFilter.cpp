#include "Tremolan/Core/Decoding/Filters/LanguageLogitsFilter.hpp"

#include "Tremolan/Core/Decoding/LogitsVector.hpp"

#include <stdexcept>
#include <string>

namespace tremolan {

LanguageLogitsFilter::LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim, int sampleBegin)
    : allLanguageTokens_(std::move(allLanguageTokens)), logitsDim_(logitsDim), sampleBegin_(sampleBegin) {
    if (logitsDim < 0)
        throw std::invalid_argument("LanguageLogitsFilter: negative logitsDim " + std::to_string(logitsDim));
    nonLanguageTokenIndexes_ = getNonLanguageTokenIndexes(logitsDim_, allLanguageTokens_);
}

std::vector<std::int64_t> LanguageLogitsFilter::getNonLanguageTokenIndexes(int logitsDim,
                                                                           const std::set<int>& allLanguageTokens) {
    std::vector<std::int64_t> indexes;
    indexes.reserve(static_cast<std::size_t>(logitsDim));
    for (int i = 0; i < logitsDim; ++i)
        if (!allLanguageTokens.contains(i)) indexes.push_back(i);
    return indexes;
}

platform::ml::MLMultiArray& LanguageLogitsFilter::filterLogits(platform::ml::MLMultiArray& logits,
                                                               std::span<const int> tokens) const {
    if (static_cast<std::int64_t>(tokens.size()) < sampleBegin_) return logits;
    LogitsVector scores(logits);
    for (std::int64_t token : nonLanguageTokenIndexes_) scores.suppress(token);
    return logits;
}

}  // namespace tremolan
