#include "Tremolan/Core/Records/TranscriptionUtilities.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Platform/Text/Unicode.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <algorithm>
#include <array>

namespace tremolan {
namespace {

using Field = double TranscriptionTimings::*;

/// The fields that add up over results.
constexpr std::array<Field, 23> kSummedFields = {
    &TranscriptionTimings::inputAudioSeconds,
    &TranscriptionTimings::audioLoading,
    &TranscriptionTimings::audioProcessing,
    &TranscriptionTimings::logmels,
    &TranscriptionTimings::encoding,
    &TranscriptionTimings::decodingInit,
    &TranscriptionTimings::decodingLoop,
    &TranscriptionTimings::decodingPredictions,
    &TranscriptionTimings::decodingFiltering,
    &TranscriptionTimings::decodingSampling,
    &TranscriptionTimings::decodingFallback,
    &TranscriptionTimings::decodingWindowing,
    &TranscriptionTimings::decodingKvCaching,
    &TranscriptionTimings::decodingWordTimestamps,
    &TranscriptionTimings::decodingNonPrediction,
    &TranscriptionTimings::totalAudioProcessingRuns,
    &TranscriptionTimings::totalLogmelRuns,
    &TranscriptionTimings::totalEncodingRuns,
    &TranscriptionTimings::totalDecodingLoops,
    &TranscriptionTimings::totalKVUpdateRuns,
    &TranscriptionTimings::totalTimestampAlignmentRuns,
    &TranscriptionTimings::totalDecodingFallbacks,
    &TranscriptionTimings::totalDecodingWindows,
};

/// Load times: results loaded the same models, so the longest stands for all.
constexpr std::array<Field, 5> kLargestFields = {
    &TranscriptionTimings::modelLoading,      &TranscriptionTimings::prewarmLoadTime,
    &TranscriptionTimings::encoderLoadTime,   &TranscriptionTimings::decoderLoadTime,
    &TranscriptionTimings::tokenizerLoadTime,
};

TranscriptionTimings mergeTimings(const std::vector<TranscriptionTimings>& timings) {
    TranscriptionTimings merged;
    const bool none = timings.empty();
    auto fold = [&](Field field, auto pick, double start) {
        double value = start;
        for (const TranscriptionTimings& t : timings) value = pick(value, t.*field);
        return value;
    };
    auto smallest = [](double a, double b) { return std::min(a, b); };
    auto largest = [](double a, double b) { return std::max(a, b); };
    auto sum = [](double a, double b) { return a + b; };

    merged.pipelineStart = none ? 0 : fold(&TranscriptionTimings::pipelineStart, smallest, timings[0].pipelineStart);
    merged.firstTokenTime = none ? 0 : fold(&TranscriptionTimings::firstTokenTime, smallest, timings[0].firstTokenTime);
    for (Field field : kLargestFields) merged.*field = none ? 0 : fold(field, largest, timings[0].*field);
    merged.encoderSpecializationTime = 0;
    merged.decoderSpecializationTime = 0;
    for (Field field : kSummedFields) merged.*field = fold(field, sum, 0.0);

    // Runs that overlapped count their common time once; runs one after the other their own times.
    const double totalTime = fold(&TranscriptionTimings::fullPipeline, sum, 0.0);
    double lastEnd = 0;
    for (const TranscriptionTimings& t : timings) lastEnd = std::max(lastEnd, t.pipelineStart + t.fullPipeline);
    merged.fullPipeline = std::min(totalTime, lastEnd - merged.pipelineStart);
    return merged;
}

}  // namespace

TranscriptionSegment TranscriptionUtilities::updateSegmentTimings(const TranscriptionSegment& segment, float seekTime) {
    TranscriptionSegment moved = segment;
    const float shiftSamples = seekTime * Constants::sampleRate;
    moved.seek += static_cast<std::int64_t>(shiftSamples);
    moved.start += seekTime;
    moved.end += seekTime;
    if (moved.words) {
        for (WordTiming& word : *moved.words) {
            word.start += seekTime;
            word.end += seekTime;
        }
    }
    return moved;
}

std::vector<std::string> TranscriptionUtilities::formatSegments(const std::vector<TranscriptionSegment>& segments,
                                                                bool withTimestamps) {
    std::vector<std::string> lines;
    lines.reserve(segments.size());
    for (const TranscriptionSegment& segment : segments) {
        if (withTimestamps) {
            // Appended piece by piece: GCC's -O3 misreads a chain of concatenations here.
            std::string line = "[";
            line += korbit::fixedDecimal(segment.start, 2);
            line += " --> ";
            line += korbit::fixedDecimal(segment.end, 2);
            line += "] ";
            line += segment.text;
            lines.push_back(std::move(line));
        } else {
            lines.push_back(segment.text);
        }
    }
    return lines;
}

std::string TranscriptionUtilities::normalizedWord(const std::string& word) {
    std::u32string kept;
    for (char32_t c : platform::text::toUtf32(platform::text::toLower(word))) {
        if (c == U'-') c = U' ';
        if (platform::text::isPunctuation(c)) continue;
        // Runs of blanks become one.
        if (c == U' ' && !kept.empty() && kept.back() == U' ') continue;
        kept.push_back(c);
    }
    std::size_t first = 0, last = kept.size();
    while (first < last && platform::text::isWhiteSpace(kept[first])) ++first;
    while (last > first && platform::text::isWhiteSpace(kept[last - 1])) --last;
    return platform::text::fromUtf32(std::u32string_view(kept).substr(first, last - first));
}

std::vector<WordTiming> TranscriptionUtilities::findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                                        const std::vector<WordTiming>& second) {
    std::size_t n = 0;
    while (n < first.size() && n < second.size() && normalizedWord(first[n].word) == normalizedWord(second[n].word)) {
        ++n;
    }
    return std::vector<WordTiming>(second.begin(), second.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<WordTiming> TranscriptionUtilities::findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                                           const std::vector<WordTiming>& second) {
    const std::size_t n = findLongestCommonPrefix(first, second).size();
    return std::vector<WordTiming>(second.begin() + static_cast<std::ptrdiff_t>(n), second.end());
}

std::shared_ptr<TranscriptionResult> TranscriptionUtilities::mergeTranscriptionResults(
    const std::vector<std::shared_ptr<TranscriptionResult>>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords) {
    std::string text;
    if (confirmedWords) {
        for (const WordTiming& word : *confirmedWords) text += word.word;
    } else {
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (i > 0) text += " ";
            if (results[i]) text += results[i]->text();
        }
    }

    std::vector<TranscriptionSegment> segments;
    std::vector<TranscriptionTimings> timings;
    std::string language;
    std::size_t present = 0;
    for (const auto& result : results) {
        if (!result) continue;
        if (present == 0) language = result->language();
        for (TranscriptionSegment& segment : result->segments()) {
            // One count over all results: the merged result's ids are unique and in order.
            segment.id = static_cast<std::int64_t>(segments.size());
            segments.push_back(std::move(segment));
        }
        timings.push_back(result->timings());
        ++present;
    }
    if (present == 0) language = "en";
    return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments), std::move(language),
                                                 mergeTimings(timings), std::nullopt);
}

}  // namespace tremolan
