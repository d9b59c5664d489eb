// The window loop of a transcription on scripted components: window bounds and padding, the seek
// rules, word timing's effect on segments and seek, the decoder inputs between windows, progress,
// callbacks, cancellation, clips and the final text.

#include "ScriptedPipeline.hpp"
#include "ScriptedTextDecoder.hpp"
#include "SpeechTokenIds.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>

namespace {

using namespace tremolan;
using namespace velmora::test::tokens;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using ::testing::ElementsAre;
using velmora::test::FakeAudioEncoder;
using velmora::test::FakeFeatureExtractor;
using velmora::test::favour;
using velmora::test::multilingualTokenizer;
using velmora::test::saysHello;
using velmora::test::scriptedEncoderOutput;
using velmora::test::ScriptedSeeker;
using velmora::test::ScriptedTextDecoder;
using velmora::test::segment;

constexpr std::int64_t kWindow = 480000;

DecodingOptions plainOptions() {
    DecodingOptions options;
    options.language = "en";
    options.withoutTimestamps = true;
    return options;
}

/// A task whose hooks are seen by the test.
class RecordingTask : public TranscribeTask {
public:
    using TranscribeTask::TranscribeTask;
    void windowPreprocess(const MLMultiArray& audio, std::int64_t seek, std::int64_t size) override {
        preprocessed.push_back({seek, size, audio.count()});
        if (duringPreprocess) duringPreprocess();
    }
    std::vector<TranscriptionSegment> windowPostProcess(std::int64_t seek, std::int64_t size,
                                                        std::vector<TranscriptionSegment> segments) override {
        postprocessed.push_back({seek, size, static_cast<std::int64_t>(segments.size())});
        return segments;
    }
    std::vector<std::array<std::int64_t, 3>> preprocessed, postprocessed;
    std::function<void()> duringPreprocess;
};

struct Pipeline {
    int hello = multilingualTokenizer()->encode(" hello").at(0);
    std::shared_ptr<FakeFeatureExtractor> mel = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder = std::make_shared<FakeAudioEncoder>();
    std::shared_ptr<ScriptedSeeker> seeker = std::make_shared<ScriptedSeeker>();
    std::shared_ptr<ScriptedTextDecoder> decoder;
    std::shared_ptr<platform::sys::Progress> progress = platform::sys::Progress::make(0);
    std::unique_ptr<RecordingTask> task;

    explicit Pipeline(bool alignment = true)
        : decoder(std::make_shared<ScriptedTextDecoder>(saysHello(hello), 224, alignment)) {
        task = std::make_unique<RecordingTask>(TranscriptionTimings{}, progress, nullptr, encoder, mel, seeker, decoder,
                                               multilingualTokenizer());
    }

    /// The cache position of the first prediction of every decoding.
    std::vector<int> decodingStarts() const {
        std::vector<int> starts;
        for (std::size_t i = 0; i < decoder->fed.size(); ++i)
            if (i == 0 || decoder->fed[i].second <= decoder->fed[i - 1].second)
                starts.push_back(decoder->fed[i].second);
        return starts;
    }
};

std::vector<float> samples(std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(i % 1000) / 1000.0f;
    return out;
}

}  // namespace

TEST(TranscribeTask, EmptyAudioGivesAnEmptyResult) {
    Pipeline p;
    const auto result = p.task->run({}, std::nullopt);
    EXPECT_EQ(result->text(), "");
    EXPECT_TRUE(result->segments().empty());
    EXPECT_EQ(result->language(), "en");
    EXPECT_FALSE(result->seekTime().has_value());
    EXPECT_EQ(p.progress->totalUnitCount(), 0);
    EXPECT_EQ(p.progress->completedUnitCount(), 0);
    EXPECT_TRUE(p.mel->lengths.empty());
    EXPECT_DOUBLE_EQ(result->timings().inputAudioSeconds, 0.0);
}

TEST(TranscribeTask, TheLastSecondOfAClipIsNoWindowOfItsOwn) {
    {
        Pipeline p;
        p.task->run(samples(16000), plainOptions());
        EXPECT_TRUE(p.mel->lengths.empty());
    }
    Pipeline p;
    const auto result = p.task->run(samples(16001), plainOptions());
    ASSERT_THAT(p.task->preprocessed, ElementsAre(std::array<std::int64_t, 3>{0, 16001, kWindow}));
    EXPECT_THAT(p.mel->lengths, ElementsAre(kWindow));  // padded to the window
    EXPECT_EQ(result->text(), "hello");
    ASSERT_EQ(result->segments().size(), 1u);
    EXPECT_FLOAT_EQ(result->segments()[0].end, 16001.0f / 16000.0f);
    EXPECT_EQ(p.progress->totalUnitCount(), 16001);
    EXPECT_EQ(p.progress->completedUnitCount(), 16001);
    // With no padding a single sample past the start makes a window.
    Pipeline q;
    auto options = plainOptions();
    options.windowClipTime = 0;
    q.task->run(samples(10), options);
    EXPECT_THAT(q.mel->lengths, ElementsAre(kWindow));
}

TEST(TranscribeTask, WindowsStartWhereTheSeekerSays) {
    Pipeline p;
    p.seeker->answer = [](std::int64_t seek, std::int64_t, std::int64_t) {
        return SeekAndSegments{seek + 240000, std::vector{segment(0, 1)}};
    };
    const auto audio = samples(960000);
    p.task->run(audio, plainOptions());
    EXPECT_THAT(p.seeker->windows, ElementsAre(std::pair<std::int64_t, std::int64_t>{0, kWindow},
                                               std::pair<std::int64_t, std::int64_t>{240000, kWindow},
                                               std::pair<std::int64_t, std::int64_t>{480000, kWindow},
                                               std::pair<std::int64_t, std::int64_t>{720000, 240000}));
    // The last window reached the end; the progress did too.
    EXPECT_EQ(p.progress->completedUnitCount(), 960000);
    // Each window holds its own slice of the samples.
    EXPECT_FLOAT_EQ(p.mel->firstSamples[1], audio[240000]);
    EXPECT_EQ(p.task->timings().totalDecodingWindows, 4);
}

TEST(TranscribeTask, AWindowThatDoesNotMoveTheSeekIsPassedOver) {
    for (const std::int64_t back : {0, 100}) {
        Pipeline p;
        // Two windows cover the audio; a loop that crept on would ask again and again, so the
        // seeker ends it after a few and the test fails instead of running for hours.
        int windows = 0;
        p.seeker->answer = [back, &windows](std::int64_t seek, std::int64_t, std::int64_t) {
            if (++windows > 4) throw std::runtime_error("the window loop does not move on");
            return SeekAndSegments{seek - back, std::vector{segment(0, 1)}};
        };
        std::shared_ptr<TranscriptionResult> result;
        ASSERT_NO_THROW(result = p.task->run(samples(960000), plainOptions())) << "back " << back;
        EXPECT_THAT(p.seeker->windows, ElementsAre(std::pair<std::int64_t, std::int64_t>{0, kWindow},
                                                   std::pair<std::int64_t, std::int64_t>{kWindow, kWindow}));
        EXPECT_EQ(result->segments().size(), 2u);
        EXPECT_EQ(p.progress->completedUnitCount(), 960000);
    }
}

TEST(TranscribeTask, MaxWindowSeekBoundsEveryAdvance) {
    Pipeline p;
    p.seeker->words = [](const std::vector<TranscriptionSegment>&, std::int64_t seek) {
        // The last word ends far beyond the window.
        const float start = static_cast<float>(seek) / 16000.0f;
        return std::optional(std::vector{segment(start, start + 29.0f)});
    };
    auto options = plainOptions();
    options.wordTimestamps = true;
    options.maxWindowSeek = 160000;
    p.task->run(samples(500000), options);
    std::vector<std::int64_t> starts;
    for (const auto& [seek, size] : p.seeker->windows) starts.push_back(seek);
    EXPECT_THAT(starts, ElementsAre(0, 160000, 320000, 480000));
}

TEST(TranscribeTask, WordTimingDropsEmptySegmentsAndPushesTheSeek) {
    Pipeline p;
    p.seeker->answer = [](std::int64_t seek, std::int64_t size, std::int64_t) {
        return SeekAndSegments{seek + size / 4, std::vector{segment(0, 1)}};
    };
    p.seeker->words = [](const std::vector<TranscriptionSegment>&, std::int64_t seek) {
        const float start = static_cast<float>(seek) / 16000.0f;
        return std::optional(std::vector{segment(start + 1, start + 20.5f), segment(start + 21, start + 21)});
    };
    auto options = plainOptions();
    options.wordTimestamps = true;
    const auto result = p.task->run(samples(800000), options);
    // The kept segment ends 20.5 s in: the next window starts there, not a quarter in.
    ASSERT_GE(p.seeker->windows.size(), 2u);
    EXPECT_EQ(p.seeker->windows[1].first, 328000);
    for (const auto& s : result->segments()) EXPECT_LT(s.start, s.end);
    // Word timing hears where the window starts.
    EXPECT_FLOAT_EQ(p.seeker->wordCalls[1].second, 20.5f);
}

TEST(TranscribeTask, SegmentsDroppedByWordTimingLeaveNoGapInTheIds) {
    Pipeline p;
    p.seeker->answer = [](std::int64_t seek, std::int64_t size, std::int64_t count) {
        std::vector<TranscriptionSegment> three;
        for (std::int64_t i = 0; i < 3; ++i) {
            three.push_back(segment(0, 1));
            three.back().id = count + i;
        }
        return SeekAndSegments{seek + size, three};
    };
    // Word timing leaves each window's middle segment empty.
    p.seeker->words = [](const std::vector<TranscriptionSegment>& found, std::int64_t seek) {
        auto timed = found;
        const float start = static_cast<float>(seek) / 16000.0f;
        for (std::size_t i = 0; i < timed.size(); ++i) {
            timed[i].start = start + static_cast<float>(i);
            timed[i].end = timed[i].start + (i == 1 ? 0.0f : 0.5f);
        }
        return std::optional(timed);
    };
    auto options = plainOptions();
    options.wordTimestamps = true;
    const auto result = p.task->run(samples(800000), options);
    std::vector<std::int64_t> ids;
    for (const auto& s : result->segments()) ids.push_back(s.id);
    EXPECT_THAT(ids, ElementsAre(0, 1, 2, 3));
}

TEST(TranscribeTask, AWindowWithoutSegmentsAddsNothingButLeavesNoDecoderStateBehind) {
    Pipeline p;
    std::vector<std::vector<TranscriptionSegment>> found;
    p.task->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& s) { found.push_back(s); });
    p.seeker->answer = [](std::int64_t seek, std::int64_t size, std::int64_t) -> SeekAndSegments {
        if (seek == 0) return {seek + size, std::nullopt};  // silence
        return {seek + size, std::vector{segment(30, 31, {1})}};
    };
    const auto result = p.task->run(samples(960000), plainOptions());
    EXPECT_EQ(found.size(), 1u);
    EXPECT_THAT(p.task->postprocessed, ElementsAre(std::array<std::int64_t, 3>{kWindow, kWindow, 1}));
    EXPECT_EQ(result->segments().size(), 1u);
    EXPECT_EQ(p.task->timings().totalDecodingWindows, 1);
    // Both windows decode from the first cache position.
    EXPECT_THAT(p.decodingStarts(), ElementsAre(0, 0));

    // The progress stays until a window yields segments.
    Pipeline q;
    std::vector<std::int64_t> counts;
    q.seeker->answer = [&](std::int64_t seek, std::int64_t size, std::int64_t) -> SeekAndSegments {
        counts.push_back(q.progress->completedUnitCount());
        return {seek + size, std::nullopt};
    };
    q.task->run(samples(960000), plainOptions());
    EXPECT_THAT(counts, ElementsAre(0, 0));
    EXPECT_EQ(q.progress->completedUnitCount(), 960000);
}

TEST(TranscribeTask, WithWordTimingASilentWindowCountsWithAnEmptyList) {
    Pipeline p;
    std::vector<std::size_t> found;
    p.task->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& s) { found.push_back(s.size()); });
    std::vector<std::int64_t> counts;
    p.seeker->answer = [&](std::int64_t seek, std::int64_t size, std::int64_t) -> SeekAndSegments {
        counts.push_back(p.progress->completedUnitCount());
        return {seek + size, std::nullopt};
    };
    auto options = plainOptions();
    options.wordTimestamps = true;
    const auto result = p.task->run(samples(960000), options);
    EXPECT_THAT(found, ElementsAre(0u, 0u));
    EXPECT_EQ(p.seeker->wordCalls.size(), 2u);
    EXPECT_EQ(p.task->timings().totalDecodingWindows, 2);
    EXPECT_EQ(p.task->timings().totalTimestampAlignmentRuns, 2);
    EXPECT_THAT(counts, ElementsAre(0, kWindow));
    EXPECT_TRUE(result->segments().empty());

    // Without alignment weights no word timing runs.
    Pipeline q(false);
    q.task->run(samples(100000), options);
    EXPECT_TRUE(q.seeker->wordCalls.empty());
}

TEST(TranscribeTask, ProgressCallbackSeesTheWindowNumber) {
    Pipeline p;
    std::mutex mutex;
    std::set<int> windows;
    const TranscriptionCallback callback = [&](const TranscriptionProgress& progress) {
        std::lock_guard lock(mutex);
        windows.insert(progress.windowId);
        return std::optional<bool>();
    };
    p.task->run(samples(1000000), plainOptions(), callback);
    EXPECT_THAT(windows, ElementsAre(0, 1, 2));
    // A second run of the same task numbers on.
    windows.clear();
    p.task->run(samples(490000), plainOptions(), callback);
    EXPECT_THAT(windows, ElementsAre(3));
    EXPECT_EQ(p.task->timings().totalDecodingWindows, 4);
}

TEST(TranscribeTask, ProgressCountsTheSamplesOfEachClip) {
    Pipeline p;
    std::vector<std::int64_t> counts;
    p.task->setSegmentDiscoveryCallback([&](const auto&) {});
    p.seeker->answer = [&](std::int64_t seek, std::int64_t, std::int64_t) {
        counts.push_back(p.progress->completedUnitCount());
        return SeekAndSegments{seek + 200000, std::vector{segment(0, 1)}};
    };
    auto options = plainOptions();
    options.clipTimestamps = {1.0f, 31.0f, 40.0f};  // samples 16000-496000, then 640000 to the end
    p.task->run(samples(1000000), options);
    EXPECT_EQ(p.progress->totalUnitCount(), 480000 + 360000);
    EXPECT_THAT(counts, ElementsAre(0, 200000, 400000, 480000, 680000));
    EXPECT_EQ(p.progress->completedUnitCount(), 840000);
    EXPECT_DOUBLE_EQ(p.task->timings().inputAudioSeconds, 1000000.0 / 16000.0 - 1.0);
}

TEST(TranscribeTask, ClipsOutsideTheRecordingAreClampedOrDropped) {
    auto options = plainOptions();
    Pipeline p;
    options.clipTimestamps = {1.0f, 3.0f, 4.0f, 2.0f, 6.0f, 9.0f};
    const auto result = p.task->run(samples(80000), options);
    EXPECT_THAT(p.seeker->windows, ElementsAre(std::pair<std::int64_t, std::int64_t>{16000, 32000}));
    EXPECT_EQ(p.progress->totalUnitCount(), 32000);
    EXPECT_EQ(result->segments().size(), 1u);
}

TEST(TranscribeTask, CancellationIsHonouredBetweenTheStages) {
    struct Case {
        const char* when;
        int melCalls, encoderCalls;
    };
    for (const auto& c : {Case{"audio", 0, 0}, Case{"mel", 1, 0}, Case{"encoder", 1, 1}}) {
        Pipeline p;
        std::stop_source stop;
        const std::string when = c.when;
        if (when == "audio") p.task->duringPreprocess = [&] { stop.request_stop(); };
        if (when == "mel") p.mel->during = [&] { stop.request_stop(); };
        if (when == "encoder") p.encoder->during = [&] { stop.request_stop(); };
        EXPECT_THROW(p.task->run(samples(100000), plainOptions(), nullptr, stop.get_token()), korbit::CancellationError)
            << when;
        EXPECT_EQ(p.mel->lengths.size(), static_cast<std::size_t>(c.melCalls)) << when;
        EXPECT_EQ(p.encoder->calls, c.encoderCalls) << when;
        EXPECT_TRUE(p.decoder->fed.empty()) << when;
    }
}

// The task calls its segment callback itself: a throw ends the run where it is, before the next
// window, and reaches the caller as it was thrown.
TEST(TranscribeTask, ASegmentCallbackThatThrowsEndsTheRunBeforeTheNextWindow) {
    Pipeline p;
    p.seeker->answer = [](std::int64_t seek, std::int64_t, std::int64_t) {
        return SeekAndSegments{seek + 240000, std::vector{segment(0, 1)}};
    };
    p.task->setSegmentDiscoveryCallback([](const auto&) { throw std::length_error("no room for segments"); });
    EXPECT_EQ(velmora::test::messageOf<std::length_error>([&] { p.task->run(samples(960000), plainOptions()); }),
              "no room for segments");
    EXPECT_EQ(p.task->preprocessed.size(), 1u);
}

TEST(TranscribeTask, MissingStageOutputsFailTheRun) {
    auto failure = [](std::function<void(Pipeline&)> set) -> std::string {
        Pipeline p;
        set(p);
        try {
            p.task->run(samples(100000), plainOptions());
        } catch (const WhisperError& e) {
            EXPECT_EQ(e.kind(), WhisperError::Kind::transcriptionFailed);
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(failure([](Pipeline& p) { p.mel->fail = true; }), "Mel output is nil");
    EXPECT_EQ(failure([](Pipeline& p) { p.encoder->fail = true; }), "Encoder output is nil");
    auto options = plainOptions();
    options.windowClipTime = std::numeric_limits<float>::infinity();
    Pipeline p;
    EXPECT_THROW(p.task->run(samples(100000), options), WhisperError);
}

TEST(TranscribeTask, FinalTextIsTrimmedOfSpacesAndTabsOnly) {
    Pipeline p;
    const auto& tokenizer = *multilingualTokenizer();
    std::vector<int> tokens = {SOT, EN, TRANSCRIBE};
    for (int t : tokenizer.encode("\t Hello\n")) tokens.push_back(t);
    tokens.push_back(T + 20);
    tokens.push_back(EOT);
    const auto result = p.task->finalizeTranscriptionResult(tokens, {segment(0, 1)}, std::string("de"), {});
    EXPECT_EQ(result->text(), "Hello\n");
    EXPECT_EQ(result->language(), "de");
    EXPECT_EQ(result->segments().size(), 1u);
    EXPECT_EQ(p.task->finalizeTranscriptionResult({}, {}, std::nullopt, {})->language(), "en");
}
