// The microphone and the system's sound through a sound server of the test's own, and a meeting
// recorded from both with an engine that tells the two recordings apart.

#include "Velmora/Audio/MicrophoneCapture.hpp"
#include "Velmora/Audio/SpeechDetector.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Meeting/SystemAudioCapture.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "FakeModelEngine.hpp"
#include "MeetingTestSupport.hpp"
#include "QtApplication.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/SignalMatch.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <thread>

using namespace velmora;
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

/// Everything a source delivers, and whether any of it came on the main thread.
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
    std::size_t count() const { return samples().size(); }
    bool onMainThread() const {
        std::lock_guard guard(mutex_);
        return onMainThread_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    bool onMainThread_ = false;
    const std::thread::id main_ = std::this_thread::get_id();
};

/// A server of the test's own whose default source is a microphone "mic", fed through its sink.
class MeetingSound : public ::testing::Test {
protected:
    void SetUp() override {
        VELMORA_SKIP_WITHOUT_PULSEAUDIO();
        server.emplace();
        server->createMicrophone("mic");
        server->setDefaultSource("mic");
    }
    /// Plays one recording to the microphone and another on the speakers at once; returns when both are played.
    void playTogether(const std::vector<float>& toMicrophone, const std::vector<float>& onSpeakers) {
        auto intoMicrophone = server->startPlaying(PrivatePulseServer::feedOf("mic"), toMicrophone, 16000);
        auto intoSpeakers = server->startPlaying("speakers", onSpeakers, 16000);
        ASSERT_TRUE(intoMicrophone.wait());
        ASSERT_TRUE(intoSpeakers.wait());
    }

    std::optional<PrivatePulseServer> server;
};

}  // namespace

TEST(MeetingCaptures, StartsSayWhyTheyCannotRun) {
    using velmora::test::messageOf;
    SystemLogCapture log;
    MicrophoneCapture microphone;
    SystemAudioCapture system;
    system.stop();
    EXPECT_TRUE(log.lines("audio").empty()) << "a stop of a capture that never ran writes nothing";

    // The test main points PULSE_SERVER at a socket nobody listens on.
    EXPECT_EQ(messageOf<MicrophoneCapture::CaptureError>([&] { microphone.start(); }),
              "Не удалось подключиться к микрофону");
    log.clear();
    EXPECT_FALSE(SystemAudioCapture::hasPermission());
    EXPECT_EQ(messageOf<SystemAudioCapture::Failure>([&] { system.start(); }),
              "Нет разрешения на запись экрана — без него не слышно собеседников");
    const auto lines = log.lines("audio");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("нет доступа к записи экрана: ")) << lines[0];
    EXPECT_EQ(log.entries().back().type, platform::log::LogType::error);
    EXPECT_FALSE(microphone.isRunning() || system.isRunning());

    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    EXPECT_EQ(messageOf<MicrophoneCapture::CaptureError>([&] { microphone.start("nowhere"); }), "Микрофон не найден");
    EXPECT_TRUE(SystemAudioCapture::hasPermission());
    // No sink at all: nothing to hear, and no source left for the microphone either.
    server.removeNullSink("speakers");
    EXPECT_FALSE(SystemAudioCapture::hasPermission());
    log.clear();
    EXPECT_EQ(messageOf<SystemAudioCapture::Failure>([&] { system.start(); }), "Не нашёл ни одного дисплея");
    EXPECT_EQ(messageOf<MicrophoneCapture::CaptureError>([&] { microphone.start(); }), "Микрофон не найден");
    ASSERT_EQ(log.lines("audio").size(), 1u);
    EXPECT_TRUE(log.lines("audio")[0].starts_with("микрофон не запущен: ")) << "the server's reason is logged";
}

TEST_F(MeetingSound, EachCaptureHearsItsOwnSourceAndNotTheOther) {
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
    EXPECT_TRUE(microphone.isRunning() && system.isRunning());
    EXPECT_EQ(log.lines("audio"), std::vector<std::string>{"захват системного звука начат"});

    ASSERT_NO_FATAL_FAILURE(playTogether(english, russian));
    const std::size_t enough = std::max(english.size(), russian.size()) + 8000;
    ASSERT_TRUE(waitUntil([&] { return heardByMicrophone.count() > enough && heardBySystem.count() > enough; }));
    microphone.stop();
    system.stop();
    microphone.stop();
    system.stop();
    EXPECT_EQ(log.lines("audio"),
              (std::vector<std::string>{"захват системного звука начат", "захват системного звука остановлен"}));

    const auto mine = heardByMicrophone.samples();
    const auto theirs = heardBySystem.samples();
    EXPECT_GT(bestCorrelation(withoutStart(english), mine), 0.9);
    EXPECT_GT(bestCorrelation(withoutStart(russian), theirs), 0.9);
    EXPECT_LT(bestCorrelation(withoutStart(russian), mine), 0.3);
    EXPECT_LT(bestCorrelation(withoutStart(english), theirs), 0.3);
    EXPECT_FALSE(heardByMicrophone.onMainThread() || heardBySystem.onMainThread());

    // Stopped captures deliver nothing more, and start again with new streams.
    const std::size_t stopped = heardBySystem.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(heardBySystem.count(), stopped);
    system.start();
    ASSERT_TRUE(waitUntil([&] { return heardBySystem.count() > stopped + 1600; }));
}

TEST_F(MeetingSound, AMeetingFromBothCapturesHasALineOfEachSpeaker) {
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
    ASSERT_NO_FATAL_FAILURE(playTogether(english, russian));
    // The timer drains the rings meanwhile.
    ASSERT_TRUE(waitUntil([&] { return recorder.systemTrack().count() > 4 * 16000; }));
    recorder.stop();
    ASSERT_TRUE(recorder.waitForPending(std::chrono::seconds(30)));

    ASSERT_TRUE(recorder.meeting());
    auto lines = velmora::test::describe(*recorder.meeting());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"me:0:house sing drive", "others:0:дом поёт"}));
    EXPECT_TRUE(recorder.heardOthers());
    EXPECT_GE(recorder.meeting()->durationSec, 3);
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], *recorder.meeting());
}
