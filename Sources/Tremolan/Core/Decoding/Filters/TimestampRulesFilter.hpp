#pragma once

#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"
#include "Tremolan/Core/Tokenizer/SpecialTokens.hpp"

#include <optional>

namespace tremolan {

class LogitsVector;

/// Keeps the timestamp tokens of a decoding in their grammar: timestamps come in pairs around the
/// text, never decrease, and win outright when together they are likelier than any single other token.
class TimestampRulesFilter : public LogitsFiltering {
public:
    TimestampRulesFilter(SpecialTokens specialTokens, int sampleBegin, std::optional<int> maxInitialTimestampIndex,
                         bool isModelMultilingual);

    const SpecialTokens& specialTokens() const { return specialTokens_; }
    int sampleBegin() const { return sampleBegin_; }
    /// Kept for callers; no rule bounds the first timestamp.
    std::optional<int> maxInitialTimestampIndex() const { return maxInitialTimestampIndex_; }
    bool isModelMultilingual() const { return isModelMultilingual_; }

    platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                             std::span<const int> tokens) const override;

private:
    /// Where the sampled tokens begin: on a multilingual model after the task token among the first
    /// three, and no earlier than sampleBegin; absent when a multilingual prompt has no task token there.
    std::optional<int> sampleBegin(std::span<const int> tokens) const;
    /// True when the timestamps' total probability exceeds that of the likeliest other token. In
    /// single precision over the scores as they stand; never fails the step (logs and answers false).
    static bool sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const LogitsVector& scores, int timeTokenBegin);

    SpecialTokens specialTokens_;
    int sampleBegin_;
    std::optional<int> maxInitialTimestampIndex_;
    bool isModelMultilingual_;
};

}  // namespace tremolan
