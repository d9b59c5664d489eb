#include "Tremolan/Core/Records/DecodingFallback.hpp"

namespace tremolan {

std::optional<DecodingFallback> DecodingFallback::verdict(const DecodingOptions& options,
                                                          bool isFirstTokenLogProbTooLow, float noSpeechProb,
                                                          float compressionRatio, float avgLogProb) {
    if (isFirstTokenLogProbTooLow) return DecodingFallback{true, "firstTokenLogProbThreshold"};
    // A silent window is accepted, never retried for repetition or low confidence.
    if (options.noSpeechThreshold && noSpeechProb > *options.noSpeechThreshold)
        return DecodingFallback{false, "silence"};
    if (options.compressionRatioThreshold && compressionRatio > *options.compressionRatioThreshold) {
        return DecodingFallback{true, "compressionRatioThreshold"};
    }
    if (options.logProbThreshold && avgLogProb < *options.logProbThreshold)
        return DecodingFallback{true, "logProbThreshold"};
    return std::nullopt;
}

}  // namespace tremolan

namespace tremolan {

void to_json(Json& json, const DecodingFallback& fallback) {
    json = Json::object();
    json["needsFallback"] = fallback.needsFallback;
    json["fallbackReason"] = fallback.fallbackReason;
}

}  // namespace tremolan
