// The microphone and the system's sound through a sound server of the test's own, and a meeting
// recorded from both with an engine that tells the two recordings apart.

#include "Velmora/Audio/MicrophoneCapture.hpp"
#include "Velmora/Audio/SpeechDetector.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Meeting/SystemAudioCapture.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "FakeModelEngine.hpp"
#include "QtApplication.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/SignalMatch.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace velmora;
using Speaker = MeetingLine::Speaker;
using velmora::test::bestCorrelation;
using velmora::test::PrivatePulseServer;
using velmora::test::SystemLogCapture;
using velmora::test::waitUntil;

namespace {

std::vector<float> recording(const std::string& name) {
    return tremolan::AudioProcessor::loadAudioAsFloatArray(velmora::test::dataPath("testmodel/" + name).string());
}

/// The recording from its first quarter second on: the server starts a sink's sound a moment late.
std::vector<float> withoutStart(const std::vector<float>& samples) {
    return std::vector<float>(samples.begin() + 4000, samples.end());
}

/// Everything a source delivers, and the threads it delivers on.
class Collector {
public:
    void attach(SampleSource& source) {
        source.setOnSamples([this](const float* samples, std::size_t count) {
            std::lock_guard guard(mutex_);
            samples_.insert(samples_.end(), samples, samples + count);
            onMainThread_ = onMainThread_ || std::this_thread::get_id() == main_;
        });
    }
    std::vector<float> samples() const {
        std::lock_guard guard(mutex_);
        return samples_;
    }
    std::size_t count() const {
        std::lock_guard guard(mutex_);
        return samples_.size();
    }
    bool deliveredOnMainThread() const {
        std::lock_guard guard(mutex_);
        return onMainThread_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    bool onMainThread_ = false;
    std::thread::id main_ = std::this_thread::get_id();
};

std::vector<std::string> audioLines(const SystemLogCapture& log) {
    std::vector<std::string> lines;
    for (const auto& entry : log.entries())
        if (entry.category == "audio") lines.push_back(entry.text);
    return lines;
}

}  // namespace

TEST(MeetingCaptures, WithoutASoundServerTheStartsSayWhy) {
    // The test main points PULSE_SERVER at a socket nobody listens on.
    SystemLogCapture log;
    MicrophoneCapture microphone;
    microphone.stop();
    try {
        microphone.start();
        ADD_FAILURE() << "started without a server";
    } catch (const MicrophoneCapture::CaptureError& error) {
        EXPECT_EQ(error.kind(), MicrophoneCapture::CaptureError::Kind::cannotAddInput);
        EXPECT_STREQ(error.what(), "Не удалось подключиться к микрофону");
    }
    EXPECT_FALSE(microphone.isRunning());

    SystemAudioCapture system;
    system.stop();
    log.clear();
    EXPECT_FALSE(SystemAudioCapture::hasPermission());
    try {
        system.start();
        ADD_FAILURE() << "started without a server";
    } catch (const SystemAudioCapture::Failure& failure) {
        EXPECT_EQ(failure.kind(), SystemAudioCapture::Failure::Kind::noPermission);
        EXPECT_STREQ(failure.what(), "Нет разрешения на запись экрана — без него не слышно собеседников");
    }
    EXPECT_FALSE(system.isRunning());
    const auto lines = audioLines(log);
    ASSERT_EQ(lines.size(), 1u) << "a stop that was never started writes nothing";
    EXPECT_TRUE(lines[0].starts_with("нет доступа к записи экрана: ")) << lines[0];
    EXPECT_EQ(log.entries().back().type, platform::log::LogType::error);
}

TEST(MeetingCaptures, MissingSourcesOnARunningServer) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    SystemLogCapture log;
    MicrophoneCapture microphone;
    try {
        microphone.start("nowhere");
        ADD_FAILURE() << "started a source that does not exist";
    } catch (const MicrophoneCapture::CaptureError& error) {
        EXPECT_EQ(error.kind(), MicrophoneCapture::CaptureError::Kind::noDevice);
        EXPECT_STREQ(error.what(), "Микрофон не найден");
    }
    EXPECT_TRUE(SystemAudioCapture::hasPermission());

    // No sink at all: nothing to hear, and no source left for the microphone either.
    server.removeNullSink("speakers");
    EXPECT_FALSE(SystemAudioCapture::hasPermission());
    SystemAudioCapture system;
    log.clear();
    try {
        system.start();
        ADD_FAILURE() << "started without a sink";
    } catch (const SystemAudioCapture::Failure& failure) {
        EXPECT_EQ(failure.kind(), SystemAudioCapture::Failure::Kind::noDisplay);
        EXPECT_STREQ(failure.what(), "Не нашёл ни одного дисплея");
    }
    EXPECT_TRUE(audioLines(log).empty());
    try {
        microphone.start();
        ADD_FAILURE() << "started without a default source";
    } catch (const MicrophoneCapture::CaptureError& error) {
        EXPECT_EQ(error.kind(), MicrophoneCapture::CaptureError::Kind::noDevice);
    }
}

TEST(MeetingCaptures, EachCaptureHearsItsOwnSourceAndNotTheOther) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    server.setDefaultSource("mic");
    const auto english = recording("en-02.wav");
    const auto russian = recording("ru-02.wav");

    SystemLogCapture log;
    Collector heardByMicrophone, heardBySystem;  // outlive the captures
    MicrophoneCapture microphone;
    SystemAudioCapture system;
    heardByMicrophone.attach(microphone);
    microphone.start();
    system.start();
    system.start();                // running: nothing
    heardBySystem.attach(system);  // also after the start
    EXPECT_TRUE(microphone.isRunning());
    EXPECT_TRUE(system.isRunning());
    EXPECT_EQ(audioLines(log), std::vector<std::string>{"захват системного звука начат"});

    auto intoMicrophone = server.startPlaying(PrivatePulseServer::feedOf("mic"), english, 16000);
    auto intoSpeakers = server.startPlaying("speakers", russian, 16000);
    ASSERT_TRUE(intoMicrophone.wait());
    ASSERT_TRUE(intoSpeakers.wait());
    const std::size_t enough = std::max(english.size(), russian.size()) + 8000;
    ASSERT_TRUE(waitUntil([&] { return heardByMicrophone.count() > enough && heardBySystem.count() > enough; }));
    microphone.stop();
    system.stop();
    microphone.stop();
    system.stop();
    EXPECT_EQ(audioLines(log),
              (std::vector<std::string>{"захват системного звука начат", "захват системного звука остановлен"}));

    const auto mine = heardByMicrophone.samples();
    const auto theirs = heardBySystem.samples();
    EXPECT_GT(bestCorrelation(withoutStart(english), mine), 0.9);
    EXPECT_GT(bestCorrelation(withoutStart(russian), theirs), 0.9);
    EXPECT_LT(bestCorrelation(withoutStart(russian), mine), 0.3);
    EXPECT_LT(bestCorrelation(withoutStart(english), theirs), 0.3);
    EXPECT_FALSE(heardByMicrophone.deliveredOnMainThread());
    EXPECT_FALSE(heardBySystem.deliveredOnMainThread());

    // Stopped captures deliver nothing more, and start again with new streams.
    const std::size_t stopped = heardBySystem.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(heardBySystem.count(), stopped);
    system.start();
    ASSERT_TRUE(waitUntil([&] { return heardBySystem.count() > stopped + 1600; }));
}

TEST(MeetingCaptures, AMeetingFromBothCapturesHasALineOfEachSpeaker) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    server.setDefaultSource("mic");
    const auto english = recording("en-03.wav");
    const auto russian = recording("ru-03.wav");
    velmora::test::TempDir dir;
    auto engine = std::make_shared<velmora::test::FakeModelEngine>(dir / "model");
    engine->putModelOnDisk();
    // The engine knows which recording a chunk holds. Chunks end a quarter second after their
    // last sound, so the recordings are compared up to their last sound.
    const auto speechOf = [](const std::vector<float>& samples) {
        auto speech = SpeechDetector::trimTrailingSilence(withoutStart(samples), 16000);
        speech.resize(speech.size() - 4000);
        return speech;
    };
    const auto englishSpeech = speechOf(english);
    const auto russianSpeech = speechOf(russian);
    engine->transcriber = [&](const std::vector<float>& chunk) -> std::string {
        if (bestCorrelation(englishSpeech, chunk) > 0.8) return "house sing drive";
        if (bestCorrelation(russianSpeech, chunk) > 0.8) return "дом поёт";
        return "не то";
    };
    MeetingStore store(dir / "meetings");
    Glossary glossary(dir / "glossary.json");
    MeetingRecorder recorder(engine, store, glossary);

    recorder.start("созвон");
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    ASSERT_TRUE(recorder.isRecording()) << recorder.lastError().value_or("");
    auto intoMicrophone = server.startPlaying(PrivatePulseServer::feedOf("mic"), english, 16000);
    auto intoSpeakers = server.startPlaying("speakers", russian, 16000);
    ASSERT_TRUE(intoMicrophone.wait());
    ASSERT_TRUE(intoSpeakers.wait());
    // The timer drains the rings meanwhile.
    ASSERT_TRUE(waitUntil([&] { return recorder.systemTrack().count() > 4 * 16000; }));
    recorder.stop();
    ASSERT_TRUE(recorder.waitForPending(std::chrono::seconds(30)));

    ASSERT_TRUE(recorder.meeting());
    std::vector<std::string> lines;
    for (const auto& line : recorder.meeting()->lines)
        lines.push_back(std::string(MeetingLine::speakerName(line.speaker)) + ":" + std::to_string(line.at) + ":" +
                        line.text);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"me:0:house sing drive", "others:0:дом поёт"}));
    EXPECT_TRUE(recorder.heardOthers());
    EXPECT_GE(recorder.meeting()->durationSec, 3);
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], *recorder.meeting());
}
