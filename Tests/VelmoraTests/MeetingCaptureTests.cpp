// The microphone and the system's sound through a sound server of the test's own, and a meeting
// recorded from both with an engine that tells the two recordings apart.

#include "Velmora/Audio/MicrophoneCapture.hpp"
#include "Velmora/Audio/SpeechDetector.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Meeting/SystemAudioCapture.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"

#include "FakeModelEngine.hpp"
#include "MeetingTestSupport.hpp"
#include "QtApplication.hpp"
#include "SpeechReference/WordErrors.hpp"
#include "Support/HeldOutRecordings.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/SignalMatch.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestModelHub.hpp"
#include "Support/TwoSidedSound.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
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

class MeetingSound : public velmora::test::TwoSidedSound {};

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
    // What holds here, naming the server: no screen recording permission exists on this desktop.
    const std::string address = std::getenv("PULSE_SERVER");
    EXPECT_EQ(messageOf<SystemAudioCapture::Failure>([&] { system.start(); }),
              "Не удалось подключиться к звуковому серверу (" + address + ") — собеседников не слышно");
    const auto lines = log.lines("audio");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("звуковой сервер недоступен: Cannot connect to the sound server at " + address))
        << lines[0];
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
    EXPECT_EQ(messageOf<SystemAudioCapture::Failure>([&] { system.start(); }),
              "Нет устройства вывода по умолчанию — собеседников не слышно");
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

TEST_F(MeetingSound, BothCapturesStopAlikeEvenWhenTheStopFails) {
    // A stop asked on the capture's own thread is one the sound server's client refuses: either
    // capture is stopped all the same, says so in the log and throws nothing.
    SystemLogCapture log;
    // Made before the captures, so that they outlive them: after a failed check a capture may
    // still call its callback until it goes.
    std::atomic<bool> asked{false}, returned{false};
    MicrophoneCapture microphone;
    SystemAudioCapture system;
    for (SampleSource* source : {static_cast<SampleSource*>(&microphone), static_cast<SampleSource*>(&system)}) {
        asked = false;
        returned = false;
        source->setOnSamples([&, source](const float*, std::size_t) {
            if (asked.exchange(true)) return;
            source->stop();
            returned = true;
        });
        source->start();
        ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
        EXPECT_FALSE(source->isRunning());
        source->setOnSamples(nullptr);
    }
    const auto lines = log.lines("audio");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("остановка записи не удалась") != std::string::npos;
                            }),
              2)
        << ::testing::PrintToString(lines);
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

namespace {

/// A meeting on the real engine with the trained test model, downloaded from a loopback hub.
class RealMeeting : public MeetingSound {
protected:
    void SetUp() override {
        MeetingSound::SetUp();
        if (IsSkipped()) return;
        engine->download([](double) {});
    }

    /// Plays one recording to the microphone and another on the speakers at once, running the
    /// event loop (and with it the recorder's ticks) until both are played.
    void playWhileRecording(const std::vector<float>& toMicrophone, const std::vector<float>& onSpeakers) {
        std::atomic<bool> done = false;
        bool played = false;
        std::thread player([&] {
            played = playBoth(toMicrophone, onSpeakers);
            done = true;
        });
        const double seconds = static_cast<double>(std::max(toMicrophone.size(), onSpeakers.size())) / 16000.0;
        const bool finished = waitUntil([&] { return done.load(); }, static_cast<int>(seconds * 1000) + 20000);
        player.join();
        ASSERT_TRUE(finished && played);
    }

    /// Records while the two recordings play, then stops and waits for the last chunks' lines.
    void record(const std::vector<float>& toMicrophone, const std::vector<float>& onSpeakers) {
        recorder.start("созвон");
        ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
        ASSERT_TRUE(recorder.isRecording()) << recorder.lastError().value_or("");
        ASSERT_NO_FATAL_FAILURE(playWhileRecording(toMicrophone, onSpeakers));
        // Played is not yet captured: let another second come through.
        const std::int64_t microphoneEnd = recorder.microphoneTrack().count() + 16000;
        const std::int64_t systemEnd = recorder.systemTrack().count() + 16000;
        ASSERT_TRUE(waitUntil([&] {
            return recorder.microphoneTrack().count() > microphoneEnd && recorder.systemTrack().count() > systemEnd;
        }));
        recorder.stop();
        ASSERT_TRUE(recorder.waitForPending(std::chrono::seconds(120)));
        EXPECT_FALSE(recorder.lastError()) << *recorder.lastError();
    }

    static std::vector<MeetingLine> linesOf(const Meeting& meeting, MeetingLine::Speaker speaker) {
        std::vector<MeetingLine> lines;
        for (const auto& line : meeting.lines)
            if (line.speaker == speaker) lines.push_back(line);
        return lines;
    }
    static std::string joined(const std::vector<MeetingLine>& lines) {
        std::string text;
        for (const auto& line : lines) text += (text.empty() ? "" : " ") + line.text;
        return text;
    }

    /// One side of a meeting, phrase by phrase: faint room noise, and before each phrase a short
    /// silence where the recorder cuts, so that every chunk after the first (which holds only
    /// noise and gives no line) starts just before its phrase. The first silence lies 26.3 s in
    /// (the sound reaches the sources up to 2.5 s after it is played, and the first cut is sought
    /// from 26 to 30 s), the next ones 27.5 s apart. The small test model hears a phrase well only
    /// when it starts near its window's start, alone: a phrase 1 s in, or several in one window,
    /// loses most of its words (measured; see docs/decisions.md).
    struct Phrase {
        std::string file;  // none: only noise in that chunk
        float gain = 1.0f;
    };
    struct Side {
        std::vector<float> samples;
        std::string text;
    };
    static Side side(const std::vector<Phrase>& phrases) {
        const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * 16000); };
        std::mt19937 random(7);
        std::normal_distribution<float> noise(0.0f, 0.0003f);
        Side side;
        const auto noiseUntil = [&](std::size_t end) {
            while (side.samples.size() < end) side.samples.push_back(noise(random));
        };
        for (std::size_t k = 0; k < phrases.size(); ++k) {
            const double silence = 26.3 + 27.5 * static_cast<double>(k);
            noiseUntil(at(silence));
            side.samples.resize(at(silence + 0.35), 0.0f);
            if (phrases[k].file.empty()) continue;
            const auto& spoken = heldOut(phrases[k].file);
            const auto audio = recording(phrases[k].file);
            for (std::size_t i = at(std::max(0.0, spoken.start - 0.05)); i < audio.size(); ++i)
                side.samples.push_back(phrases[k].gain * audio[i]);
            side.text += (side.text.empty() ? "" : " ") + spoken.text;
        }
        noiseUntil(side.samples.size() + at(1.0));
        return side;
    }
    static velmora::test::Recording heldOut(const std::string& file) {
        for (const auto& r : velmora::test::heldOutRecordings())
            if (r.file == file) return r;
        ADD_FAILURE() << "no recording " << file;
        return {};
    }
    static void expectWordErrorRateAtMost(const std::string& reference, const std::string& heard, double bound) {
        const auto errors = velmora::dev::wordErrors(reference, heard);
        std::printf("word error rate %.1f%% (%d of %d words): \"%s\" heard as \"%s\"\n", 100.0 * errors.rate(),
                    errors.edits, errors.words, reference.c_str(), heard.c_str());
        EXPECT_LE(errors.rate(), bound) << heard;
    }

    velmora::test::TestModelHub hub;
    velmora::test::TempDir dir;
    std::shared_ptr<LocalWhisperProvider> engine = std::make_shared<LocalWhisperProvider>(dir / "models");
    MeetingStore store{dir / "meetings"};
    Glossary glossary{dir / "glossary.json"};
    MeetingRecorder recorder{engine, store, glossary};
};

}  // namespace

TEST_F(RealMeeting, EachSidesSpeechBecomesItsLinesInOrderAndOnDisk) {
    const Side english = side({{"en-02.wav"}, {"en-05.wav"}});
    const Side russian = side({{"ru-01.wav"}, {"ru-06.wav"}});
    ASSERT_NO_FATAL_FAILURE(record(english.samples, russian.samples));

    ASSERT_TRUE(recorder.meeting());
    const Meeting& meeting = *recorder.meeting();
    for (std::size_t i = 1; i < meeting.lines.size(); ++i) EXPECT_LE(meeting.lines[i - 1].at, meeting.lines[i].at);
    for (const auto* spoken : {&english, &russian}) {
        SCOPED_TRACE(spoken->text);
        const auto lines =
            linesOf(meeting, spoken == &english ? MeetingLine::Speaker::me : MeetingLine::Speaker::others);
        ASSERT_EQ(lines.size(), 2u) << joined(lines);
        EXPECT_GE(lines[0].at, 26);
        EXPECT_LE(lines[0].at, 29);
        EXPECT_GE(lines[1].at - lines[0].at, 27);
        EXPECT_LE(lines[1].at - lines[0].at, 28);
        expectWordErrorRateAtMost(spoken->text, joined(lines), 0.3);
    }
    EXPECT_GE(meeting.durationSec, static_cast<std::int64_t>(english.samples.size() / 16000));

    // The file holds what the recorder holds, and a fresh store reads it back.
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], meeting);
    EXPECT_TRUE(std::filesystem::exists(store.fileOf(meeting.id)));
    MeetingStore reread(dir / "meetings");
    ASSERT_EQ(reread.meetings().size(), 1u);
    EXPECT_EQ(reread.meetings()[0], meeting);
}

TEST_F(RealMeeting, TheOthersVoiceHeardSoftlyByTheMicrophoneIsDroppedAndMyOwnWordsKept) {
    // The others speak first, and the microphone hears that softly from the speakers (8 dB down;
    // at 12 dB down the test model hears the echo as "девять тысяча люди неделя начать автобус",
    // 3 of the others' 5 words, which is no echo by the strict 0.6 rule); a chunk later I speak
    // and the others are silent.
    const Side speakers = side({{"ru-03.wav"}, {}});
    const Side microphone = side({{"ru-03.wav", 0.4f}, {"en-04.wav"}});

    SystemLogCapture log;
    ASSERT_NO_FATAL_FAILURE(record(microphone.samples, speakers.samples));

    ASSERT_TRUE(recorder.meeting());
    const Meeting& meeting = *recorder.meeting();
    const auto theirs = linesOf(meeting, MeetingLine::Speaker::others);
    const auto mine = linesOf(meeting, MeetingLine::Speaker::me);
    ASSERT_EQ(theirs.size(), 1u) << joined(theirs);
    expectWordErrorRateAtMost(speakers.text, theirs[0].text, 0.3);
    ASSERT_EQ(mine.size(), 1u) << "the echo of the others is no line of mine: " << joined(mine);
    EXPECT_GT(mine[0].at, theirs[0].at);
    expectWordErrorRateAtMost(heldOut("en-04.wav").text, mine[0].text, 0.3);
    const auto lines = log.lines("stt");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("эхо динамиков") != std::string::npos;
    })) << "the dropped echo is logged";
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], meeting);
}
