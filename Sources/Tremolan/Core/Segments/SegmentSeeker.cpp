#include "Tremolan/Core/Segments/SegmentSeeker.hpp"

#include <algorithm>
#include <cmath>

namespace tremolan {
namespace {

/// Seconds per timestamp step. Every time sum below stays in single precision, as the model's
/// timestamps are: a next seek anchored at a timestamp can land a sample short of the exact time.
constexpr float kSecondsPerTimestamp = 0.02f;

struct SegmentBuilder {
    const DecodingResult& result;
    const DecodingOptions& options;
    const WhisperTokenizer& tokenizer;
    std::int64_t firstId;
    std::int64_t seek;
    /// Where the window's audio ends: a timestamp past it points into the silence the window was
    /// padded with, where nothing was said.
    float windowEnd;

    TranscriptionSegment make(std::size_t index, std::size_t begin, std::size_t end, float start, float stop) const {
        TranscriptionSegment segment;
        segment.id = firstId + static_cast<std::int64_t>(index);
        segment.seek = seek;
        segment.start = std::min(start, windowEnd);
        segment.end = std::min(stop, windowEnd);
        std::vector<int> textTokens;
        for (std::size_t i = begin; i < end; ++i) {
            const int token = result.tokens[i];
            segment.tokens.push_back(token);
            if (!options.skipSpecialTokens || token < tokenizer.specialTokens().specialTokenBegin)
                textTokens.push_back(token);
            // The log probabilities run parallel to the tokens; a shorter list leaves the tail out.
            if (i < result.tokenLogProbs.size()) {
                auto& entry = segment.tokenLogProbs.emplace_back();
                for (const auto& [id, logProb] : result.tokenLogProbs[i]) entry.emplace(id, logProb);
            }
        }
        segment.text = tokenizer.decode(textTokens);
        segment.temperature = result.temperature;
        segment.avgLogprob = result.avgLogProb;
        segment.compressionRatio = result.compressionRatio;
        segment.noSpeechProb = result.noSpeechProb;
        return segment;
    }
};

}  // namespace

SeekAndSegments SegmentSeeker::findSeekPointAndSegments(const DecodingResult& decodingResult,
                                                        const DecodingOptions& options, std::int64_t allSegmentsCount,
                                                        std::int64_t currentSeek, std::int64_t segmentSize,
                                                        int sampleRate, int timeToken, int /*specialToken*/,
                                                        const WhisperTokenizer& tokenizer) const {
    const bool confident = options.logProbThreshold && decodingResult.avgLogProb > *options.logProbThreshold;
    if (options.noSpeechThreshold && decodingResult.noSpeechProb > *options.noSpeechThreshold && !confident)
        return {currentSeek + segmentSize, std::nullopt};

    const auto& tokens = decodingResult.tokens;
    const std::size_t n = tokens.size();
    std::vector<bool> isTimestamp(n);
    for (std::size_t i = 0; i < n; ++i) isTimestamp[i] = tokens[i] >= timeToken;

    bool singleTimestampEnding = false;
    bool noTimestampEnding = false;
    if (n >= 3) {
        const bool a = isTimestamp[n - 3], b = isTimestamp[n - 2], c = isTimestamp[n - 1];
        singleTimestampEnding = !a && b && !c;
        noTimestampEnding = !a && !b && !c;
    }

    std::vector<std::size_t> consecutive;
    for (std::size_t i = 1; i < n; ++i)
        if (isTimestamp[i - 1] && isTimestamp[i]) consecutive.push_back(i);

    const float timeOffset = static_cast<float>(currentSeek) / static_cast<float>(sampleRate);
    const float windowSeconds = static_cast<float>(segmentSize) / static_cast<float>(sampleRate);
    const float windowEnd = timeOffset + windowSeconds;
    const SegmentBuilder builder{decodingResult, options, tokenizer, allSegmentsCount, currentSeek, windowEnd};
    auto secondsOf = [timeToken](int token) { return static_cast<float>(token - timeToken) * kSecondsPerTimestamp; };

    auto seekAt = [&](int timestamp) {
        const float samples = secondsOf(timestamp) * static_cast<float>(sampleRate);
        return currentSeek + std::min(static_cast<std::int64_t>(std::trunc(samples)), segmentSize);
    };

    if (consecutive.empty()) {
        // The opening <|0.00|> says nothing about the length; a later timestamp does.
        std::optional<int> lastLater;
        for (int token : tokens)
            if (token > timeToken) lastLater = token;
        const float duration = lastLater ? secondsOf(*lastLater) : windowSeconds;
        std::vector<TranscriptionSegment> segments{builder.make(0, 0, n, timeOffset, timeOffset + duration)};
        // One phrase closed by a timestamp and then the end: the model heard the speech up to that
        // timestamp, not the rest of the window, which the next window decodes.
        if (singleTimestampEnding && tokens[n - 2] > timeToken) return {seekAt(tokens[n - 2]), std::move(segments)};
        return {currentSeek + segmentSize, std::move(segments)};
    }

    std::vector<std::size_t> sliceEnds = consecutive;
    std::size_t lastTimestamp = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (isTimestamp[i]) lastTimestamp = i;
    if (singleTimestampEnding) {
        sliceEnds.push_back(lastTimestamp + 1);
    } else if (noTimestampEnding) {
        sliceEnds.push_back(n);
    }

    std::vector<TranscriptionSegment> segments;
    std::size_t lastSliceStart = 0;
    for (std::size_t end : sliceEnds) {
        std::optional<int> first, last;
        for (std::size_t i = lastSliceStart; i < end; ++i) {
            if (!isTimestamp[i]) continue;
            if (!first) first = tokens[i];
            last = tokens[i];
        }
        // Every slice holds the first timestamp of a pair or the closing one.
        if (first) {
            segments.push_back(builder.make(segments.size(), lastSliceStart, end, timeOffset + secondsOf(*first),
                                            timeOffset + secondsOf(*last)));
        }
        lastSliceStart = end;
    }

    if (noTimestampEnding) return {currentSeek + segmentSize, std::move(segments)};
    const std::size_t anchorIndex = lastSliceStart - (singleTimestampEnding ? 1 : 0);
    return {seekAt(tokens[anchorIndex]), std::move(segments)};
}

}  // namespace tremolan
