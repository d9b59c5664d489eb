// The facade's transcription entry points over a facade whose one-array run is scripted: batches,
// order, failures, window numbers, the chunked road and the file entry points.

#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Facade/BatchExecutor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

using tremolan::DecodingOptions;
using tremolan::TranscriptionOutcome;
using tremolan::TranscriptionResult;
using tremolan::TranscriptionSegment;
using tremolan::Tremolan;
using tremolan::TremolanConfig;
using tremolan::WhisperError;
using velmora::test::dataPath;
namespace fs = std::filesystem;

/// Each run reports one progress step and one segment, then answers a result whose text is the
/// array's first sample; a first sample below 0 fails. Runs sleep for a number of milliseconds
/// given by the array's second sample, so that later arrays can finish first.
class ScriptedFacade : public Tremolan {
public:
    using Tremolan::transcribe;
    using Tremolan::Tremolan;

    Results runTranscribeTask(const std::vector<float>& audioArray, const std::optional<DecodingOptions>& decodeOptions,
                              const tremolan::TranscriptionCallback& callback,
                              const SegmentDiscoveryCallback& segmentCallback, std::stop_token) override {
        const int running = ++inFlight;
        {
            std::lock_guard guard(mutex);
            peak = std::max(peak, running);
            runs.push_back({audioArray.size(), decodeOptions});
        }
        if (audioArray.size() > 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(audioArray[1])));
        if (callback) callback(tremolan::TranscriptionProgress{});
        TranscriptionSegment segment;
        segment.seek = 100;
        segment.start = 0.5f;
        segment.end = 1.5f;
        segment.words = std::vector<tremolan::WordTiming>{{"w", {}, 0.5f, 1.0f, 1.0f}};
        if (segmentCallback) segmentCallback({segment});
        --inFlight;
        if (!audioArray.empty() && audioArray[0] < 0) throw WhisperError::transcriptionFailed("scripted failure");
        const std::string text = audioArray.empty() ? "" : std::to_string(static_cast<int>(audioArray[0]));
        return {std::make_shared<TranscriptionResult>(text, std::vector<TranscriptionSegment>{segment}, "en",
                                                      tremolan::TranscriptionTimings{})};
    }

    struct Run {
        std::size_t samples;
        std::optional<DecodingOptions> options;
    };
    std::mutex mutex;
    std::vector<Run> runs;
    std::atomic<int> inFlight{0};
    int peak = 0;
};

std::shared_ptr<ScriptedFacade> scripted() {
    TremolanConfig config;
    config.download = false;
    return Tremolan::create<ScriptedFacade>(config);
}

DecodingOptions workers(std::int64_t count) {
    DecodingOptions options;
    options.concurrentWorkerCount = count;
    return options;
}

/// An array whose first sample names it and whose second is its run's sleep.
std::vector<float> named(int name, int sleepMs = 0) {
    return {static_cast<float>(name), static_cast<float>(sleepMs)};
}

std::string textOf(const TranscriptionOutcome& outcome) {
    if (const auto* results = std::get_if<Tremolan::Results>(&outcome)) return results->at(0)->text();
    try {
        std::rethrow_exception(std::get<std::exception_ptr>(outcome));
    } catch (const std::exception& error) {
        return std::string("error: ") + error.what();
    }
}

std::vector<std::string> texts(const std::vector<TranscriptionOutcome>& outcomes) {
    std::vector<std::string> out;
    for (const auto& outcome : outcomes) out.push_back(textOf(outcome));
    return out;
}

TEST(FacadeBatching, BatchesRunOneAfterAnotherWithWindowNumbersAcrossThem) {
    const auto facade = scripted();
    std::mutex mutex;
    std::vector<int> windowIds;
    const auto outcomes = facade->transcribeWithResults(
        std::vector<std::vector<float>>{named(0, 40), named(1, 40), named(2, 40), named(3, 40), named(4)}, workers(2),
        [&](const tremolan::TranscriptionProgress& progress) -> std::optional<bool> {
            std::lock_guard guard(mutex);
            windowIds.push_back(progress.windowId);
            return std::nullopt;
        });
    EXPECT_EQ(texts(outcomes), (std::vector<std::string>{"0", "1", "2", "3", "4"}));
    std::sort(windowIds.begin(), windowIds.end());
    EXPECT_EQ(windowIds, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(facade->peak, 2);
}

TEST(FacadeBatching, ResultsFollowTheInputOrderWhateverOrderChildrenFinishIn) {
    const auto facade = scripted();
    std::vector<std::vector<float>> arrays;
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        arrays.push_back(named(i, 60 - 10 * i));
        expected.push_back(std::to_string(i));
    }
    EXPECT_EQ(texts(facade->transcribeWithResults(arrays, workers(0))), expected);
    EXPECT_GE(facade->peak, 2);
}

TEST(FacadeBatching, AFailureStaysAtItsPlaceAndStopsNoOther) {
    const auto facade = scripted();
    const std::vector<std::vector<float>> arrays{named(1), named(-1), named(3)};
    EXPECT_EQ(texts(facade->transcribeWithResults(arrays, workers(1))),
              (std::vector<std::string>{"1", "error: scripted failure", "3"}));
    const auto optional = facade->transcribe(arrays, workers(2));
    ASSERT_EQ(optional.size(), 3u);
    EXPECT_TRUE(optional[0] && optional[2]);
    EXPECT_FALSE(optional[1]);
}

TEST(FacadeBatching, UnpairedInputsGiveOneFailure) {
    const auto facade = scripted();
    const std::vector<std::vector<float>> arrays{named(1), named(2), named(3)};
    const auto options = facade->transcribeWithOptions(arrays, {workers(1), workers(1)});
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(textOf(options[0]), "error: The number of audio arrays and decoding options must be balanced.");
    const auto offsets =
        facade->transcribeWithOptions(arrays, {workers(1), workers(1), workers(1)}, std::vector<std::int64_t>{0});
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_EQ(textOf(offsets[0]), "error: The number of audio arrays and seek offset indexes must be balanced.");
    EXPECT_TRUE(facade->transcribeWithOptions({}, {}).empty());
    EXPECT_TRUE(facade->runs.empty());
}

TEST(FacadeBatching, TheLargestWorkerCountSizesTheBatchesAndANegativeOneStillAnswersEveryInput) {
    const auto facade = scripted();
    const std::vector<std::vector<float>> arrays{named(1, 30), named(2, 30), named(3, 30), named(4, 30)};
    // Absent options count as 0; the largest count wins.
    facade->transcribeWithOptions(arrays, {std::nullopt, workers(1), workers(2), std::nullopt});
    EXPECT_EQ(facade->peak, 2);

    const auto negative = facade->transcribeWithResults(arrays, workers(-3));
    EXPECT_EQ(texts(negative), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST(FacadeBatching, SeekOffsetsMoveTheDiscoveredSegmentsSeeksOnly) {
    const auto facade = scripted();
    std::mutex mutex;
    std::vector<TranscriptionSegment> discovered;
    facade->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard guard(mutex);
        discovered.insert(discovered.end(), segments.begin(), segments.end());
    });
    facade->transcribeWithOptions({named(1), named(2)}, {workers(2), workers(2)}, std::vector<std::int64_t>{0, 32000});
    ASSERT_EQ(discovered.size(), 2u);
    std::sort(discovered.begin(), discovered.end(), [](const auto& a, const auto& b) { return a.seek < b.seek; });
    EXPECT_EQ(discovered[0].seek, 100);
    EXPECT_EQ(discovered[1].seek, 32100);
    EXPECT_FLOAT_EQ(discovered[1].start, 0.5f);
}

/// Three seconds of tone, two of silence, and so on: speech the energy detector sees, with
/// silences to cut at.
std::vector<float> longRecording(std::size_t samples) {
    std::vector<float> out(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const bool loud = (i / 16000) % 5 < 3;
        out[i] = loud ? 0.5f * static_cast<float>(std::sin(static_cast<double>(i) * 0.2)) : 0.0f;
    }
    // The scripted run reads the first two samples as its name and its sleep.
    out[1] = 0;
    return out;
}

TEST(FacadeBatching, OnlyLongerThanAWindowWithVadOptionsIsChunked) {
    const auto facade = scripted();
    DecodingOptions vad = workers(4);
    vad.chunkingStrategy = tremolan::ChunkingStrategy::vad;
    facade->transcribe(longRecording(480000), vad);
    facade->transcribe(longRecording(960000), std::nullopt);
    facade->transcribe(longRecording(960000), workers(4));
    ASSERT_EQ(facade->runs.size(), 3u);
    EXPECT_EQ(facade->runs[0].samples, 480000u);
    EXPECT_EQ(facade->runs[1].samples, 960000u);
    EXPECT_EQ(facade->runs[2].samples, 960000u);

    facade->runs.clear();
    vad.clipTimestamps = {0.0f};
    // One piece at a time, so that the runs are recorded in the pieces' order.
    vad.concurrentWorkerCount = 1;
    std::vector<TranscriptionSegment> discovered, perCall;
    std::mutex mutex;
    facade->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard guard(mutex);
        discovered.insert(discovered.end(), segments.begin(), segments.end());
    });
    const auto results =
        facade->transcribe(longRecording(480001), vad, nullptr, [&](const std::vector<TranscriptionSegment>& segments) {
            perCall.insert(perCall.end(), segments.begin(), segments.end());
        });
    ASSERT_GE(facade->runs.size(), 2u);
    EXPECT_TRUE(perCall.empty());
    EXPECT_EQ(discovered.size(), facade->runs.size());
    for (const auto& run : facade->runs) {
        ASSERT_TRUE(run.options);
        EXPECT_TRUE(run.options->clipTimestamps.empty());
        EXPECT_LE(run.samples, 480000u);
    }
    // Each chunk's result moved onto the recording: seek by its samples, times by its seconds.
    ASSERT_EQ(results.size(), facade->runs.size());
    std::size_t total = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const float seekTime = static_cast<float>(total) / 16000.0f;
        ASSERT_TRUE(results[i]->seekTime());
        EXPECT_FLOAT_EQ(*results[i]->seekTime(), seekTime);
        const auto segment = results[i]->segments().at(0);
        EXPECT_EQ(segment.seek, 100 + static_cast<std::int64_t>(seekTime * 16000.0f));
        EXPECT_FLOAT_EQ(segment.start, 0.5f + seekTime);
        EXPECT_FLOAT_EQ(segment.words->at(0).end, 1.0f + seekTime);
        total += facade->runs[i].samples;
    }
}

TEST(FacadeBatching, RecordingsCutAtSilencesWithinABatchAddNoThreads) {
    const auto facade = scripted();
    // Five seconds of level 30 (each piece's run sleeps 30 ms), five of silence, four times over:
    // every recording is cut into several pieces, batched from inside its own child.
    const std::size_t concurrent = tremolan::BatchExecutor::shared().helperCount() + 1;
    std::vector<std::vector<float>> recordings;
    for (std::size_t r = 0; r < concurrent; ++r) {
        std::vector<float> samples(40 * 16000);
        for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = (i / 16000) % 10 < 5 ? 30.0f : 0.0f;
        recordings.push_back(std::move(samples));
    }
    DecodingOptions vad = workers(static_cast<std::int64_t>(concurrent));
    vad.chunkingStrategy = tremolan::ChunkingStrategy::vad;
    const auto outcomes = facade->transcribeWithResults(recordings, vad);
    ASSERT_EQ(outcomes.size(), concurrent);
    for (const auto& outcome : outcomes) EXPECT_GE(std::get<Tremolan::Results>(outcome).size(), 2u);
    EXPECT_GE(facade->runs.size(), 2 * concurrent);
    // The executor's helpers and the caller, however the batches nest.
    EXPECT_LE(facade->peak, static_cast<int>(concurrent));
    EXPECT_GE(facade->peak, std::min(2, static_cast<int>(concurrent)));
}

TEST(FacadeBatching, FilesReportTheirStatesAndKeepLoadErrorsInPlace) {
    const auto facade = scripted();
    std::vector<tremolan::TranscriptionState> states;
    facade->setTranscriptionStateCallback([&](tremolan::TranscriptionState state) { states.push_back(state); });
    const std::string present = dataPath("testmodel/en-01.wav").string();
    const auto outcomes = facade->transcribeWithResults({present, "/nonexistent.wav", present});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(std::holds_alternative<Tremolan::Results>(outcomes[0]));
    EXPECT_EQ(textOf(outcomes[1]), "error: Resource path does not exist /nonexistent.wav");
    EXPECT_TRUE(std::holds_alternative<Tremolan::Results>(outcomes[2]));
    using tremolan::TranscriptionState;
    EXPECT_EQ(states,
              (std::vector<TranscriptionState>{TranscriptionState::convertingAudio, TranscriptionState::transcribing,
                                               TranscriptionState::finished}));
    EXPECT_GT(facade->currentTimings().audioLoading, 0);

    states.clear();
    EXPECT_EQ(facade->transcribe(present).size(), 1u);
    EXPECT_EQ(states.size(), 3u);
    states.clear();
    EXPECT_THROW(facade->transcribe(std::string("/nonexistent.wav")), WhisperError);
    EXPECT_EQ(states, std::vector<TranscriptionState>{TranscriptionState::convertingAudio});
}

}  // namespace
