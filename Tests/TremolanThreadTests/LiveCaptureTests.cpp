#include "Platform/Audio/SoundServer.hpp"
#include "Support/LogCapture.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/SignalMatch.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "TremolanTests/Audio/AudioTestSignals.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace tremolan;
using velmora::test::bestCorrelation;
using velmora::test::PrivatePulseServer;
using velmora::test::sine;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<float> level(float value, std::size_t count = 1600) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = i % 2 ? value : -value;
    return samples;
}

bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

/// The sources that the processor's record streams read, from the server's own list.
std::vector<std::string> captureSources(const PrivatePulseServer& server) {
    const std::string list = server.pactl({"list", "source-outputs"});
    std::vector<std::string> sources;
    std::size_t at = 0;
    while ((at = list.find("Source Output #", at)) != std::string::npos) {
        const std::size_t next = std::min(list.find("Source Output #", at + 1), list.size());
        const std::string block = list.substr(at, next - at);
        if (block.find("media.name = \"Live transcription\"") != std::string::npos) {
            const std::size_t source = block.find("Source: ") + 8;
            sources.push_back(block.substr(source, block.find('\n', source) - source));
        }
        at = next;
    }
    return sources;
}

AudioDeviceID sourceIndex(const PrivatePulseServer& server, const std::string& name) {
    return platform::audio::findAudioSource(platform::audio::SourceSelection::named(name), server.address()).index;
}

}  // namespace

TEST(LiveCapture, EachBufferIsMeasuredAgainstTheQuietestOfTheLastTwenty) {
    AudioProcessor processor;
    std::vector<std::size_t> handed;
    processor.setAudioBufferCallback([&](const std::vector<float>& s) { handed.push_back(s.size()); });
    velmora::test::LogCapture log;

    processor.processBuffer(level(0.001f));
    EXPECT_EQ(processor.relativeEnergy().front(), 0.0f) << "no history: 0";
    for (int i = 0; i < 20; ++i) processor.processBuffer(level(0.1f));
    // Relative to 0.001 (an entry 21 buffers back) it would be 1/3; the last 20 all say 0.1.
    processor.setRelativeEnergyWindow(5);
    processor.processBuffer(level(0.01f));
    EXPECT_EQ(processor.relativeEnergy().back(), 0.0f);
    processor.processBuffer(level(0.1f));
    EXPECT_NEAR(processor.relativeEnergy().back(), 0.5f, 1e-4f) << "0.1 over a floor of 0.01 (-40 dB)";
    const AudioEnergy last = processor.audioEnergy().back();
    EXPECT_FLOAT_EQ(last.avg, 0.1f);
    EXPECT_FLOAT_EQ(last.max, 0.1f);
    EXPECT_FLOAT_EQ(last.min, 0.1f);
    EXPECT_EQ(processor.audioSamples().size(), 23u * 1600u);
    EXPECT_EQ(handed, std::vector<std::size_t>(23, 1600));

    // A progress line when the count lands on a multiple of 1600 x window (here 8000).
    const auto progress = [&] {
        long lines = 0;
        for (const auto& m : log.messages()) lines += m.rfind("Current audio size: ", 0) == 0;
        return lines;
    };
    const long before = progress();
    processor.processBuffer(level(0.1f, 1600 * 2));  // 40000: a multiple of 8000
    EXPECT_EQ(progress(), before + 1);
    processor.processBuffer(level(0.1f, 7000));  // steps over 48000
    EXPECT_EQ(progress(), before + 1);
    EXPECT_EQ(log.count("Current audio size: 40000 samples, most recent buffer: 3200 samples, most recent energy: "
                        "(rel: 0.5, avg: 0.1, max: 0.1, min: 0.1)"),
              1);

    processor.purgeAudioSamples(100000);
    EXPECT_EQ(processor.audioSamples().size(), 47000u);
    processor.purgeAudioSamples(1000);
    EXPECT_EQ(processor.audioSamples().size(), 1000u);
    processor.purgeAudioSamples(0);
    EXPECT_TRUE(processor.audioSamples().empty());
    EXPECT_EQ(processor.relativeEnergy().size(), 25u);
}

TEST(LiveCapture, ReadersAndPurgesRunSafelyBesideTheCaptureThread) {
    AudioProcessor processor;
    std::atomic<bool> done{false};
    std::atomic<bool> seen{false};
    std::atomic<long> calls{0};
    std::thread capture([&] {
        const auto buffer = level(0.05f);
        for (int i = 0; i < 3000; ++i) {
            // Halfway, wait for the reader to see samples, so that the two overlap however the
            // threads are scheduled.
            if (i == 1500)
                while (!seen) std::this_thread::yield();
            processor.processBuffer(buffer);
        }
        done = true;
    });
    std::size_t largest = 0;
    while (!done) {
        largest = std::max(largest, processor.audioSamples().size());
        if (largest > 0) seen = true;
        (void)processor.relativeEnergy();
        processor.purgeAudioSamples(16000);
        processor.setAudioBufferCallback([&](const std::vector<float>&) { ++calls; });
    }
    capture.join();
    EXPECT_LE(processor.audioSamples().size(), 3000u * 1600u);
    EXPECT_EQ(processor.audioEnergy().size(), 3000u);
    EXPECT_GT(largest, 0u);
}

TEST(LiveCapture, WithoutASoundServerStartsFailCleanly) {
    AudioProcessor processor;
    processor.processBuffer(level(0.1f));
    EXPECT_THROW(processor.startRecordingLive(), platform::audio::SoundServerError);
    EXPECT_TRUE(processor.audioSamples().empty());
    EXPECT_FALSE(processor.isRecording());
    const auto stream = processor.startStreamingRecordingLive();
    EXPECT_THROW(stream->next(), platform::audio::SoundServerError);
    EXPECT_TRUE(stream->isFinished());
    EXPECT_TRUE(AudioProcessor::getAudioDevices().empty());
    EXPECT_FALSE(AudioProcessor::requestRecordPermission());
    processor.stopRecording();
}

TEST(LiveCapture, AHeldOutRecordingPlayedIntoASinkIsCapturedFromItsMonitor) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    const auto played = AudioProcessor::loadAudioAsFloatArray(velmora::test::dataPath("testmodel/en-02.wav").string());
    EXPECT_TRUE(AudioProcessor::requestRecordPermission());
    const auto devices = AudioProcessor::getAudioDevices();
    const AudioDeviceID monitor = sourceIndex(server, "speakers.monitor");
    EXPECT_NE(std::find(devices.begin(), devices.end(), AudioDevice{monitor, "Monitor of Speakers"}), devices.end());

    AudioProcessor processor;
    std::atomic<std::size_t> buffers{0};
    std::atomic<std::size_t> shortBuffers{0};
    processor.startRecordingLive(monitor, [&](const std::vector<float>& s) {
        shortBuffers += s.size() != 1600;
        ++buffers;
    });
    EXPECT_TRUE(processor.isRecording());
    server.play("speakers", played, 16000);
    ASSERT_TRUE(waitUntil([&] { return processor.audioSamples().size() > played.size() + 8000; }));
    const auto started = Clock::now();
    processor.stopRecording();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_FALSE(processor.isRecording());
    processor.stopRecording();

    const auto captured = processor.audioSamples();
    // The server starts the sink's sound a moment late: the recording from its first quarter second on.
    EXPECT_GT(bestCorrelation(std::vector<float>(played.begin() + 4000, played.end()), captured), 0.9);
    const auto energy = processor.audioEnergy();
    EXPECT_EQ(energy.size(), buffers.load());
    // Whole buffers of 1600, but for what stop hands on last.
    EXPECT_LE(shortBuffers.load(), 1u);
    EXPECT_GT(captured.size(), (energy.size() - 1) * 1600);
    EXPECT_LE(captured.size(), energy.size() * 1600);
    EXPECT_EQ(energy.front().rel, 0.0f);
    EXPECT_TRUE(std::any_of(energy.begin(), energy.end(), [](const AudioEnergy& e) { return e.rel > 0.3f; }));
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(processor.relativeEnergy(), 5.0f, 0.3f));
}

TEST(LiveCapture, ANewStartEndsTheOldStreamAndResumeKeepsTheSamples) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    const auto streams = [&] { return captureSources(server).size(); };
    AudioProcessor processor;
    processor.startRecordingLive();
    ASSERT_TRUE(waitUntil([&] { return processor.audioSamples().size() >= 16000; }));
    processor.startRecordingLive();
    EXPECT_LT(processor.audioSamples().size(), 8000u) << "a start begins with empty samples";
    EXPECT_EQ(streams(), 1u);
    // One stream's worth of samples: about real time, not twice that.
    const auto began = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return processor.audioSamples().size() >= 16000; }));
    EXPECT_GT(Clock::now() - began, std::chrono::milliseconds(700));

    processor.pauseRecording();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::size_t paused = processor.audioSamples().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(processor.audioSamples().size(), paused + 1600);
    processor.resumeRecordingLive();
    ASSERT_TRUE(waitUntil([&] { return processor.audioSamples().size() >= paused + 8000; }));

    // Another device: a new stream on it, the same samples going on.
    const std::size_t before = processor.audioSamples().size();
    std::atomic<int> calls{0};
    processor.resumeRecordingLive(sourceIndex(server, "mic"), [&](const std::vector<float>&) { ++calls; });
    EXPECT_GE(processor.audioSamples().size(), before);
    EXPECT_EQ(streams(), 1u);
    EXPECT_EQ(captureSources(server), std::vector<std::string>{std::to_string(sourceIndex(server, "mic"))});
    ASSERT_TRUE(waitUntil([&] { return calls > 3; }));
    processor.stopRecording();
    EXPECT_TRUE(waitUntil([&] { return streams() == 0; }));
}

TEST(LiveCapture, StreamingSuppressionAndAMissingDevice) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    AudioProcessor processor;
    // A device that is not there: logged, and the default source records instead.
    processor.setInputSuppressed(true);
    const auto stream = processor.startStreamingRecordingLive(987654);
    const auto messages = log.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("Failed to select input device 987654", 0) == 0;
    }));
    auto player = server.startPlaying("speakers", sine(440, 32000, 16000), 16000);
    for (int i = 0; i < 5; ++i) {
        const auto buffer = stream->next(std::chrono::milliseconds(5000));
        ASSERT_TRUE(buffer);
        EXPECT_EQ(*buffer, std::vector<float>(1600, 0.0f));
    }
    player.wait();
    stream->cancel();
    EXPECT_FALSE(processor.isRecording());
    EXPECT_FALSE(processor.audioBufferCallback());
    EXPECT_FALSE(stream->next());
}

// The last owner of a processor, or of a facade holding one, may let go inside a buffer callback,
// on the capture thread that cannot stop itself: the failure is logged instead of ending the process.
TEST(LiveCapture, AProcessorOrFacadeReleasedInsideItsCallbackStopsWithoutEndingTheProcess) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    const auto streams = [&] { return captureSources(server).size(); };
    {
        std::mutex mutex;
        std::shared_ptr<AudioProcessor> owner = std::make_shared<AudioProcessor>();
        std::atomic<bool> released{false};
        AudioProcessor* processor = owner.get();
        processor->startRecordingLive(std::nullopt, [&](const std::vector<float>&) {
            std::shared_ptr<AudioProcessor> last;
            {
                std::lock_guard guard(mutex);
                last = std::move(owner);
            }
            last.reset();  // the processor's destructor runs here, on the capture thread
            released = true;
        });
        ASSERT_TRUE(waitUntil([&] { return released.load() && streams() == 0; }));
    }
    {
        TremolanConfig config;
        config.download = false;
        config.verbose = true;  // the facade sets the library's log level from its configuration
        config.logLevel = korbit::Logging::LogLevel::error;
        config.audioProcessor = std::make_shared<AudioProcessor>();
        std::mutex mutex;
        std::shared_ptr<Tremolan> owner = Tremolan::create(config);
        std::atomic<bool> released{false};
        const auto processor = std::dynamic_pointer_cast<AudioProcessor>(owner->audioProcessor());
        ASSERT_TRUE(processor);
        config.audioProcessor.reset();
        processor->startRecordingLive(std::nullopt, [&](const std::vector<float>&) {
            std::shared_ptr<Tremolan> last;
            {
                std::lock_guard guard(mutex);
                last = std::move(owner);
            }
            last.reset();  // the facade's destructor stops the recording: refused on this thread
            released = true;
        });
        ASSERT_TRUE(waitUntil([&] { return released.load(); }));
        // The processor still records, for its other owner, who stops it.
        EXPECT_TRUE(processor->isRecording());
        processor->stopRecording();
        EXPECT_TRUE(waitUntil([&] { return streams() == 0; }));
    }
    const auto messages = log.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m == "The audio processor was released inside a captured buffer's callback";
    }));
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("Failed to stop recording: stopRecording cannot be called", 0) == 0;
    }));
}
