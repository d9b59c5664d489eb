#pragma once

// Operations over finished results: moving a segment along the time line, segments as text
// lines, the agreeing beginning and the differing rest of two word sequences, and the merging of
// several results into one. Pure: nothing passed in is changed.

#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/WordTiming.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

struct TranscriptionUtilities {
    /// The segment moved by `seekTime` seconds: its seek by as many 16 kHz samples, its start,
    /// end and words' times by the seconds.
    static TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime);

    /// One line per segment: its text, or with timestamps "[start --> end] " and its text, the
    /// times in seconds with two decimals.
    static std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments,
                                                   bool withTimestamps = true);

    /// The words at the start of `second` that agree with `first` once both are normalised
    /// (lower case, hyphens as blanks, no punctuation, single blanks, trimmed).
    static std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                           const std::vector<WordTiming>& second);
    /// The rest of `second` after that agreeing start.
    static std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                              const std::vector<WordTiming>& second);

    /// One new result from several: the texts joined with a blank (or the confirmed words'
    /// strings concatenated), the segments numbered 0, 1, 2, ... over all results, the first
    /// present language ("en" when none), and the timings combined so that runs in parallel count
    /// their overlap once.
    static std::shared_ptr<TranscriptionResult> mergeTranscriptionResults(
        const std::vector<std::shared_ptr<TranscriptionResult>>& results,
        const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt);

    /// A word as the comparison sees it.
    static std::string normalizedWord(const std::string& word);
};

}  // namespace tremolan
