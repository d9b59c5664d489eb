// Whole recordings through the transcription task on the trained test model: several windows, the
// seek moving from window to window, segments in order over the speech, words inside their
// segments, and segment bounds at the pauses of a recording whose pauses are known.

#include "ScriptedTextDecoder.hpp"
#include "SpeechReference/WordErrors.hpp"
#include "TimedRecordings.hpp"

#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>

namespace {

using namespace tremolan;
using velmora::dev::wordErrors;
using velmora::test::dataPath;

using Recording = velmora::test::TimedRecording;
using velmora::test::expectOrderedSegments;
using velmora::test::longRecording;

/// The held-out phrases of one language one after another, each preceded by a pause of `pause`
/// seconds beyond the silence the phrase's own file holds.
Recording phrases(const std::string& language, int rounds, double pause) {
    Recording r;
    r.language = language;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& phrase : velmora::test::heldOutRecordings()) {
            if (phrase.language != language) continue;
            r.samples.insert(r.samples.end(), static_cast<std::size_t>(pause * 16000), 0.0f);
            const double offset = static_cast<double>(r.samples.size()) / 16000.0;
            const auto audio = AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + phrase.file));
            r.samples.insert(r.samples.end(), audio.begin(), audio.end());
            r.speech.push_back({offset + phrase.start, offset + phrase.end, phrase.text});
        }
    }
    r.samples.insert(r.samples.end(), static_cast<std::size_t>(pause * 16000), 0.0f);
    return r;
}

std::string referenceText(const Recording& r) {
    std::string text;
    for (const auto& s : r.speech) text += (text.empty() ? "" : " ") + s.text;
    return text;
}

/// Seconds of speech that no segment covers, over all seconds of speech.
double uncoveredShare(const Recording& r, const std::vector<TranscriptionSegment>& segments) {
    double speech = 0, uncovered = 0;
    for (const auto& s : r.speech) {
        speech += s.end - s.start;
        for (double t = s.start; t < s.end; t += 0.01) {
            const bool covered = std::any_of(segments.begin(), segments.end(),
                                             [t](const auto& g) { return g.start <= t && t <= g.end; });
            if (!covered) uncovered += 0.01;
        }
    }
    return uncovered / speech;
}

/// Timed words cover the speech as the segments do: no gap between two words is longer than the
/// recording's longest pause, and the last word ends within a second of the end of the speech.
void expectWordsCoverTheSpeech(const Recording& r, const std::vector<TranscriptionSegment>& segments) {
    double longestPause = 0;
    for (std::size_t i = 0; i + 1 < r.speech.size(); ++i)
        longestPause = std::max(longestPause, r.speech[i + 1].start - r.speech[i].end);
    std::vector<WordTiming> words;
    for (const auto& s : segments)
        if (s.words) words.insert(words.end(), s.words->begin(), s.words->end());
    ASSERT_FALSE(words.empty());
    for (std::size_t k = 1; k < words.size(); ++k) {
        EXPECT_LE(words[k].start - words[k - 1].end, longestPause)
            << "no word from " << words[k - 1].end << " s to " << words[k].start << " s";
    }
    EXPECT_NEAR(words.back().end, r.speech.back().end, 1.0);
}

/// How far a time lies from the nearest pause (0 inside one); the stretches before the first and
/// after the last speech count as pauses.
double distanceFromPause(const Recording& r, double t) {
    double best = std::max(0.0, t - r.speech.front().start);
    for (std::size_t i = 0; i + 1 < r.speech.size(); ++i) {
        const double from = r.speech[i].end, to = r.speech[i + 1].start;
        best = std::min(best, t < from ? from - t : (t > to ? t - to : 0.0));
    }
    return std::min(best, std::max(0.0, r.speech.back().end - t));
}

class TranscribeOnTestModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        model_ = std::make_unique<WindowDecoder>(
            WindowDecoder::load(dataPath("models/test-speech"), velmora::test::multilingualTokenizer()));
    }
    static void TearDownTestSuite() { model_.reset(); }

    struct Run {
        std::shared_ptr<TranscriptionResult> result;
        TranscriptionTimings timings;
        std::int64_t progressTotal = 0, progressCompleted = 0;
    };

    /// The library's default road (timestamps, fallback with seeded draws) in the recording's language.
    static Run transcribe(const Recording& r, bool words) {
        const auto progress = platform::sys::Progress::make(0);
        TranscribeTask task({}, progress, nullptr, model_->audioEncoder, model_->featureExtractor,
                            std::make_shared<SegmentSeeker>(), model_->textDecoder,
                            velmora::test::multilingualTokenizer());
        task.setRandomSource(std::make_shared<SeededRandomSource>(7));
        DecodingOptions options;
        options.language = r.language;
        options.wordTimestamps = words;
        options.skipSpecialTokens = true;
        auto result = task.run(r.samples, options);
        return {result, task.timings(), progress->totalUnitCount(), progress->completedUnitCount()};
    }

    static inline std::unique_ptr<WindowDecoder> model_;
};

// The test model was trained on windows that hold one or two phrases near their start. On a
// window of continuous speech it stops or wanders after a phrase or two; the next window starts
// where it closed the last one, so that the speech after it is still heard. These rates and shares
// are the measured ones of this model (plus two words of margin, and five points of coverage), far
// from those of isolated phrases: they guard the road from window to window, not the model. They
// were the same on OpenBLAS's Haswell, Zen, Sandybridge, SkylakeX and Cooperlake kernels, the avx2,
// avx512 and portable paths and 1 to 8 threads. The road that
// took a window of one phrase as done whole left 23 to 53% of the speech uncovered.
TEST_F(TranscribeOnTestModel, LongRecordingsWalkSeveralWindows) {
    struct Case {
        const char* name;
        bool words;
        double errorBound, uncoveredBound;
    };
    for (const auto& c : {Case{"long-en", false, 92.4, 0.08}, Case{"long-en", true, 71.2, 0.10},
                          Case{"long-ru", false, 93.8, 0.06}, Case{"long-ru", true, 81.3, 0.08}}) {
        SCOPED_TRACE(std::string(c.name) + (c.words ? " with words" : ""));
        const auto r = longRecording(c.name);
        const Run run = transcribe(r, c.words);
        EXPECT_GE(run.timings.totalDecodingWindows, 2);
        EXPECT_EQ(run.progressTotal, static_cast<std::int64_t>(r.samples.size()));
        EXPECT_EQ(run.progressCompleted, run.progressTotal);
        expectOrderedSegments(run.result->segments(), r.seconds(), c.words);
        if (c.words) expectWordsCoverTheSpeech(r, run.result->segments());
        const auto errors = wordErrors(referenceText(r), run.result->text());
        const double uncovered = uncoveredShare(r, run.result->segments());
        std::printf(
            "%s%s: %zu segments in %.0f windows, word error rate %.1f%% (%d of %d), %.0f%% of the speech "
            "uncovered\n",
            c.name, c.words ? " with words" : "", run.result->segments().size(), run.timings.totalDecodingWindows,
            100.0 * errors.rate(), errors.edits, errors.words, 100.0 * uncovered);
        EXPECT_LE(100.0 * errors.rate(), c.errorBound);
        EXPECT_LE(uncovered, c.uncoveredBound);
    }
}

// At temperature 0 alone both roads are deterministic: every window of the task is the one-window
// road's decoding of the samples from that window's seek, and the next window starts where the
// seeker puts it after that decoding. So what the long recordings lose is the model's answer, not
// the window loop.
TEST_F(TranscribeOnTestModel, EveryWindowIsTheOneWindowRoadFromItsSeek) {
    const auto r = longRecording("long-en");
    const auto tokenizer = velmora::test::multilingualTokenizer();
    DecodingOptions options;
    options.language = r.language;
    options.temperatureFallbackCount = 0;
    options.skipSpecialTokens = true;
    TranscribeTask task({}, nullptr, model_->audioProcessor, model_->audioEncoder, model_->featureExtractor,
                        std::make_shared<SegmentSeeker>(), model_->textDecoder, tokenizer);
    std::vector<std::vector<TranscriptionSegment>> windows;
    task.setSegmentDiscoveryCallback([&](const auto& segments) { windows.push_back(segments); });
    task.run(r.samples, options);
    ASSERT_GE(windows.size(), 3u);

    const auto count = static_cast<std::int64_t>(r.samples.size());
    const auto& special = tokenizer->specialTokens();
    std::int64_t expectedSeek = 0;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        ASSERT_FALSE(windows[w].empty()) << w;
        const std::int64_t seek = windows[w].front().seek;
        EXPECT_EQ(seek, expectedSeek) << w;
        const DecodingResult alone =
            model_->decodeWindow(std::span<const float>(r.samples).subspan(static_cast<std::size_t>(seek)), options);
        std::vector<int> tokens;
        for (const auto& segment : windows[w])
            for (const auto token : segment.tokens) tokens.push_back(static_cast<int>(token));
        ASSERT_LE(tokens.size(), alone.tokens.size()) << w;
        EXPECT_TRUE(std::equal(tokens.begin(), tokens.end(), alone.tokens.begin())) << w;
        const std::int64_t segmentSize = std::min<std::int64_t>(count - seek, 480000);
        const auto next = SegmentSeeker().findSeekPointAndSegments(
            alone, options, 0, seek, segmentSize, 16000, special.timeTokenBegin, special.specialTokenBegin, *tokenizer);
        expectedSeek = next.seek > seek ? next.seek : seek + segmentSize;
    }
    EXPECT_GE(expectedSeek, count - 16000);
}

// Twelve held-out phrases of a language, 1.5 s of silence before each: more than one window.
// Where the model closes a window inside a phrase, the next window starts there and the phrase's
// rest is a segment of its own: those bounds are the misses allowed, while the speech is covered
// nearly whole. Where the model closes a window moves with the rounding of the machine: measured over
// OpenBLAS's Haswell, Zen, Sandybridge, SkylakeX and Cooperlake kernels, the avx2, avx512 and
// portable paths and 1 to 8 threads, the cases took
//   en:            2 misses, the furthest bound 0.94 s, 2% uncovered (all alike)
//   en with words: 0 misses, 0.46 s, 19%                              (all alike)
//   ru:            4 misses, 0.68 s, 2%                               (all alike)
//   ru with words: 5 misses, 0.88 s, 4% (19 segments), or, with 3 threads on avx2, 2 on portable and
//                  any on Cooperlake, 2 misses, 1.08 s, 2% (17 segments).
// The bounds add two misses and five points of the speech to the worst, and half a second to the
// furthest bound. The roads that skipped speech (a window of one phrase taken as done whole, words
// timed over the whole padded window) left 41 to 67% of it uncovered here.
TEST_F(TranscribeOnTestModel, SegmentBoundariesFallAtThePauses) {
    struct Case {
        const char* language;
        bool words;
        int allowedMisses;
        double uncoveredBound;
    };
    for (const auto& c : {Case{"en", false, 4, 0.08}, Case{"en", true, 2, 0.24}, Case{"ru", false, 6, 0.07},
                          Case{"ru", true, 7, 0.09}}) {
        SCOPED_TRACE(std::string(c.language) + (c.words ? " with words" : ""));
        const auto r = phrases(c.language, 2, 1.5);
        const Run run = transcribe(r, c.words);
        EXPECT_GE(run.timings.totalDecodingWindows, 2);
        expectOrderedSegments(run.result->segments(), r.seconds(), c.words);
        const double uncovered = uncoveredShare(r, run.result->segments());
        EXPECT_LE(uncovered, c.uncoveredBound);
        int misses = 0;
        double worst = 0;
        for (const auto& s : run.result->segments()) {
            for (const double bound : {static_cast<double>(s.start), static_cast<double>(s.end)}) {
                const double distance = distanceFromPause(r, bound);
                worst = std::max(worst, distance);
                if (distance > 0.5) ++misses;
            }
        }
        std::printf(
            "%s%s: %zu segments, %d of %zu bounds further than 0.5 s from a pause, the furthest %.2f s, "
            "%.0f%% of the speech uncovered\n",
            c.language, c.words ? " with words" : "", run.result->segments().size(), misses,
            2 * run.result->segments().size(), worst, 100.0 * uncovered);
        EXPECT_LE(misses, c.allowedMisses);
        EXPECT_LE(worst, 1.6);
    }
}

}  // namespace
