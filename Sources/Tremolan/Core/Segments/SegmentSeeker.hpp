#pragma once

// The default segment seeker: segments and the next seek from the window's timestamp tokens, and
// word times from a dynamic-time-warping path through the decoder's alignment weights. Holds no
// state; one object may serve several runs at once.

#include "Tremolan/Core/Records/WordTiming.hpp"
#include "Tremolan/Core/Segments/SegmentSeeking.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tremolan {

/// A warping path from its first step to its last: row (token) and column (frame) of each step.
struct AlignmentPath {
    std::vector<std::int64_t> textIndices;
    std::vector<std::int64_t> timeIndices;

    bool operator==(const AlignmentPath&) const = default;
};

/// The step codes of a warping: 0 diagonal, 1 up (previous token), 2 left (previous frame), -1
/// none; `rows` x `columns` codes in row-major order.
struct TraceMatrix {
    std::int64_t rows = 0;
    std::int64_t columns = 0;
    std::vector<std::int8_t> codes;

    int at(std::int64_t row, std::int64_t column) const {
        return codes[static_cast<std::size_t>(row * columns + column)];
    }
};

/// The median and the longest duration a word may have, in seconds.
struct WordDurationConstraints {
    float median = 0;
    float max = 0;
};

class SegmentSeeker : public SegmentSeeking {
public:
    SegmentSeeker() = default;

    /// The next window starts at the timestamp that closed this one's speech (the second of its
    /// last pair, or a closing timestamp before the end token), or after the whole window when its
    /// text runs on to the end. No time lies past the window's audio.
    SeekAndSegments findSeekPointAndSegments(const DecodingResult& decodingResult, const DecodingOptions& options,
                                             std::int64_t allSegmentsCount, std::int64_t currentSeek,
                                             std::int64_t segmentSize, int sampleRate, int timeToken, int specialToken,
                                             const WhisperTokenizer& tokenizer) const override;

    /// The cheapest path through the negated weights of a [tokens, frames] matrix. Throws
    /// WhisperError::segmentingFailed "Invalid alignment matrix shape" unless the matrix has two
    /// dimensions.
    virtual AlignmentPath dynamicTimeWarping(const platform::ml::MLMultiArray& matrix) const;
    /// The cheapest of the three steps into a cell and its code; ties go to the left step.
    virtual std::pair<double, int> minCostAndTrace(double costDiagonal, double costUp, double costLeft,
                                                   double matrixValue) const;
    /// The path that leads to the last cell, from the first step on.
    virtual AlignmentPath backtrace(const TraceMatrix& trace) const;
    /// Punctuation joined to its neighbour word: prepended marks (after a space) to the next word,
    /// appended marks to the previous one; marks that found no neighbour are dropped. A run of marks
    /// joins as a whole, so no word is lost to a second merge.
    virtual std::vector<WordTiming> mergePunctuations(const std::vector<WordTiming>& alignment,
                                                      std::string_view prepended, std::string_view appended) const;
    /// The words of the tokens with their times along the warping path (seconds from the window's
    /// start) and probabilities; empty when the tokens make fewer than two words.
    virtual std::vector<WordTiming> findAlignment(const std::vector<int>& wordTokenIds,
                                                  const platform::ml::MLMultiArray& alignmentWeights,
                                                  const std::vector<float>& tokenLogProbs,
                                                  const WhisperTokenizer& tokenizer,
                                                  const TranscriptionTimings* timings) const;

    /// Throws WhisperError::segmentingFailed "Invalid shape in alignmentWeights" for weights without
    /// dimensions. Segments without tokens (or weights without frames) come back with empty word
    /// lists and their bounds as they were. The words lie within the window's `segmentSize` samples,
    /// and no later than half a second past the closing timestamp of its last segment.
    std::optional<std::vector<TranscriptionSegment>> addWordTimestamps(
        const std::vector<TranscriptionSegment>& segments, const platform::ml::MLMultiArray& alignmentWeights,
        const WhisperTokenizer& tokenizer, std::int64_t seek, std::int64_t segmentSize,
        std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
        const DecodingOptions& options, const TranscriptionTimings& timings) const override;

    /// The upper median of the positive word durations, at most 0.7 s, and twice that.
    virtual WordDurationConstraints calculateWordDurationConstraints(const std::vector<WordTiming>& alignment) const;
    /// A sentence mark that lasts longer than `maxDuration` ends `maxDuration` after its start; a
    /// word after one starts `maxDuration` before its end. The first word stays.
    virtual std::vector<WordTiming> truncateLongWordsAtSentenceBoundaries(const std::vector<WordTiming>& alignment,
                                                                          float maxDuration) const;
    /// Hands the words to the segments by their text tokens, shifts them by the window's start,
    /// rounds to 0.01 s, and moves the segment bounds to the words: a segment spans its words, and
    /// no word starts before the one before it ended.
    virtual std::vector<TranscriptionSegment> updateSegmentsWithWordTimings(
        const std::vector<TranscriptionSegment>& segments, const std::vector<WordTiming>& mergedAlignment,
        std::int64_t seek, float lastSpeechTimestamp, float constrainedMedianDuration, float maxDuration,
        const WhisperTokenizer& tokenizer) const;
};

}  // namespace tremolan
