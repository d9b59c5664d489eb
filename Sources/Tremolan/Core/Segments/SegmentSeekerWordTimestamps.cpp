// Word timing of the segment seeker: a warping path through the alignment weights gives each token
// a time, the tokenizer groups the tokens into words, duration rules trim words that run too long,
// punctuation joins its neighbour, and the segments take their words.

#include "KorbitCore/Extensions/FloatExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Platform/Text/Unicode.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/StringExtensions.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace tremolan {
namespace {

using platform::ml::MLMultiArray;

constexpr float kSecondsPerFrame = 0.02f;
constexpr std::int64_t kSamplesPerFrame = 320;
/// How far past its segment's closing timestamp a last word may run before it is cut back.
constexpr float kLastWordOverrun = 0.5f;
/// Frames of a full window: the end of the last token when the path is empty.
constexpr int kWindowFrames = 1500;
constexpr float kMedianDurationCap = 0.7f;
constexpr std::array<std::string_view, 6> kSentenceEndMarks = {".", "\u3002", "!", "\uFF01", "?", "\uFF1F"};

bool isSentenceEnd(std::string_view word) {
    return std::find(kSentenceEndMarks.begin(), kSentenceEndMarks.end(), word) != kSentenceEndMarks.end();
}

/// A word belongs to a punctuation set when the set's text holds it; the empty word always does.
bool belongsTo(std::string_view word, std::string_view set) {
    return set.find(word) != std::string_view::npos;
}

bool startsWithHorizontalSpace(std::string_view word) {
    return !word.empty() && platform::text::isHorizontalSpace(platform::text::firstScalar(word));
}

WordTiming joined(const WordTiming& head, const WordTiming& tail, const WordTiming& timesOf) {
    WordTiming word{head.word + tail.word, head.tokens, timesOf.start, timesOf.end, timesOf.probability};
    word.tokens.insert(word.tokens.end(), tail.tokens.begin(), tail.tokens.end());
    return word;
}

float r2(float value) {
    return korbit::rounded(value, 2);
}

/// A [rows, used] array of the weights' type holding the first `used` of the `frames` frames of the
/// weights' rows `rows`, in order. Rows past the weights (more tokens than the decoder kept) stay zero.
MLMultiArray selectRows(const MLMultiArray& weights, const std::vector<std::int64_t>& rows, std::int64_t sourceRows,
                        std::int64_t frames, std::int64_t used) {
    MLMultiArray selected({static_cast<std::int64_t>(rows.size()), used}, weights.dataType());
    if (weights.isContiguous()) {
        const std::size_t elementSize = platform::ml::elementSize(weights.dataType());
        const std::size_t rowBytes = static_cast<std::size_t>(frames) * elementSize;
        const std::size_t usedBytes = static_cast<std::size_t>(used) * elementSize;
        const auto* from = static_cast<const std::byte*>(weights.bytes());
        auto* to = static_cast<std::byte*>(selected.mutableBytes());
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i] < sourceRows)
                std::memcpy(to + i * usedBytes, from + static_cast<std::size_t>(rows[i]) * rowBytes, usedBytes);
        return selected;
    }
    const std::vector<float> source = weights.toFloatVector();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] >= sourceRows) continue;
        const std::int64_t to = static_cast<std::int64_t>(i) * used;
        for (std::int64_t f = 0; f < used; ++f)
            selected.setValue(to + f, source[static_cast<std::size_t>(rows[i] * frames + f)]);
    }
    return selected;
}

/// How many of a window's `frames` its words may lie in: the frames up to where its tokens put the
/// end of their speech (the closing timestamp of its last segment, and the overrun a last word may
/// have), or up to the end of its audio when the text runs on without one; never the silence the
/// window is padded with. Where the model heard nothing its attention points anywhere, and words
/// timed there would take the next window past speech no window decoded.
std::int64_t spokenFrames(const std::vector<TranscriptionSegment>& segments, std::int64_t seek,
                          std::int64_t segmentSize, const SpecialTokens& special, std::int64_t frames) {
    std::int64_t spoken = std::clamp<std::int64_t>((segmentSize + kSamplesPerFrame - 1) / kSamplesPerFrame, 1, frames);
    const auto last = std::find_if(segments.rbegin(), segments.rend(), [](const auto& s) { return !s.tokens.empty(); });
    if (last == segments.rend()) return spoken;
    const auto closing = std::find_if(last->tokens.rbegin(), last->tokens.rend(),
                                      [&](std::int64_t token) { return token != special.endToken; });
    if (closing != last->tokens.rend() && *closing >= special.timeTokenBegin) {
        // Whole frames only: a last word then ends short of the overrun that would cut it back.
        const float seconds = last->end - static_cast<float>(seek) / Constants::sampleRate + kLastWordOverrun;
        const float closingFrames = std::floor(seconds / kSecondsPerFrame);
        if (closingFrames < static_cast<float>(spoken))
            spoken = std::max<std::int64_t>(1, static_cast<std::int64_t>(closingFrames));
    }
    return spoken;
}

}  // namespace

std::pair<double, int> SegmentSeeker::minCostAndTrace(double costDiagonal, double costUp, double costLeft,
                                                      double matrixValue) const {
    const double c0 = costDiagonal - matrixValue;
    const double c1 = costUp - matrixValue;
    const double c2 = costLeft - matrixValue;
    if (c0 < c1 && c0 < c2) return {c0, 0};
    if (c1 < c0 && c1 < c2) return {c1, 1};
    return {c2, 2};
}

AlignmentPath SegmentSeeker::dynamicTimeWarping(const MLMultiArray& matrix) const {
    if (matrix.shape().size() != 2) throw WhisperError::segmentingFailed("Invalid alignment matrix shape");
    const std::int64_t rows = matrix.shape()[0];
    const std::int64_t columns = matrix.shape()[1];
    const std::vector<float> weights = matrix.toFloatVector();

    const std::int64_t width = columns + 1;
    std::vector<double> cost(static_cast<std::size_t>((rows + 1) * width), std::numeric_limits<double>::infinity());
    TraceMatrix trace{rows + 1, width, std::vector<std::int8_t>(static_cast<std::size_t>((rows + 1) * width), -1)};
    cost[0] = 0;
    for (std::int64_t j = 1; j <= columns; ++j) trace.codes[static_cast<std::size_t>(j)] = 2;
    for (std::int64_t i = 1; i <= rows; ++i) trace.codes[static_cast<std::size_t>(i * width)] = 1;

    for (std::int64_t i = 1; i <= rows; ++i) {
        const double* above = cost.data() + (i - 1) * width;
        double* here = cost.data() + i * width;
        std::int8_t* codes = trace.codes.data() + i * width;
        const float* weightRow = weights.data() + (i - 1) * columns;
        for (std::int64_t j = 1; j <= columns; ++j) {
            // Subtracting the weight makes the cheapest path the one that collects the most attention.
            const auto [value, code] = minCostAndTrace(above[j - 1], above[j], here[j - 1], weightRow[j - 1]);
            here[j] = value;
            codes[j] = static_cast<std::int8_t>(code);
        }
    }
    return backtrace(trace);
}

AlignmentPath SegmentSeeker::backtrace(const TraceMatrix& trace) const {
    AlignmentPath path;
    std::int64_t i = trace.rows - 1;
    std::int64_t j = trace.columns - 1;
    while (i > 0 || j > 0) {
        path.textIndices.push_back(i - 1);
        path.timeIndices.push_back(j - 1);
        const int code = trace.at(i, j);
        if (code == 0) {
            --i;
            --j;
        } else if (code == 1) {
            --i;
        } else if (code == 2) {
            --j;
        } else {
            break;  // A cell no step reached: the path cannot go on.
        }
    }
    std::reverse(path.textIndices.begin(), path.textIndices.end());
    std::reverse(path.timeIndices.begin(), path.timeIndices.end());
    return path;
}

std::vector<WordTiming> SegmentSeeker::findAlignment(const std::vector<int>& wordTokenIds,
                                                     const MLMultiArray& alignmentWeights,
                                                     const std::vector<float>& tokenLogProbs,
                                                     const WhisperTokenizer& tokenizer,
                                                     const TranscriptionTimings* /*timings*/) const {
    const AlignmentPath path = dynamicTimeWarping(alignmentWeights);
    const WordSplit split = tokenizer.splitToWordTokens(wordTokenIds);
    if (split.words.size() < 2) return {};

    // A token starts where the path first reaches its row and ends where the next token starts.
    std::vector<float> startTimes{0.0f};
    std::vector<float> endTimes;
    for (std::size_t p = 1; p < path.textIndices.size(); ++p) {
        if (path.textIndices[p] == path.textIndices[p - 1]) continue;
        const float jump = static_cast<float>(path.timeIndices[p]) * kSecondsPerFrame;
        startTimes.push_back(jump);
        endTimes.push_back(jump);
    }
    endTimes.push_back(path.timeIndices.empty() ? static_cast<float>(kWindowFrames) * kSecondsPerFrame
                                                : static_cast<float>(path.timeIndices.back()) * kSecondsPerFrame);

    std::vector<WordTiming> words;
    std::size_t q = 0;
    for (std::size_t w = 0; w < split.words.size(); ++w) {
        const auto& tokens = split.wordTokens[w];
        const std::size_t count = tokens.size();
        if (count == 0) continue;
        if (q + count > startTimes.size()) break;  // More tokens than the path has rows.
        // Positions without a log probability are left out of the mean; a word with none at all
        // gets probability 0 rather than a value the writers cannot store.
        float sum = 0;
        int known = 0;
        for (std::size_t k = q; k < q + count; ++k) {
            if (k < tokenLogProbs.size() && !std::isnan(tokenLogProbs[k])) {
                sum += tokenLogProbs[k];
                ++known;
            }
        }
        const float probability = known > 0 ? std::exp(sum / static_cast<float>(known)) : 0.0f;
        words.push_back(WordTiming{split.words[w], std::vector<std::int64_t>(tokens.begin(), tokens.end()),
                                   startTimes[q], endTimes[q + count - 1], probability});
        q += count;
    }
    return words;
}

WordDurationConstraints SegmentSeeker::calculateWordDurationConstraints(
    const std::vector<WordTiming>& alignment) const {
    std::vector<float> durations;
    for (const auto& word : alignment) {
        const float duration = word.end - word.start;
        if (duration > 0) durations.push_back(duration);
    }
    float median = 0;
    if (!durations.empty()) {
        std::sort(durations.begin(), durations.end());
        median = durations[durations.size() / 2];
    }
    median = std::min(median, kMedianDurationCap);
    return {median, 2 * median};
}

std::vector<WordTiming> SegmentSeeker::truncateLongWordsAtSentenceBoundaries(const std::vector<WordTiming>& alignment,
                                                                             float maxDuration) const {
    std::vector<WordTiming> words = alignment;
    if (words.size() < 2) return words;
    for (std::size_t i = 1; i < words.size(); ++i) {
        auto& word = words[i];
        if (!(word.end - word.start > maxDuration)) continue;
        if (isSentenceEnd(word.word)) {
            word.end = word.start + maxDuration;
        } else if (isSentenceEnd(words[i - 1].word)) {
            word.start = word.end - maxDuration;
        }
    }
    return words;
}

std::vector<WordTiming> SegmentSeeker::mergePunctuations(const std::vector<WordTiming>& alignment,
                                                         std::string_view prepended, std::string_view appended) const {
    if (alignment.empty()) return {};

    // Prepended marks, written after a space, join the next word and take its times.
    std::vector<WordTiming> prependMerged;
    if (!belongsTo(trimmingHorizontalWhitespace(alignment.front().word), prepended))
        prependMerged.push_back(alignment.front());
    for (std::size_t i = 1; i < alignment.size(); ++i) {
        const auto& previous = alignment[i - 1];
        const bool merges = startsWithHorizontalSpace(previous.word) &&
                            belongsTo(trimmingHorizontalWhitespace(previous.word), prepended);
        if (!merges) {
            prependMerged.push_back(alignment[i]);
        } else if (prependMerged.empty()) {
            prependMerged.push_back(joined(previous, alignment[i], alignment[i]));
        } else {
            // The last entry ends with the previous word, merged or not: a run of marks stays whole.
            prependMerged.back() = joined(prependMerged.back(), alignment[i], alignment[i]);
        }
    }
    if (prependMerged.empty()) return {};

    // Appended marks join the word before them, unless it ends in a space, and take its times.
    std::vector<WordTiming> appendMerged{prependMerged.front()};
    for (std::size_t k = 0; k + 1 < prependMerged.size(); ++k) {
        const auto& current = prependMerged[k];
        const auto& next = prependMerged[k + 1];
        const bool merges =
            !(current.word.ends_with(' ')) && belongsTo(trimmingHorizontalWhitespace(next.word), appended);
        if (merges) {
            appendMerged.back() = joined(appendMerged.back(), next, appendMerged.back());
        } else {
            appendMerged.push_back(next);
        }
    }

    // Marks that found no neighbour are no words of their own.
    std::vector<WordTiming> words;
    for (auto& word : appendMerged) {
        if (!word.word.empty() && !belongsTo(word.word, appended) && !belongsTo(word.word, prepended))
            words.push_back(std::move(word));
    }
    return words;
}

std::optional<std::vector<TranscriptionSegment>> SegmentSeeker::addWordTimestamps(
    const std::vector<TranscriptionSegment>& segments, const MLMultiArray& alignmentWeights,
    const WhisperTokenizer& tokenizer, std::int64_t seek, std::int64_t segmentSize,
    std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
    const DecodingOptions& /*options*/, const TranscriptionTimings& timings) const {
    std::vector<int> wordTokenIds;
    std::vector<std::int64_t> rows;
    std::vector<float> tokenLogProbs;
    std::int64_t offset = 0;
    for (const auto& segment : segments) {
        for (std::size_t k = 0; k < segment.tokens.size(); ++k) {
            const auto token = segment.tokens[k];
            wordTokenIds.push_back(static_cast<int>(token));
            rows.push_back(offset + static_cast<std::int64_t>(k));
            // Kept parallel to the tokens: a token without its value is marked, not skipped.
            float logProb = std::numeric_limits<float>::quiet_NaN();
            if (k < segment.tokenLogProbs.size()) {
                const auto found = segment.tokenLogProbs[k].find(token);
                if (found != segment.tokenLogProbs[k].end()) logProb = found->second;
            }
            tokenLogProbs.push_back(logProb);
        }
        offset += static_cast<std::int64_t>(segment.tokens.size());
    }

    const auto& shape = alignmentWeights.shape();
    if (shape.empty()) throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
    const std::int64_t frames = shape.back();
    const std::int64_t sourceRows = frames > 0 ? alignmentWeights.count() / frames : 0;

    std::vector<WordTiming> alignment;
    WordDurationConstraints constraints;
    // A window without tokens, or weights without frames, has no path to follow: its segments keep
    // their bounds and get no words.
    if (!rows.empty() && frames > 0) {
        const std::int64_t used = spokenFrames(segments, seek, segmentSize, tokenizer.specialTokens(), frames);
        const MLMultiArray selected = selectRows(alignmentWeights, rows, sourceRows, frames, used);
        korbit::Logging::debug({"Alignment weights shape: ", platform::ml::formatShape(selected.shape())}, "");
        alignment = findAlignment(wordTokenIds, selected, tokenLogProbs, tokenizer, &timings);
        constraints = calculateWordDurationConstraints(alignment);
        alignment = truncateLongWordsAtSentenceBoundaries(alignment, constraints.max);
        if (!alignment.empty()) alignment = mergePunctuations(alignment, prependPunctuations, appendPunctuations);
    }
    return updateSegmentsWithWordTimings(segments, alignment, seek, lastSpeechTimestamp, constraints.median,
                                         constraints.max, tokenizer);
}

std::vector<TranscriptionSegment> SegmentSeeker::updateSegmentsWithWordTimings(
    const std::vector<TranscriptionSegment>& segments, const std::vector<WordTiming>& mergedAlignment,
    std::int64_t seek, float lastSpeechTimestamp, float constrainedMedianDuration, float maxDuration,
    const WhisperTokenizer& tokenizer) const {
    const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
    // Word times count from the window's start at the pipeline's fixed rate.
    const float timeOffset = static_cast<float>(seek) / Constants::sampleRate;
    const float m = constrainedMedianDuration;
    const float M = maxDuration;
    float lastSpeech = lastSpeechTimestamp;
    // The end of the last word placed, which no later word starts before.
    std::optional<float> lastWordEnd;
    std::size_t cursor = 0;

    std::vector<TranscriptionSegment> updated;
    updated.reserve(segments.size());
    for (const auto& input : segments) {
        TranscriptionSegment segment = input;
        const auto textTokenCount =
            static_cast<std::size_t>(std::count_if(segment.tokens.begin(), segment.tokens.end(),
                                                   [&](std::int64_t token) { return token < specialTokenBegin; }));
        std::vector<WordTiming> words;
        std::size_t consumed = 0;
        while (consumed < textTokenCount && cursor < mergedAlignment.size()) {
            const WordTiming& timing = mergedAlignment[cursor++];
            std::vector<std::int64_t> textTokens;
            for (auto token : timing.tokens)
                if (token < specialTokenBegin) textTokens.push_back(token);
            if (textTokens.empty()) continue;
            std::string text = timing.word;
            if (textTokens.size() != timing.tokens.size()) {
                const std::vector<int> ids(textTokens.begin(), textTokens.end());
                text = tokenizer.decode(ids);
            }
            float start = r2(timeOffset + timing.start);
            const float end = r2(timeOffset + timing.end);
            if (end - start < m * 0.25f) {
                // A very short word may start earlier, into the pause before it.
                std::optional<float> previousEnd;
                if (!words.empty()) {
                    previousEnd = words.back().end;
                } else if (!updated.empty()) {
                    previousEnd = updated.back().end;
                }
                if (previousEnd && *previousEnd < start) start = r2(start - std::min(m * 0.5f, start - *previousEnd));
            }
            consumed += textTokens.size();
            words.push_back(WordTiming{std::move(text), std::move(textTokens), start, end, r2(timing.probability)});
        }

        if (!words.empty()) {
            WordTiming& first = words.front();
            // A first word that runs long right after a pause starts at most maxDuration before its end.
            if (first.end - lastSpeech > m * 4 &&
                (first.end - first.start > M || (words.size() >= 2 && words[1].end - first.start > M * 2))) {
                if (words.size() >= 2 && words[1].end - words[1].start > M) {
                    const float boundary = std::max(words[1].end * 0.5f, words[1].end - M);
                    first.end = boundary;
                    words[1].start = boundary;
                }
                first.start = std::max(lastSpeech, first.end - M);
            }
            // A first word that starts long before its segment moves toward it, and a last word that
            // runs long past it is cut back; either may still lie a little outside the segment's
            // timestamps.
            if (segment.start < first.end && first.start < segment.start - kLastWordOverrun)
                first.start = std::max(0.0f, std::min(segment.start, first.end - m));
            WordTiming& last = words.back();
            if (last.start < segment.end && segment.end + kLastWordOverrun < last.end)
                last.end = std::max(segment.end, last.start + m);
            // The rules move words earlier and later, but none back before the word before it; and
            // the segment spans its words.
            for (WordTiming& w : words) {
                if (lastWordEnd) w.start = std::max(w.start, *lastWordEnd);
                w.end = std::max(w.end, w.start);
                lastWordEnd = w.end;
            }
            segment.start = first.start;
            segment.end = last.end;
            lastSpeech = segment.end;
        } else if (lastWordEnd) {
            // A segment of timestamps alone lies after the words before it.
            segment.start = std::max(segment.start, *lastWordEnd);
            segment.end = std::max(segment.end, segment.start);
        }
        segment.words = std::move(words);
        updated.push_back(std::move(segment));
    }
    return updated;
}

}  // namespace tremolan
