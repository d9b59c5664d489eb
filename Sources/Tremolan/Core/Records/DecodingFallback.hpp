#pragma once

#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <optional>
#include <string>

namespace tremolan {

/// The verdict on one decoding attempt: decode the window again at the next temperature, or
/// accept it as silence.
struct DecodingFallback {
    bool needsFallback = false;
    /// "firstTokenLogProbThreshold", "silence", "compressionRatioThreshold" or "logProbThreshold".
    std::string fallbackReason;

    /// Tests, in this order, the first token, silence, the compression ratio and the average
    /// log probability; the first that fires decides. Comparisons are strict, an absent threshold
    /// switches its test off, and a not-a-number value never fires. No verdict when none fires.
    static std::optional<DecodingFallback> verdict(const DecodingOptions& options, bool isFirstTokenLogProbTooLow,
                                                   float noSpeechProb, float compressionRatio, float avgLogProb);

    bool operator==(const DecodingFallback&) const = default;
};

/// {"needsFallback": ..., "fallbackReason": ...}
void to_json(Json& json, const DecodingFallback& fallback);

}  // namespace tremolan
