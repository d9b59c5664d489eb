#pragma once

// What the transcription task asks after each decoded window: how the window's tokens cut into
// timed segments, where the next window starts, and, when asked, the time of every word.

#include "Platform/ML/MultiArray.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tremolan {

/// The next window's first sample, and the window's segments; no segments at all (not an empty
/// list) when the window was skipped as silence.
struct SeekAndSegments {
    std::int64_t seek = 0;
    std::optional<std::vector<TranscriptionSegment>> segments;
};

class SegmentSeeking {
public:
    virtual ~SegmentSeeking() = default;

    /// Cuts the window that starts at `currentSeek` and holds `segmentSize` samples into segments
    /// at pairs of timestamp tokens (ids from `timeToken` on, 0.02 s apart). New segment ids count
    /// on from `allSegmentsCount`. `specialToken` is accepted and not used.
    virtual SeekAndSegments findSeekPointAndSegments(const DecodingResult& decodingResult,
                                                     const DecodingOptions& options, std::int64_t allSegmentsCount,
                                                     std::int64_t currentSeek, std::int64_t segmentSize, int sampleRate,
                                                     int timeToken, int specialToken,
                                                     const WhisperTokenizer& tokenizer) const = 0;

    /// The window's segments with their words timed from the decoder's alignment weights (one row
    /// per token of the segments, in order) and their bounds moved to the words. `segmentSize`,
    /// `options` and `timings` are accepted for implementations that want them.
    virtual std::optional<std::vector<TranscriptionSegment>> addWordTimestamps(
        const std::vector<TranscriptionSegment>& segments, const platform::ml::MLMultiArray& alignmentWeights,
        const WhisperTokenizer& tokenizer, std::int64_t seek, std::int64_t segmentSize,
        std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
        const DecodingOptions& options, const TranscriptionTimings& timings) const = 0;
};

}  // namespace tremolan
