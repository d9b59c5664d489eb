// The facade's callbacks may wait for other threads that use the same facade: none of them runs
// while the facade holds its models for a load, an unload or a transcription, so a callback that
// waits for another thread's load, unload and transcription never waits for itself. Every wait
// here is bounded and fails with a message instead of hanging. A segment callback that throws
// ends the whole transcription at its next step, whatever the road, and the caller gets its error.

#include "Support/Gate.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "TremolanTests/TimedRecordings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace {

using korbit::ModelState;
using tremolan::DecodingOptions;
using tremolan::TranscriptionProgress;
using tremolan::TranscriptionSegment;
using tremolan::TranscriptionState;
using tremolan::Tremolan;
using velmora::test::dataPath;

// Long enough for a load, an unload and a short transcription under ThreadSanitizer on a busy machine.
constexpr auto kPatience = std::chrono::seconds(60);

// Set on the threads that the tests send off, whose own callbacks must not send off more.
thread_local bool onErrand = false;

class FacadeCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        tremolan::TremolanConfig config;
        config.modelFolder = dataPath("models/test-speech").string();
        config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
        config.load = false;
        facade = Tremolan::create(config);
        speech = tremolan::AudioProcessor::loadAudioAsFloatArray(recordingPath());
    }
    void TearDown() override {
        // An errand that did not end in time ends once the facade lets it.
        for (auto& errand : errands) errand.wait();
    }

    static std::string recordingPath() { return dataPath("testmodel/en-01.wav").string(); }
    static DecodingOptions greedy() {
        DecodingOptions options;
        options.temperatureFallbackCount = 0;
        options.withoutTimestamps = true;
        return options;
    }

    /// Another thread transcribes (loading the models when they are not loaded), loads the models,
    /// unloads them and transcribes again (which loads them again), while the calling callback
    /// waits for it, at most kPatience. Once for each `what`, and never from such a thread itself.
    void waitForAnotherThread(const std::string& what) {
        if (onErrand) return;
        {
            std::lock_guard guard(mutex);
            if (!waitedIn.insert(what).second) return;
        }
        auto errand = std::async(std::launch::async, [this] {
            onErrand = true;
            const std::vector<float> second(speech.begin(),
                                            speech.begin() + std::min<std::size_t>(speech.size(), 16000));
            const bool first = !facade->transcribe(second, greedy()).empty();
            facade->loadModels();
            facade->unloadModels();
            return first && !facade->transcribe(second, greedy()).empty();
        });
        const bool ended = errand.wait_for(kPatience) == std::future_status::ready;
        EXPECT_TRUE(ended) << "the " << what << " callback waited " << kPatience.count()
                           << " s for another thread's load, unload and transcription: the facade called it "
                              "while it held the models";
        if (ended) {
            EXPECT_TRUE(errand.get()) << "the other thread's transcriptions gave no result";
        }
        std::lock_guard guard(mutex);
        if (!ended) errands.push_back(std::move(errand));
    }
    std::set<std::string> waited() {
        std::lock_guard guard(mutex);
        return waitedIn;
    }

    std::shared_ptr<Tremolan> facade;
    std::vector<float> speech;
    std::mutex mutex;
    std::set<std::string> waitedIn;
    std::vector<std::future<bool>> errands;
};

TEST_F(FacadeCallbacks, ModelStateCallbacksMayWaitForOtherThreadsThatLoadUnloadAndTranscribe) {
    std::vector<ModelState> told;
    facade->setModelStateCallback([&](std::optional<ModelState>, ModelState state) {
        if (onErrand) return;
        told.push_back(state);
        waitForAnotherThread("model state (" + std::string(korbit::description(state)) + ", call " +
                             std::to_string(told.size()) + ")");
    });

    facade->prewarmModels();
    facade->loadModels();
    facade->unloadModels();
    // The models are loaded again by the other threads; unloaded here, the next transcription
    // loads them itself and is told of that load too.
    facade->setModelStateCallback([&](std::optional<ModelState>, ModelState state) {
        if (onErrand) return;
        told.push_back(state);
        if (state == ModelState::loading) waitForAnotherThread("model state (loading for a transcription)");
    });
    facade->unloadModels();
    const auto results = facade->transcribe(speech, greedy());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]->text().empty());

    ASSERT_GE(told.size(), 7u);
    EXPECT_EQ(std::vector<ModelState>(told.begin(), told.begin() + 6),
              (std::vector<ModelState>{ModelState::prewarming, ModelState::prewarmed, ModelState::loading,
                                       ModelState::loaded, ModelState::unloading, ModelState::unloaded}));
    EXPECT_EQ(waited().size(), 7u);
    EXPECT_EQ(facade->modelState(), ModelState::loaded);
}

TEST_F(FacadeCallbacks, TranscriptionStateCallbacksMayWaitForOtherThreadsThatLoadUnloadAndTranscribe) {
    std::vector<TranscriptionState> told;
    facade->setTranscriptionStateCallback([&](TranscriptionState state) {
        if (onErrand) return;
        told.push_back(state);
        waitForAnotherThread("transcription state " + std::to_string(told.size()));
    });
    const auto results = facade->transcribe(recordingPath(), greedy());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]->text().empty());
    const auto outcomes = facade->transcribeWithResults(std::vector<std::string>{recordingPath()}, greedy());
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<Tremolan::Results>(outcomes[0]));

    const std::vector<TranscriptionState> oneFile{TranscriptionState::convertingAudio, TranscriptionState::transcribing,
                                                  TranscriptionState::finished};
    std::vector<TranscriptionState> twice = oneFile;
    twice.insert(twice.end(), oneFile.begin(), oneFile.end());
    EXPECT_EQ(told, twice);
    EXPECT_EQ(waited().size(), 6u);
}

TEST_F(FacadeCallbacks, ProgressAndSegmentCallbacksMayWaitForOtherThreadsThatLoadUnloadAndTranscribe) {
    facade->loadModels();
    const auto undisturbed = facade->transcribe(speech, greedy());
    ASSERT_EQ(undisturbed.size(), 1u);

    std::mutex seenMutex;
    std::vector<TranscriptionSegment> segments;
    int progressCalls = 0;
    const auto results = facade->transcribe(
        speech, greedy(),
        [&](const TranscriptionProgress&) -> std::optional<bool> {
            {
                std::lock_guard guard(seenMutex);
                ++progressCalls;
            }
            waitForAnotherThread("progress");
            return std::nullopt;
        },
        [&](const std::vector<TranscriptionSegment>& found) {
            waitForAnotherThread("segment discovery");
            std::lock_guard guard(seenMutex);
            segments.insert(segments.end(), found.begin(), found.end());
        });
    ASSERT_EQ(results.size(), 1u);
    // The other threads' unload waited for this run: it ended on the models it began with.
    EXPECT_EQ(results[0]->text(), undisturbed[0]->text());
    std::lock_guard guard(seenMutex);
    EXPECT_GT(progressCalls, 1);
    // Every callback was over when the transcription returned.
    EXPECT_EQ(segments, results[0]->segments());
    EXPECT_EQ(waited(), (std::set<std::string>{"progress", "segment discovery"}));
}

TEST_F(FacadeCallbacks, CallbacksOfABatchMayWaitForOtherThreadsThatLoadUnloadAndTranscribe) {
    std::mutex seenMutex;
    int segmentCalls = 0;
    facade->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>&) {
        if (onErrand) return;
        waitForAnotherThread("segment discovery of a batch");
        std::lock_guard guard(seenMutex);
        ++segmentCalls;
    });
    DecodingOptions options = greedy();
    options.concurrentWorkerCount = 2;
    const std::vector<std::vector<float>> arrays(3, speech);
    const auto outcomes = facade->transcribe(arrays, options, [&](const TranscriptionProgress&) -> std::optional<bool> {
        waitForAnotherThread("progress of a batch");
        return std::nullopt;
    });
    ASSERT_EQ(outcomes.size(), 3u);
    for (const auto& outcome : outcomes) {
        ASSERT_TRUE(outcome);
        EXPECT_FALSE(outcome->at(0)->text().empty());
    }
    std::lock_guard guard(seenMutex);
    EXPECT_EQ(segmentCalls, 3);
    EXPECT_EQ(waited(), (std::set<std::string>{"progress of a batch", "segment discovery of a batch"}));
}

/// The text decoder, which, once armed, lets no step begin before the progress callback has been
/// called for the step before: the callbacks and the decoding go in step, so that a stop the
/// callback asks for has reached the decoding within a few steps, however the threads are run.
class LockstepDecoder : public tremolan::TextDecoder {
public:
    tremolan::TextDecoderMLMultiArrayOutputType predictLogits(const tremolan::TextDecoderMLMultiArrayInputType& inputs,
                                                              std::stop_token stop) override {
        {
            std::unique_lock lock(mutex_);
            if (armed_ && ++steps_ > 1) {
                const int before = steps_ - 1;
                if (!changed_.wait_for(lock, kPatience, [&] { return calls_ >= before; }))
                    ADD_FAILURE() << "the progress callback was not called for step " << before << " within "
                                  << kPatience.count() << " s";
            }
        }
        return TextDecoder::predictLogits(inputs, stop);
    }
    void arm() {
        std::lock_guard lock(mutex_);
        armed_ = true;
    }
    void called() {
        std::lock_guard lock(mutex_);
        ++calls_;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    int steps_ = 0, calls_ = 0;
};

TEST_F(FacadeCallbacks, AFalseAnswerStillStopsTheDecodingItCameFrom) {
    tremolan::TremolanConfig config;
    config.modelFolder = dataPath("models/test-speech").string();
    config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
    const auto decoder = std::make_shared<LockstepDecoder>();
    config.textDecoder = decoder;
    const auto stepped = Tremolan::create(config);
    DecodingOptions options = greedy();
    options.language = "en";
    const auto whole = stepped->transcribe(speech, options);
    ASSERT_EQ(whole.size(), 1u);
    ASSERT_FALSE(whole[0]->segments().empty());
    const std::size_t wholeTokens = whole[0]->segments()[0].tokens.size();
    ASSERT_GE(wholeTokens, 9u) << "too short a transcription to see a stop in: " << whole[0]->text();

    decoder->arm();
    const auto stopped = stepped->transcribe(speech, options, [&](const TranscriptionProgress&) {
        decoder->called();
        return std::optional<bool>(false);
    });
    ASSERT_EQ(stopped.size(), 1u);
    const auto stoppedSegments = stopped[0]->segments();
    const std::size_t stoppedTokens = stoppedSegments.empty() ? 0 : stoppedSegments[0].tokens.size();
    EXPECT_LT(stoppedTokens, wholeTokens) << stopped[0]->text();
}

TEST_F(FacadeCallbacks, AThrowingSegmentCallbackFailsTheTranscriptionAndAThrowingProgressCallbackIsLogged) {
    facade->loadModels();
    {
        velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
        const auto results =
            facade->transcribe(speech, greedy(), [](const TranscriptionProgress&) -> std::optional<bool> {
                throw std::runtime_error("no room for progress");
            });
        ASSERT_EQ(results.size(), 1u);
        EXPECT_FALSE(results[0]->text().empty());
        EXPECT_GE(log.count("Progress callback failed: no room for progress"), 1);
    }
    int segmentCalls = 0;
    const std::string message = velmora::test::messageOf<std::runtime_error>([&] {
        facade->transcribe(speech, greedy(), nullptr, [&](const std::vector<TranscriptionSegment>&) {
            ++segmentCalls;
            throw std::runtime_error("no room for segments");
        });
    });
    EXPECT_EQ(message, "no room for segments");
    EXPECT_EQ(segmentCalls, 1);
}

/// What one run of the facade did: the windows it began, and how many it had begun when it was
/// asked to stop (-1: never).
struct WindowCount {
    std::atomic<int> begun{0};
    std::atomic<int> begunAtStop{-1};
};

/// Counts the windows of its run. A window after the run's first begins only once `calledBack`
/// is open (the segment callback opens it) or the run is asked to stop: however the threads are
/// run, the callback has been called before the run can decode on to the end.
class WindowCountingTask : public tremolan::TranscribeTask {
public:
    template <typename... Components>
    WindowCountingTask(std::shared_ptr<WindowCount> count, velmora::test::Gate& calledBack, Components&&... components)
        : TranscribeTask(std::forward<Components>(components)...), count_(std::move(count)), calledBack_(calledBack) {}

    std::shared_ptr<tremolan::TranscriptionResult> run(const std::vector<float>& audioArray,
                                                       const std::optional<DecodingOptions>& decodeOptions,
                                                       const tremolan::TranscriptionCallback& callback,
                                                       std::stop_token stop) override {
        stop_ = stop;
        const std::stop_callback noteStop(stop, [this] { count_->begunAtStop = count_->begun.load(); });
        return TranscribeTask::run(audioArray, decodeOptions, callback, stop);
    }
    void windowPreprocess(const platform::ml::MLMultiArray&, std::int64_t, std::int64_t) override {
        if (count_->begun > 0) calledBack_.pass(stop_);
        ++count_->begun;
    }

private:
    std::shared_ptr<WindowCount> count_;
    velmora::test::Gate& calledBack_;
    std::stop_token stop_;
};

/// The facade on the trained test model whose runs count their windows, one record per run.
class WindowCountingFacade : public Tremolan {
public:
    using Tremolan::Tremolan;

    std::unique_ptr<tremolan::TranscribeTask> setupTranscribeTask(
        tremolan::TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
        std::shared_ptr<tremolan::AudioProcessing> audioProcessor,
        std::shared_ptr<tremolan::AudioEncoding> audioEncoder,
        std::shared_ptr<tremolan::FeatureExtracting> featureExtractor,
        std::shared_ptr<tremolan::SegmentSeeking> segmentSeeker, std::shared_ptr<tremolan::TextDecoding> textDecoder,
        std::shared_ptr<tremolan::WhisperTokenizer> tokenizer) override {
        auto count = std::make_shared<WindowCount>();
        {
            std::lock_guard guard(mutex_);
            counts_.push_back(count);
        }
        return std::make_unique<WindowCountingTask>(count, calledBack, currentTimings, progress, audioProcessor,
                                                    audioEncoder, featureExtractor, segmentSeeker, textDecoder,
                                                    tokenizer);
    }
    /// The records of the runs set up since the last call.
    std::vector<std::shared_ptr<WindowCount>> takeCounts() {
        std::lock_guard guard(mutex_);
        return std::exchange(counts_, {});
    }

    /// Opened by the segment callback.
    velmora::test::Gate calledBack{false};

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<WindowCount>> counts_;
};

struct NoRoom : std::runtime_error {
    NoRoom() : std::runtime_error("no room for segments") {}
};

/// A long recording of many windows, whose segment callback throws.
class ThrowingSegmentCallback : public ::testing::Test {
protected:
    void SetUp() override {
        tremolan::TremolanConfig config;
        config.modelFolder = dataPath("models/test-speech").string();
        config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
        counting = Tremolan::create<WindowCountingFacade>(config);
        recording = velmora::test::longRecording("long-en");
        options.language = recording.language;
        options.temperatureFallbackCount = 0;
        options.skipSpecialTokens = true;
    }

    /// Throws on its first call, and lets the windows waiting for a call go on; counts the others.
    tremolan::Tremolan::SegmentDiscoveryCallback throwing() {
        return [this](const std::vector<TranscriptionSegment>&) {
            if (segmentCalls++ > 0) return;
            thrown = true;
            counting->calledBack.open();
            throw NoRoom();
        };
    }
    /// Every run that began a window was asked to stop in the window it was in, and began at most
    /// the next one, in which it stopped before decoding. The callback was called before any run
    /// began its second window, so that the stop came in the second window, or the third at the
    /// latest (the whole recording takes eleven).
    static void expectStoppedInFlight(const std::vector<std::shared_ptr<WindowCount>>& runs) {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            SCOPED_TRACE("run " + std::to_string(i));
            const int begun = runs[i]->begun, atStop = runs[i]->begunAtStop;
            if (begun == 0) continue;
            EXPECT_GE(atStop, 0) << "the run was never asked to stop; it began " << begun << " windows";
            EXPECT_LE(begun, atStop + 1);
            EXPECT_LE(begun, 3);
        }
    }

    std::shared_ptr<WindowCountingFacade> counting;
    velmora::test::TimedRecording recording;
    DecodingOptions options;
    std::atomic<int> segmentCalls{0};
    std::atomic<bool> thrown{false};
};

TEST_F(ThrowingSegmentCallback, EndsALongTranscriptionAfterTheWindowInFlight) {
    int progressAfterThrow = 0;
    EXPECT_EQ(velmora::test::messageOf<NoRoom>([&] {
                  counting->transcribe(
                      recording.samples, options,
                      [&](const TranscriptionProgress&) -> std::optional<bool> {
                          if (thrown) ++progressAfterThrow;
                          return std::nullopt;
                      },
                      throwing());
              }),
              "no room for segments");
    EXPECT_EQ(segmentCalls, 1);
    // The callbacks are called in order, on one thread: nothing of the run came after the throw.
    EXPECT_EQ(progressAfterThrow, 0);
    const auto runs = counting->takeCounts();
    ASSERT_EQ(runs.size(), 1u);
    expectStoppedInFlight(runs);
}

TEST_F(ThrowingSegmentCallback, EndsEveryChildOfABatchAndTheBatchesAfterIt) {
    counting->setSegmentDiscoveryCallback(throwing());
    options.concurrentWorkerCount = 3;
    const std::vector<std::vector<float>> three(3, recording.samples);
    EXPECT_EQ(velmora::test::messageOf<NoRoom>([&] { counting->transcribeWithResults(three, options); }),
              "no room for segments");
    // A child that had found segments before it heard of the throw may have handed them on.
    EXPECT_LE(segmentCalls, 3);
    auto runs = counting->takeCounts();
    EXPECT_EQ(runs.size(), 3u);
    expectStoppedInFlight(runs);

    // One child a batch: the batches after the failed one do not begin.
    counting->calledBack.shut();
    segmentCalls = 0;
    options.concurrentWorkerCount = 1;
    EXPECT_EQ(velmora::test::messageOf<NoRoom>([&] { counting->transcribeWithResults(three, options); }),
              "no room for segments");
    EXPECT_EQ(segmentCalls, 1);
    runs = counting->takeCounts();
    EXPECT_EQ(runs.size(), 1u);
    expectStoppedInFlight(runs);
}

TEST_F(ThrowingSegmentCallback, FailsARecordingCutAtSilencesInsteadOfKeepingTheOtherPieces) {
    counting->setSegmentDiscoveryCallback(throwing());
    options.chunkingStrategy = tremolan::ChunkingStrategy::vad;
    EXPECT_EQ(velmora::test::messageOf<NoRoom>([&] { counting->transcribe(recording.samples, options); }),
              "no room for segments");
    EXPECT_LE(segmentCalls, static_cast<int>(counting->takeCounts().size()));
}

}  // namespace
