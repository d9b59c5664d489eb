#pragma once

#include "Tremolan/Core/Records/DecodingCache.hpp"
#include "Tremolan/Core/Records/DecodingFallback.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// The outcome of decoding one window at one temperature.
struct DecodingResult {
    /// Language code of the window ("en").
    std::string language;
    /// Probability per language code, from language detection; empty when none ran.
    std::map<std::string, float> languageProbs;
    std::vector<int> tokens;
    /// One map per decoded token, from token id to its log probability.
    std::vector<std::map<int, float>> tokenLogProbs;
    std::string text;
    float avgLogProb = 0;
    float noSpeechProb = 0;
    float temperature = 0;
    float compressionRatio = 0;
    std::optional<DecodingCache> cache;
    std::optional<TranscriptionTimings> timings;
    /// The verdict on this attempt; absent when no test fired.
    std::optional<DecodingFallback> fallback;

    /// Empty texts and lists, zero measures, and no cache, timings or verdict.
    static DecodingResult emptyResults() { return DecodingResult{}; }
};

/// The fields in order under their names, for reading by people and tools. The cache (model arrays)
/// is left out, as are absent timings and verdicts.
void to_json(Json& json, const DecodingResult& result);

}  // namespace tremolan
