#include "Platform/Audio/AudioCapture.hpp"
#include "Platform/Audio/SoundServer.hpp"
#include "Support/PrivatePulseServer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <thread>

using namespace platform::audio;
using velmora::test::PrivatePulseServer;
using Kind = SoundServerError::Kind;

namespace {

Kind kindOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const SoundServerError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no SoundServerError";
    return Kind::streamFailed;
}

std::vector<float> tone(double frequency, double seconds, std::uint32_t rate, float level = 0.5f) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = level * static_cast<float>(std::sin(2 * std::numbers::pi * frequency * i / rate));
    return samples;
}

/// Records what a capture hands on.
struct Recorder {
    std::mutex mutex;
    std::vector<float> samples;
    std::vector<std::size_t> blocks;
    std::atomic<std::thread::id> thread{};
    std::atomic<int> failures{0};
    std::string failure;

    AudioCapture::SamplesCallback samplesCallback() {
        return [this](const float* data, std::size_t count) {
            std::lock_guard guard(mutex);
            samples.insert(samples.end(), data, data + count);
            blocks.push_back(count);
            thread = std::this_thread::get_id();
        };
    }
    AudioCapture::FailureCallback failureCallback() {
        return [this](const SoundServerError& e) {
            std::lock_guard guard(mutex);
            failure = e.what();
            ++failures;
        };
    }
    std::size_t count() {
        std::lock_guard guard(mutex);
        return samples.size();
    }
    bool waitFor(std::size_t atLeast, double seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (count() < atLeast) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
};

/// Frequency of a tone from its sign changes between the first and the last loud sample.
double toneFrequency(const std::vector<float>& samples, double rate) {
    const auto loud = [](float s) { return std::fabs(s) > 0.25f; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    if (first >= last) return 0;
    std::size_t crossings = 0;
    for (auto it = first + 1; it < last; ++it) crossings += (*(it - 1) < 0) != (*it < 0);
    return crossings * rate / 2.0 / static_cast<double>(last - first);
}

}  // namespace

TEST(SoundServer, WithoutAServerEveryCallSaysSo) {
    // The test main points PULSE_SERVER at a socket nobody listens on.
    EXPECT_EQ(kindOf([] { listAudioSources(); }), Kind::unavailable);
    EXPECT_EQ(kindOf([] { soundServerInfo("unix:/nonexistent/velmora/native"); }), Kind::unavailable);
    EXPECT_EQ(kindOf([] { AudioCapture({}, nullptr); }), Kind::unavailable);
}

TEST(SoundServer, ListsSourcesAndFindsTheDefaults) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("desk-mic");
    server.setDefaultSource("desk-mic");

    const SoundServerInfo info = soundServerInfo(server.address());
    EXPECT_EQ(info.defaultSinkName, "speakers");
    EXPECT_EQ(info.defaultSourceName, "desk-mic");

    const auto sources = listAudioSources(server.address());
    const auto named = [&](const std::string& name) {
        return std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s.name == name; });
    };
    ASSERT_NE(named("speakers.monitor"), sources.end());
    ASSERT_NE(named("desk-mic"), sources.end());
    EXPECT_TRUE(named("speakers.monitor")->isMonitor());
    EXPECT_FALSE(named("desk-mic")->isMonitor());
    EXPECT_EQ(named("desk-mic")->description, "desk-mic");

    EXPECT_EQ(findAudioSource(SourceSelection::defaultSource(), server.address()).name, "desk-mic");
    EXPECT_EQ(findAudioSource(SourceSelection::defaultSinkMonitor(), server.address()).name, "speakers.monitor");
    const AudioSourceInfo mic = *named("desk-mic");
    EXPECT_EQ(findAudioSource(SourceSelection::withIndex(mic.index), server.address()), mic);
    EXPECT_EQ(findAudioSource(SourceSelection::named("desk-mic"), server.address()), mic);

    EXPECT_EQ(kindOf([&] { findAudioSource(SourceSelection::named("nowhere"), server.address()); }),
              Kind::noSuchSource);
    EXPECT_EQ(kindOf([&] { findAudioSource(SourceSelection::withIndex(9999), server.address()); }), Kind::noSuchSource);

    server.removeNullSink("speakers");
    server.removeNullSink(PrivatePulseServer::feedOf("desk-mic"));
    EXPECT_EQ(kindOf([&] { findAudioSource(SourceSelection::defaultSinkMonitor(), server.address()); }),
              Kind::noDefaultSink);
}

TEST(SoundServer, CapturesWhatASinkPlaysInWholeBlocksOnItsOwnThread) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    Recorder recorder;
    AudioCapture::Options options;
    options.server = server.address();
    options.source = SourceSelection::defaultSinkMonitor();
    AudioCapture capture(options, recorder.samplesCallback(), recorder.failureCallback());
    EXPECT_EQ(capture.source().name, "speakers.monitor");

    // A 440 Hz tone at 48 kHz, taken down to 16 kHz mono by the server.
    server.play("speakers", tone(440, 1.5, 48000), 48000);
    ASSERT_TRUE(recorder.waitFor(16000));
    const auto started = std::chrono::steady_clock::now();
    capture.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    capture.stop();  // again: nothing

    std::lock_guard guard(recorder.mutex);
    ASSERT_GE(recorder.blocks.size(), 2u);
    for (std::size_t i = 0; i + 1 < recorder.blocks.size(); ++i) EXPECT_EQ(recorder.blocks[i], 1600u) << i;
    EXPECT_LE(recorder.blocks.back(), 1600u);
    EXPECT_NE(recorder.thread.load(), std::this_thread::get_id());
    EXPECT_NEAR(toneFrequency(recorder.samples, 16000), 440, 10);
    float peak = 0;
    for (float s : recorder.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 0.5f, 0.05f);
    EXPECT_EQ(recorder.failures, 0);
}

TEST(SoundServer, PausedCaptureReceivesNothingAndALostSourceEndsTheRecording) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    Recorder recorder;
    AudioCapture::Options options;
    options.server = server.address();
    options.source = SourceSelection::named("mic");
    options.blockFrames = 0;
    AudioCapture capture(options, recorder.samplesCallback(), recorder.failureCallback());
    ASSERT_TRUE(recorder.waitFor(1600));

    capture.pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::size_t paused = recorder.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_LE(recorder.count() - paused, 3200u);  // at most what was already on its way
    capture.resume();
    EXPECT_TRUE(recorder.waitFor(recorder.count() + 3200));

    server.removeNullSink(PrivatePulseServer::feedOf("mic"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorder.failures == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(recorder.failures, 1);
    capture.stop();
}

// The last owner of a capture may let go inside its callback, on the capture's own thread, which
// cannot stop itself: the capture then ends on another thread instead of ending the process.
TEST(SoundServer, ACaptureDroppedInsideItsOwnCallbackEndsWithoutEndingTheProcess) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    const auto recordStreams = [&] {
        const std::string list = server.pactl({"list", "short", "source-outputs"});
        return std::count(list.begin(), list.end(), '\n');
    };
    const auto others = recordStreams();
    std::mutex mutex;
    std::shared_ptr<AudioCapture> owner;
    std::atomic<int> callsAfterDrop{0};
    std::atomic<bool> dropped{false};
    AudioCapture::Options options;
    options.server = server.address();
    options.source = SourceSelection::named("mic");
    auto capture = std::make_shared<AudioCapture>(options, [&](const float*, std::size_t) {
        if (dropped) {
            ++callsAfterDrop;
            return;
        }
        std::shared_ptr<AudioCapture> last;
        {
            std::lock_guard guard(mutex);
            last = std::move(owner);
        }
        if (!last) return;
        last.reset();  // the capture's destructor runs here, on its own thread
        dropped = true;
    });
    ASSERT_EQ(recordStreams(), others + 1);
    {
        std::lock_guard guard(mutex);
        owner = std::move(capture);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((!dropped || recordStreams() != others) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(dropped);
    EXPECT_EQ(recordStreams(), others) << "the dropped capture's stream is ended";
    EXPECT_EQ(callsAfterDrop.load(), 0);
}
