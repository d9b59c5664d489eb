#include "Tremolan/Core/Decoding/Filters/TimestampRulesFilter.hpp"

#include "KorbitCore/Logging.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Tremolan/Core/Decoding/LogitsVector.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

namespace tremolan {

using korbit::Logging;
namespace kernels = platform::ml::kernels;

TimestampRulesFilter::TimestampRulesFilter(SpecialTokens specialTokens, int sampleBegin,
                                           std::optional<int> maxInitialTimestampIndex, bool isModelMultilingual)
    : specialTokens_(specialTokens),
      sampleBegin_(sampleBegin),
      maxInitialTimestampIndex_(maxInitialTimestampIndex),
      isModelMultilingual_(isModelMultilingual) {}

std::optional<int> TimestampRulesFilter::sampleBegin(std::span<const int> tokens) const {
    if (!isModelMultilingual_) return sampleBegin_;
    for (std::size_t p = 0; p < std::min<std::size_t>(3, tokens.size()); ++p) {
        if (tokens[p] == specialTokens_.transcribeToken || tokens[p] == specialTokens_.translateToken)
            return std::max(static_cast<int>(p) + 1, sampleBegin_);
    }
    return std::nullopt;
}

platform::ml::MLMultiArray& TimestampRulesFilter::filterLogits(platform::ml::MLMultiArray& logits,
                                                               std::span<const int> tokens) const {
    const auto begin = sampleBegin(tokens);
    if (!begin || static_cast<std::int64_t>(tokens.size()) < *begin) return logits;
    LogitsVector scores(logits);
    const int T = specialTokens_.timeTokenBegin;
    scores.suppress(specialTokens_.noTimestampsToken);

    if (static_cast<std::int64_t>(tokens.size()) > *begin) {
        const auto sampled = tokens.subspan(static_cast<std::size_t>(*begin));
        const bool lastWasTimestamp = sampled.back() >= T;
        const bool penultimateWasTimestamp = sampled.size() < 2 || sampled[sampled.size() - 2] >= T;
        if (lastWasTimestamp) {
            if (penultimateWasTimestamp) {
                scores.suppressRange(T, scores.size());  // a pair is closed: text must follow
            } else {
                scores.suppressRange(0, specialTokens_.endToken);  // an open timestamp: close it
            }
        }
        const auto lastTimestamp = std::find_if(sampled.rbegin(), sampled.rend(), [T](int t) { return t >= T; });
        if (lastTimestamp != sampled.rend()) {
            const std::int64_t bound =
                (lastWasTimestamp && !penultimateWasTimestamp) ? *lastTimestamp : std::int64_t{*lastTimestamp} + 1;
            scores.suppressRange(T, bound);  // timestamps never decrease
        }
    }

    if (sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(scores, T)) scores.suppressRange(0, T);
    return logits;
}

bool TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const LogitsVector& scores,
                                                                              int timeTokenBegin) {
    // log softmax shares one normaliser, so comparing the largest text score with the log-sum-exp of
    // the timestamp scores, both taken relative to the overall maximum, decides the same question.
    thread_local std::vector<float> values;
    const std::int64_t o = std::clamp<std::int64_t>(timeTokenBegin, 0, scores.size());
    float maxText = 0;
    std::size_t at = 0;
    try {
        if (const std::uint16_t* bits = scores.contiguousBits()) {
            maxText = kernels::halfMaximumAndIndex(bits, static_cast<std::size_t>(o), at);
        } else {
            scores.toFloat(values, 0, o);
            maxText = kernels::maximumAndIndex(values.data(), values.size(), at);
        }
        scores.toFloat(values, o, scores.size());
    } catch (const std::exception& error) {
        Logging::error({"TimestampRulesFilter error: ", error.what()}, "");
        return false;
    }
    const float maxTimestamp = kernels::maximumAndIndex(values.data(), values.size(), at);
    constexpr float infinity = std::numeric_limits<float>::infinity();
    if (maxTimestamp == -infinity) return false;  // no timestamp can be chosen
    if (maxText == -infinity) return true;
    const float maximum = std::max(maxText, maxTimestamp);
    if (maximum == infinity) return maxText < maxTimestamp;  // infinite scores take all the mass
    const float timestampLogProb = std::log(kernels::sumOfExponentials(values.data(), values.size(), maximum));
    return maxText - maximum < timestampLogProb;
}

}  // namespace tremolan
