// The streaming transcriber on scripted components and audio handed in by the test: when passes
// run, where they start, what is confirmed, the texts shown while a pass runs, the early-stop
// verdict, and starting and stopping (refused permission, failed starts, second recordings,
// prompt stops, failed passes).

#include "TremolanTests/ScriptedPipeline.hpp"

#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Streaming/AudioStreamTranscriber.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace tremolan;
using State = AudioStreamTranscriber::State;
using velmora::test::segment;
using Clock = std::chrono::steady_clock;

/// Capture without a sound server: the test hands in the buffers.
class FedAudioProcessor : public AudioProcessor {
public:
    void startRecordingLive(std::optional<AudioDeviceID>, AudioBufferCallback callback) override {
        if (failingStarts > 0) {
            --failingStarts;
            throw std::runtime_error("no source to record");
        }
        ++starts;
        purgeAudioSamples(0);
        setAudioBufferCallback(std::move(callback));
    }
    void stopRecording() override { ++stops; }
    /// `count` samples at `level`, in buffers of 1600 as capture hands them on, or in one when
    /// the test wants no pass to see a part of them.
    void feed(std::size_t count, float level = 0.5f, std::size_t bufferSize = 1600) {
        while (count > 0) {
            const std::size_t n = std::min(count, bufferSize);
            std::vector<float> buffer(n);
            for (std::size_t i = 0; i < n; ++i) buffer[i] = i % 2 ? level : -level;
            processBuffer(buffer);
            count -= n;
        }
    }
    std::atomic<int> failingStarts{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
};

class Transcriber : public AudioStreamTranscriber {
public:
    using AudioStreamTranscriber::AudioStreamTranscriber;
    std::atomic<bool> permitted{true};

protected:
    bool requestRecordPermission() override { return permitted; }
};

/// The scripted pipeline, the fed capture, and every state the transcriber reports.
struct Streaming {
    std::shared_ptr<velmora::test::FakeFeatureExtractor> mel = std::make_shared<velmora::test::FakeFeatureExtractor>();
    std::shared_ptr<velmora::test::FakeAudioEncoder> encoder = std::make_shared<velmora::test::FakeAudioEncoder>();
    std::shared_ptr<velmora::test::ScriptedSeeker> seeker = std::make_shared<velmora::test::ScriptedSeeker>();
    std::shared_ptr<FedAudioProcessor> audio = std::make_shared<FedAudioProcessor>();
    std::unique_ptr<Transcriber> transcriber;

    /// What the seeker answers for a window at `seek` of `size` samples: segments in seconds.
    using Segments = std::function<std::vector<TranscriptionSegment>(std::int64_t seek, std::int64_t size)>;

    explicit Streaming(int required = 2, bool useVAD = false, DecodingOptions options = plain(),
                       velmora::test::ScriptedTextDecoder::Script script = nullptr) {
        const auto tokenizer = velmora::test::multilingualTokenizer();
        if (!script) script = velmora::test::saysHello(tokenizer->encode(" hello").at(0));
        const auto decoder = std::make_shared<velmora::test::ScriptedTextDecoder>(std::move(script), 224, false);
        seeker->answer = [this](std::int64_t seek, std::int64_t size, std::int64_t) {
            std::vector<TranscriptionSegment> found;
            {
                std::lock_guard lock(mutex);
                windowStarts.push_back(seek);
                if (segments) found = segments(seek, size);
            }
            return SeekAndSegments{seek + size, found};
        };
        transcriber = std::make_unique<Transcriber>(encoder, mel, seeker, decoder, tokenizer, audio, options, required,
                                                    0.3f, 60, useVAD, [this](const State&, const State& now) {
                                                        std::lock_guard lock(mutex);
                                                        states.push_back(now);
                                                        changed.notify_all();
                                                    });
    }

    static DecodingOptions plain() {
        DecodingOptions options;
        options.language = "en";
        options.withoutTimestamps = true;
        return options;
    }

    void answer(Segments s) {
        std::lock_guard lock(mutex);
        segments = std::move(s);
    }
    std::vector<std::int64_t> starts() {
        std::lock_guard lock(mutex);
        return windowStarts;
    }
    std::vector<State> reported() {
        std::lock_guard lock(mutex);
        return states;
    }
    /// Waits until a reported state passes the test.
    bool waitFor(const std::function<bool(const State&)>& test, double seconds = 20) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds),
                                [&] { return std::any_of(states.begin(), states.end(), test); });
    }
    bool waitForPasses(std::size_t windows, double seconds = 20) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (starts().size() < windows) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<State> states;
    std::vector<std::int64_t> windowStarts;
    Segments segments;
};

/// Segments of `seconds` each from the window's start.
Streaming::Segments consecutive(std::vector<float> seconds) {
    return [seconds](std::int64_t seek, std::int64_t) {
        std::vector<TranscriptionSegment> out;
        float at = static_cast<float>(seek) / 16000.0f;
        for (const float length : seconds) {
            out.push_back(segment(at, at + length, {static_cast<std::int64_t>(out.size())}));
            at += length;
        }
        return out;
    };
}

TEST(AudioStreamTranscriber, PassesNeedMoreThanASecondOfNewAudioAndStartAtTheConfirmedEnd) {
    Streaming s(2);
    s.answer(consecutive({0.2f, 0.2f}));
    s.transcriber->startStreamTranscription();
    EXPECT_TRUE(s.transcriber->state().isRecording);
    s.audio->feed(16000);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.currentText == AudioStreamTranscriber::waitingText; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(s.starts().empty()) << "exactly one second is not enough";

    // One sample more: a pass over the whole buffer; two segments, both kept back.
    s.audio->feed(1);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.unconfirmedSegments.size() == 2; }));
    EXPECT_EQ(s.starts(), std::vector<std::int64_t>{0});
    EXPECT_TRUE(s.transcriber->state().confirmedSegments.empty());
    EXPECT_EQ(s.transcriber->state().lastBufferSize, 16001);
    EXPECT_EQ(s.transcriber->state().lastConfirmedSegmentEndSeconds, 0.0f);

    // Five segments: the first three are confirmed, the last two wait for the next pass.
    s.answer(consecutive({0.2f, 0.2f, 0.2f, 0.2f, 0.2f}));
    s.audio->feed(17000);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.confirmedSegments.size() == 3; }));
    ASSERT_TRUE(s.waitFor([](const State& st) {
        return st.confirmedSegments.size() == 3 && st.unconfirmedSegments.size() == 2 &&
               st.unconfirmedSegments.front().start > 0.5f;
    }));
    State st = s.transcriber->state();
    EXPECT_FLOAT_EQ(st.lastConfirmedSegmentEndSeconds, 0.6f);
    EXPECT_FLOAT_EQ(st.unconfirmedSegments.front().start, 0.6f);
    EXPECT_EQ(st.bufferEnergy.size(), 22u) << "one energy value per captured buffer";

    // The next pass starts at the third segment's end.
    s.audio->feed(17000);
    ASSERT_TRUE(s.waitForPasses(3));
    EXPECT_EQ(s.starts()[2], 9600);
    s.transcriber->stopStreamTranscription();
    EXPECT_FALSE(s.transcriber->state().isRecording);
    EXPECT_EQ(s.audio->stops, 1);
    // Every reported state is a whole one: the confirmed segments never shrink.
    std::size_t confirmed = 0;
    for (const auto& reported : s.reported()) {
        EXPECT_GE(reported.confirmedSegments.size(), confirmed);
        confirmed = reported.confirmedSegments.size();
    }
}

TEST(AudioStreamTranscriber, CandidatesAlreadyConfirmedMoveTheEndButAreNotAddedAgain) {
    // Before the transcriber, whose thread reads them until it ends, a failed check included.
    const TranscriptionSegment a = segment(0.0f, 2.0f, {1}), b = segment(1.0f, 1.5f, {2});
    Streaming s(0);
    s.answer([&](std::int64_t, std::int64_t) { return std::vector<TranscriptionSegment>{a, b}; });
    s.transcriber->startStreamTranscription();
    s.audio->feed(17000, 0.5f, 17000);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.confirmedSegments.size() == 2; }));
    EXPECT_FLOAT_EQ(s.transcriber->state().lastConfirmedSegmentEndSeconds, 1.5f);

    // The next pass starts at 1.5 s and needs a window of more than a second there.
    s.answer([&](std::int64_t, std::int64_t) { return std::vector<TranscriptionSegment>{a}; });
    s.audio->feed(40000, 0.5f, 40000);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.lastConfirmedSegmentEndSeconds == 2.0f; }));
    s.transcriber->stopStreamTranscription();
    EXPECT_EQ(s.transcriber->state().confirmedSegments, (std::vector<TranscriptionSegment>{a, b}));
    EXPECT_EQ(s.starts().at(1), 24000);
}

TEST(AudioStreamTranscriber, FinishedWindowsShowAsUnconfirmedTextUntilThePassEnds) {
    DecodingOptions options = Streaming::plain();
    options.skipSpecialTokens = true;
    // The first window says " hello there", every later one " hello".
    const auto tokenizer = velmora::test::multilingualTokenizer();
    const int hello = tokenizer->encode(" hello").at(0), there = tokenizer->encode(" there").at(0);
    auto decodings = std::make_shared<std::atomic<int>>(0);
    Streaming s(2, false, options, [=](int position, int) {
        using namespace velmora::test::tokens;
        if (position == 0) ++*decodings;
        if (position < 3) return velmora::test::favour(position == 0 ? EN : TRANSCRIBE);
        if (position == 3) return velmora::test::favour(hello);
        return velmora::test::favour(position == 4 && *decodings == 1 ? there : EOT);
    });
    s.mel->window = 32000;  // windows of two seconds
    s.answer(consecutive({0.5f}));
    s.transcriber->startStreamTranscription();
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.currentText == AudioStreamTranscriber::waitingText; }));
    s.audio->feed(56000, 0.5f, 56000);  // windows at 0 and 2 s; the last second is no window of its own
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.unconfirmedSegments.size() == 2; }));
    s.transcriber->stopStreamTranscription();

    bool sawWindowText = false;
    for (const auto& st : s.reported()) {
        for (const auto& text : st.unconfirmedText) {
            EXPECT_EQ(text, " hello there") << "only finished windows' texts, never the waiting placeholder";
            sawWindowText = true;
        }
    }
    EXPECT_TRUE(sawWindowText);
    // The pass's end empties both texts before its segments come in.
    const auto states = s.reported();
    const auto end =
        std::find_if(states.begin(), states.end(), [](const State& st) { return st.unconfirmedSegments.size() == 2; });
    ASSERT_NE(end, states.end());
    EXPECT_TRUE(end->unconfirmedText.empty());
    EXPECT_TRUE(end->currentText.empty());
    EXPECT_EQ(end->currentFallbacks, 0);
}

TEST(AudioStreamTranscriber, EarlyStopOnRepetitionOrLowConfidence) {
    TranscriptionProgress progress;
    for (int i = 0; i < 80; ++i) progress.tokens.push_back(1000 + i % 2);
    DecodingOptions options;  // compression ratio threshold 2.4, log probability threshold -1
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::optional<bool>(false));
    // Repetition is looked at only past the window.
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 80), std::nullopt);
    std::vector<int> varied;
    for (int i = 0; i < 80; ++i) varied.push_back(1000 + (i * 7919) % 5000);
    progress.tokens = varied;
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::nullopt);
    // Without a threshold any repetition at all stops the window.
    options.compressionRatioThreshold.reset();
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::optional<bool>(false));
    options = DecodingOptions();
    progress.avgLogprob = -1.5f;
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::optional<bool>(false));
    progress.avgLogprob = -0.5f;
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::nullopt);
    options.logProbThreshold.reset();
    progress.avgLogprob = -5.0f;
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progress, options, 60), std::nullopt);
}

TEST(AudioStreamTranscriber, WithVoiceDetectionQuietAudioRunsNoPass) {
    velmora::test::LogCapture log;
    Streaming s(0, true);
    s.answer(consecutive({0.5f}));
    s.transcriber->startStreamTranscription();
    s.audio->feed(32000, 0.0005f);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.currentText == AudioStreamTranscriber::waitingText; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(s.starts().empty());
    EXPECT_GT(log.count("No voice detected, skipping transcribe"), 0);
    s.audio->feed(32000, 0.5f);
    EXPECT_TRUE(s.waitForPasses(1));
    s.transcriber->stopStreamTranscription();
}

TEST(AudioStreamTranscriber, StartingIsRefusedWithoutPermissionAndOnceWhileRecording) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    Streaming s;
    s.transcriber->permitted = false;
    s.transcriber->startStreamTranscription();
    EXPECT_FALSE(s.transcriber->state().isRecording);
    EXPECT_EQ(s.audio->starts, 0);
    EXPECT_EQ(log.count("Microphone access was not granted."), 1);

    s.transcriber->permitted = true;
    s.transcriber->startStreamTranscription();
    s.transcriber->startStreamTranscription();
    EXPECT_EQ(s.audio->starts, 1);
    s.transcriber->stopStreamTranscription();
    EXPECT_FALSE(s.transcriber->state().isRecording);

    EXPECT_THROW(Transcriber(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}, -1, 0.3f, 60, false, nullptr),
                 WhisperError);
    EXPECT_THROW(Transcriber(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}, 2, 0.3f, -1, false, nullptr),
                 WhisperError);
}

TEST(AudioStreamTranscriber, AFailedCaptureStartLeavesTheTranscriberStartable) {
    Streaming s;
    s.audio->failingStarts = 1;
    EXPECT_THROW(s.transcriber->startStreamTranscription(), std::runtime_error);
    EXPECT_FALSE(s.transcriber->state().isRecording);
    s.transcriber->startStreamTranscription();
    EXPECT_TRUE(s.transcriber->state().isRecording);
    EXPECT_EQ(s.audio->starts, 1);
    s.answer(consecutive({0.5f}));
    s.audio->feed(17000);
    EXPECT_TRUE(s.waitForPasses(1)) << "the loop runs after the second start";
    s.transcriber->stopStreamTranscription();
}

TEST(AudioStreamTranscriber, ASecondRecordingStartsClean) {
    Streaming s(0);
    s.answer(consecutive({0.5f, 0.5f}));
    s.transcriber->startStreamTranscription();
    s.audio->feed(48000, 0.5f, 48000);
    ASSERT_TRUE(s.waitFor([](const State& st) { return st.confirmedSegments.size() == 2; }));
    s.transcriber->stopStreamTranscription();
    ASSERT_EQ(s.starts(), std::vector<std::int64_t>{0});

    // The capture buffer starts empty again: a second and a bit of it is enough for a pass, and
    // the pass starts at its beginning, not at the first recording's confirmed end.
    s.transcriber->startStreamTranscription();
    State st = s.transcriber->state();
    EXPECT_TRUE(st.isRecording);
    EXPECT_EQ(st.lastBufferSize, 0);
    EXPECT_EQ(st.lastConfirmedSegmentEndSeconds, 0.0f);
    EXPECT_TRUE(st.confirmedSegments.empty());
    s.audio->feed(17000, 0.5f, 17000);
    ASSERT_TRUE(s.waitForPasses(2, 5));
    EXPECT_EQ(s.starts()[1], 0);
    s.transcriber->stopStreamTranscription();
}

TEST(AudioStreamTranscriber, StopAbandonsAPassPromptlyAndAFailedPassEndsTheLoop) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    Streaming s;
    s.mel->window = 32000;
    // Every window's features take a second: a pass over 20 s of audio takes ten.
    s.mel->during = [] { std::this_thread::sleep_for(std::chrono::seconds(1)); };
    s.answer(consecutive({0.5f}));
    s.transcriber->startStreamTranscription();
    s.audio->feed(320000, 0.5f, 320000);
    ASSERT_TRUE(s.waitForPasses(2));
    const auto began = Clock::now();
    s.transcriber->stopStreamTranscription();
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(4)) << "the stop waits for the window under way at most";
    EXPECT_LT(s.starts().size(), 10u);
    EXPECT_TRUE(log.messages().empty()) << "a stop is no error";

    // A pass that fails ends the loop with an error line; the recording goes on until stopped.
    s.mel->during = nullptr;
    s.mel->fail = true;
    s.transcriber->startStreamTranscription();
    s.audio->feed(17000);
    s.transcriber->waitUntilStopped();
    EXPECT_EQ(log.count("Error: Mel output is nil"), 1);
    EXPECT_TRUE(s.transcriber->state().isRecording);
    s.transcriber->startStreamTranscription();
    EXPECT_EQ(s.audio->starts, 2) << "still recording: a start does nothing";
    s.transcriber->stopStreamTranscription();
    EXPECT_FALSE(s.transcriber->state().isRecording);
}

}  // namespace
