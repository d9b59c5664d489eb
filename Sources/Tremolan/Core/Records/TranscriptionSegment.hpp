#pragma once

#include "Tremolan/Core/Records/WordTiming.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// One timed stretch of text with the decoding measures of the window it came from.
struct TranscriptionSegment {
    /// Number of the segment in the whole transcription, from 0 across windows.
    std::int64_t id = 0;
    /// Seek position (sample index into the input) of the window the segment was decoded from.
    std::int64_t seek = 0;
    float start = 0;
    float end = 0;
    std::string text;
    std::vector<std::int64_t> tokens;
    /// One map per token, from token id to log probability.
    std::vector<std::map<std::int64_t, float>> tokenLogProbs;
    float temperature = 0;
    float avgLogprob = 0;
    float compressionRatio = 0;
    float noSpeechProb = 0;
    /// Present only when word timestamps were computed.
    std::optional<std::vector<WordTiming>> words;

    float duration() const { return end - start; }

    bool operator==(const TranscriptionSegment&) const = default;
};

/// The twelve fields by name; "words" left out when absent; "tokenLogProbs" as objects keyed by
/// the token ids in decimal.
void to_json(Json& json, const TranscriptionSegment& segment);
void from_json(const Json& json, TranscriptionSegment& segment);

}  // namespace tremolan

template <>
struct std::hash<tremolan::TranscriptionSegment> {
    std::size_t operator()(const tremolan::TranscriptionSegment& segment) const noexcept;
};
