#include "Velmora/Meeting/MeetingRecorder.hpp"

#include "Velmora/Audio/MicrophoneCapture.hpp"
#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Meeting/SystemAudioCapture.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "MeetingRecorderFixture.hpp"
#include "Support/CommaDecimalLocale.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <memory>

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Speaker = MeetingLine::Speaker;
using velmora::test::FakeModelEngine;
using velmora::test::FakeSampleSource;
using velmora::test::level;
using velmora::test::SystemLogCapture;
using velmora::test::TempDir;
using velmora::test::waitUntil;

namespace {

float peakOf(const std::vector<float>& samples) {
    float peak = 0;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    return peak;
}

class MeetingRecorderTest : public ::testing::Test, public velmora::test::MeetingRecorderFixture {
protected:
    MeetingRecorderTest() {
        engine->transcriber = [](const std::vector<float>&) { return std::string(); };
    }
    // A chunk still on its way when a test's body has ended is transcribed after the body's locals
    // are gone (a transcriber or a log capture of the test's may be among them): every test waits
    // for its chunks. Nothing runs the event loop after the body, so this sees how it ended.
    void TearDown() override {
        EXPECT_EQ(recorder.pending(), 0) << "the test ended before its chunks were transcribed";
    }
};

}  // namespace

TEST_F(MeetingRecorderTest, AStartNeedsTheModelThenTheSystemsSoundThenTheMicrophone) {
    SystemLogCapture log;
    std::filesystem::remove_all(dir / "model");
    recorder.start();
    EXPECT_EQ(recorder.lastError(), "Для встреч нужна локальная модель — скачай её в настройках");
    EXPECT_FALSE(recorder.isStarting());
    EXPECT_EQ(systemAudio->starts, 0);
    EXPECT_EQ(microphone->starts, 0);

    engine->putModelOnDisk();
    systemAudio->failure = [] { throw SystemAudioCapture::Failure::noSoundServer("unix:/nowhere"); };
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    EXPECT_EQ(recorder.lastError(),
              "Не удалось подключиться к звуковому серверу (unix:/nowhere) — собеседников не слышно");
    EXPECT_EQ(log.lines("audio"),
              std::vector<std::string>{"встреча: системный звук недоступен — Не удалось подключиться к звуковому "
                                       "серверу (unix:/nowhere) — собеседников не слышно"});
    EXPECT_EQ(log.entries().back().type, platform::log::LogType::error);
    EXPECT_EQ(microphone->starts, 0) << "no meeting without the system's sound";

    systemAudio->failure = nullptr;
    microphone->failure = [] { throw MicrophoneCapture::CaptureError::noDevice(); };
    log.clear();
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    EXPECT_EQ(recorder.lastError(), "Микрофон недоступен: Микрофон не найден");
    EXPECT_FALSE(systemAudio->running) << "stopped again: no meeting with one source";
    EXPECT_EQ(systemAudio->stops, 1);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.meeting());
    EXPECT_TRUE(log.entries().empty());

    microphone->failure = nullptr;
    startRecording("  Планёрка ");
    EXPECT_FALSE(recorder.lastError()) << "cleared by the start";
    ASSERT_TRUE(recorder.meeting());
    const Meeting first = *recorder.meeting();
    EXPECT_EQ(first.title, "  Планёрка ") << "as given";
    EXPECT_EQ(first.durationSec, 0);
    EXPECT_TRUE(first.lines.empty());
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(first.startedAt), first.startedAt);
    EXPECT_LE(std::chrono::system_clock::now() - first.startedAt, 5s);
    EXPECT_EQ(log.lines("app"), std::vector<std::string>{"встреча начата"});
    EXPECT_TRUE(waitUntil([&] { return engine->loads == 1; })) << "the model is preloaded";

    recorder.start("другая");
    EXPECT_EQ(recorder.meeting()->id, first.id) << "a start while recording does nothing";
    EXPECT_EQ(systemAudio->starts, 3);
    recorder.stop();
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    EXPECT_NE(recorder.meeting()->id, first.id);
    EXPECT_EQ(recorder.meeting()->title, MeetingStore::defaultTitle(recorder.meeting()->startedAt));
}

TEST_F(MeetingRecorderTest, AStopDuringAStartCancelsItAndStartsNeverOverlap) {
    systemAudio->startGate.shut();
    recorder.start();
    EXPECT_TRUE(recorder.isStarting());
    EXPECT_FALSE(recorder.isRecording());
    ASSERT_TRUE(waitUntil([&] { return systemAudio->startGate.waiting() == 1; }));
    recorder.start();  // a second press while the first start waits
    recorder.stop();
    systemAudio->startGate.open();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    EXPECT_EQ(systemAudio->starts, 1) << "one start at a time";
    EXPECT_EQ(microphone->starts, 0) << "the cancelled start went no further";
    EXPECT_FALSE(systemAudio->running);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.meeting());
    EXPECT_FALSE(recorder.lastError());

    // Cancelled after the microphone started too: both stop.
    microphone->startGate.shut();
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return microphone->startGate.waiting() == 1; }));
    recorder.stop();
    microphone->startGate.open();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    EXPECT_FALSE(microphone->running);
    EXPECT_FALSE(systemAudio->running);
    EXPECT_FALSE(recorder.isRecording());

    startRecording();
    EXPECT_TRUE(microphone->running);
    EXPECT_TRUE(systemAudio->running);
}

TEST_F(MeetingRecorderTest, TicksCutOneChunkPerSourceAndOnlyChunksWithSpeechGoToTheEngine) {
    startRecording();
    // 30 s of silence from both: cut, but not sent.
    for (int i = 0; i < 60; ++i) tick(level(8000, 0.0f), level(8000, 0.0f));
    EXPECT_EQ(recorder.microphoneTrack().cut(), 417600);
    EXPECT_EQ(recorder.systemTrack().cut(), 417600);
    EXPECT_EQ(recorder.pending(), 0);
    EXPECT_FALSE(recorder.heardOthers());

    // The microphone's next chunk is due at 897600 samples.
    engine->transcribeGate.shut();
    for (int i = 0; i < 52; ++i) tick(level(8000, 0.1f), {});
    tick(level(1599, 0.1f), {});
    EXPECT_EQ(recorder.microphoneTrack().count(), 897599);
    EXPECT_EQ(recorder.pending(), 0) << "one sample short";
    tick(level(1, 0.1f), {});
    EXPECT_EQ(recorder.pending(), 1) << "cut at the tick that reaches the limit";
    EXPECT_EQ(recorder.microphoneTrack().cut(), 835200);
    EXPECT_FALSE(recorder.heardOthers()) << "a chunk of the microphone";

    // A minute of the system's sound in one go: one chunk per tick.
    systemAudio->push(level(960000, 0.1f));
    tick({}, {});
    EXPECT_EQ(recorder.pending(), 2);
    EXPECT_TRUE(recorder.heardOthers());
    EXPECT_EQ(recorder.systemTrack().cut(), 835200);
    tick({}, {});
    EXPECT_EQ(recorder.pending(), 3);
    EXPECT_EQ(recorder.systemTrack().cut(), 835200 + 417600);

    engine->transcribeGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    const auto chunks = engine->transcribed();
    ASSERT_EQ(chunks.size(), 3u);
    for (const auto& chunk : chunks) EXPECT_EQ(chunk.size(), 417600u);
    EXPECT_EQ(engine->languages(), std::vector<std::string>(3, "")) << "the engine detects each chunk's language";
    EXPECT_TRUE(recorder.meeting()->lines.empty()) << "empty texts make no lines";

    // Both tails hold speech; the flag stays until the next start.
    recorder.stop();
    EXPECT_EQ(recorder.pending(), 2);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    EXPECT_TRUE(recorder.heardOthers());
    startRecording();
    EXPECT_FALSE(recorder.heardOthers());
    EXPECT_EQ(recorder.microphoneTrack().count(), 0) << "a new meeting starts with empty sources";
}

TEST_F(MeetingRecorderTest, TheLevelLineComesEveryTenSeconds) {
    velmora::test::CommaDecimalLocale locale;  // the numbers must not follow it
    SystemLogCapture log;
    startRecording();
    recorder.tick();
    EXPECT_TRUE(log.lines("audio").empty()) << "no line at 0 s";
    run(9.5, 0.05f, 0.0f);
    EXPECT_EQ(recorder.elapsed(), 9);
    EXPECT_TRUE(log.lines("audio").empty());
    tick(level(8000, 0.25f), level(8000, 0.123456f));  // 10.0 s
    tick(level(8000, 0.5f), {});                       // 10.5 s: the same second
    EXPECT_EQ(recorder.elapsed(), 10);
    EXPECT_EQ(log.lines("audio"),
              std::vector<std::string>{"встреча 10 с: микрофон 160000 сэмплов (пик 0.2500), система 160000 сэмплов "
                                       "(пик 0.1235)"});
    run(9.5, 0.05f, 0.05f);
    EXPECT_EQ(recorder.elapsed(), 20);
    EXPECT_EQ(log.lines("audio").back(),
              "встреча 20 с: микрофон 320000 сэмплов (пик 0.0500), система 312000 сэмплов (пик 0.0500)");
    EXPECT_EQ(log.lines("audio").size(), 2u);
    recorder.stop();
    EXPECT_EQ(log.lines("app").back(), "встреча закончена: 20 с, реплик 0");
    EXPECT_TRUE(recorder.waitForPending(20s)) << "before the log's capture goes";
}

TEST_F(MeetingRecorderTest, StopSendsTheRestOfEachSourceAndItsLinesJoinTheSameMeeting) {
    SystemLogCapture log;
    engine->transcriber = [](const std::vector<float>& chunk) {
        return peakOf(chunk) < 0.15f ? "я здесь" : "Продолжение следует...";
    };
    startRecording();
    run(3, 0.1f, 0.2f);
    run(4, 0.0f, 0.0f);
    engine->transcribeGate.shut();
    recorder.stop();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.pending(), 2);
    EXPECT_TRUE(recorder.heardOthers());
    const korbit::UUID id = recorder.meeting()->id;
    EXPECT_EQ(storedFile(id).durationSec, 7);
    EXPECT_TRUE(storedFile(id).lines.empty());
    EXPECT_EQ(log.lines("app").back(), "встреча закончена: 7 с, реплик 0");
    EXPECT_FALSE(microphone->running);
    EXPECT_FALSE(systemAudio->running);

    engine->transcribeGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    const auto chunks = engine->transcribed();
    ASSERT_EQ(chunks.size(), 2u);
    for (const auto& chunk : chunks) {
        // A quarter second after the last loud frame, frames counted back from the end.
        EXPECT_GE(chunk.size(), 3u * 16000 + 4000);
        EXPECT_LT(chunk.size(), 3u * 16000 + 4000 + 480);
    }
    ASSERT_EQ(recorder.meeting()->lines.size(), 1u) << "an invented caption makes no line";
    EXPECT_EQ(recorder.meeting()->lines[0].text, "я здесь");
    EXPECT_EQ(recorder.meeting()->lines[0].speaker, Speaker::me);
    EXPECT_EQ(recorder.meeting()->lines[0].at, 0);
    EXPECT_EQ(storedFile(id), *recorder.meeting()) << "written again for the late line";
}

TEST_F(MeetingRecorderTest, LateLinesOfAStoppedMeetingGoToThatMeetingNotTheNext) {
    engine->transcriber = [](const std::vector<float>&) { return "последняя реплика"; };
    startRecording("первая");
    run(2, 0.1f, 0.0f);
    engine->transcribeGate.shut();
    recorder.stop();
    const Meeting first = *recorder.meeting();
    ASSERT_EQ(recorder.pending(), 1);

    now += 60s;
    startRecording("вторая");
    run(5, 0.0f, 0.0f);
    engine->transcribeGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    EXPECT_TRUE(recorder.meeting()->lines.empty()) << "the new meeting gets none of the old one's lines";
    EXPECT_EQ(recorder.meeting()->title, "вторая");
    const Meeting stored = storedFile(first.id);
    ASSERT_EQ(stored.lines.size(), 1u);
    EXPECT_EQ(stored.lines[0].text, "последняя реплика");
    EXPECT_EQ(stored.durationSec, first.durationSec) << "its own duration, not the running meeting's";
}

TEST_F(MeetingRecorderTest, QuittingCanWaitForThePendingChunksUpToACap) {
    engine->transcriber = [](const std::vector<float>&) { return "до свидания"; };
    EXPECT_TRUE(recorder.waitForPending(0ms)) << "nothing pending";
    startRecording();
    run(2, 0.1f, 0.0f);
    engine->transcribeGate.shut();
    recorder.stop();
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(recorder.waitForPending(200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - began, 200ms);
    EXPECT_EQ(recorder.pending(), 1);
    engine->transcribeGate.open();
    EXPECT_TRUE(recorder.waitForPending(20s));
    ASSERT_EQ(recorder.meeting()->lines.size(), 1u);
    EXPECT_EQ(storedFile(recorder.meeting()->id).lines.size(), 1u);
}

TEST_F(MeetingRecorderTest, AFailedPreloadAndFailedChunksAreReported) {
    SystemLogCapture log;
    engine->loadError = "веса повреждены";
    engine->transcriber = [](const std::vector<float>&) -> std::string { throw std::runtime_error("сбой"); };
    startRecording();
    ASSERT_TRUE(waitUntil([&] { return recorder.lastError().has_value(); }));
    EXPECT_EQ(recorder.lastError(), "Не удалось загрузить локальную модель: веса повреждены");
    EXPECT_TRUE(recorder.isRecording()) << "the recording goes on";
    run(2, 0.0f, 0.1f);
    recorder.stop();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    EXPECT_TRUE(recorder.meeting()->lines.empty());
    std::vector<std::string> errors;
    for (const auto& entry : log.entries())
        if (entry.type == platform::log::LogType::error && entry.category == "stt") errors.push_back(entry.text);
    EXPECT_EQ(errors, (std::vector<std::string>{"встреча: не удалось загрузить локальную модель: веса повреждены",
                                                "встреча: не удалось распознать фрагмент с 0 с (others): сбой"}));
    // What a caller without screens needs to say that nothing was transcribed.
    EXPECT_EQ(recorder.modelFailure(), "веса повреждены");
    EXPECT_EQ(recorder.failedChunks(), 1);
    EXPECT_EQ(recorder.lastChunkFailure(), "сбой");
    EXPECT_EQ(recorder.transcribedChunks(), 0);
}

// A save that fails is said where the meetings screen shows the recorder's error, and no line is
// lost: the meeting stays whole in memory and the next save, once the folder takes it, writes all.
TEST_F(MeetingRecorderTest, AFailedSaveIsShownAndTheNextSaveWritesEveryLine) {
    // Its count is its own, not a local of this body: a chunk may outlive a failed check.
    engine->transcriber = [said = std::make_shared<std::atomic<int>>(0)](const std::vector<float>&) {
        return "реплика " + std::to_string(++*said);
    };
    startRecording();
    const fs::path folder = store.folder();
    fs::remove_all(folder);
    velmora::test::writeFile(folder, "a file where the folder should be");
    run(30, 0.1f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0 && !recorder.meeting()->lines.empty(); }));
    ASSERT_TRUE(recorder.lastError());
    EXPECT_TRUE(recorder.lastError()->starts_with("Не удалось сохранить встречу: ")) << *recorder.lastError();
    ASSERT_TRUE(recorder.saveFailure());
    EXPECT_TRUE(recorder.isRecording()) << "the recording goes on";

    fs::remove(folder);
    run(30, 0.1f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0 && recorder.meeting()->lines.size() == 2; }));
    EXPECT_FALSE(recorder.saveFailure());
    EXPECT_FALSE(recorder.lastError()) << "the save error goes with the save that worked";
    EXPECT_EQ(storedFile(recorder.meeting()->id).lines, recorder.meeting()->lines);
    recorder.stop();
    EXPECT_TRUE(recorder.waitForPending(20s));
}

TEST_F(MeetingRecorderTest, AMeetingOfTwoSpeakersWithTheirEcho) {
    // Each source speaks in stretches of 20 s with 10 s pauses, so that every chunk holds one
    // stretch; the engine knows each stretch by its level.
    const std::map<int, std::string> texts = {
        {11, "Добрый день, начнём планёрку"},          // the speakers' sound of the first line below
        {12, "У меня готов отчёт, выложу на гитхаб"},  //
        {13, "До связи"},                              //
        {21, "Добрый день, начнём планёрку"},          //
        {22, "Отлично, жду ссылку"},                   //
        {23, "Всем спасибо"},
    };
    engine->transcriber = [texts](const std::vector<float>& chunk) {
        return texts.at(static_cast<int>(std::lround(peakOf(chunk) * 100)));
    };
    // Every save: the file then holds the meeting as the recorder has it. Watched only while
    // this body runs.
    int saves = 0;
    QObject watching;
    QObject::connect(&store, &MeetingStore::meetingsChanged, &watching, [&] {
        ++saves;
        EXPECT_EQ(storedFile(recorder.meeting()->id), *recorder.meeting());
    });

    startRecording("Планёрка");
    for (int stretch = 1; stretch <= 2; ++stretch) {
        run(20, 0.1f + 0.01f * stretch, 0.2f + 0.01f * stretch);
        run(10, 0.0f, 0.0f);
    }
    run(3, 0.13f, 0.0f);
    run(2, 0.0f, 0.23f);
    recorder.stop();
    ASSERT_TRUE(recorder.waitForPending(20s));

    const Meeting& meeting = *recorder.meeting();
    auto shown = velmora::test::describe(meeting);
    std::sort(shown.begin(), shown.end());  // lines of equal time may arrive in either order
    EXPECT_EQ(shown, (std::vector<std::string>{"me:26:У меня готов отчёт, выложу на GitHub", "me:52:До связи",
                                               "others:0:Добрый день, начнём планёрку", "others:26:Отлично, жду ссылку",
                                               "others:52:Всем спасибо"}))
        << "the microphone's echo of the first line is gone";
    for (std::size_t i = 1; i < meeting.lines.size(); ++i) EXPECT_LE(meeting.lines[i - 1].at, meeting.lines[i].at);
    EXPECT_EQ(meeting.durationSec, 65);
    // Five lines and the stop, and the echo when it came before the line it repeats.
    EXPECT_GE(saves, 6);
    EXPECT_LE(saves, 7);
    EXPECT_EQ(storedFile(meeting.id), meeting);
}

TEST_F(MeetingRecorderTest, ARenameOfTheHeldMeetingSurvivesItsLaterSavesAndADeletedOneStaysDeleted) {
    engine->transcriber = [](const std::vector<float>&) { return "реплика"; };
    EXPECT_FALSE(recorder.rename(korbit::UUID(), "ничья")) << "no meeting held";
    startRecording("Планёрка");
    const korbit::UUID id = recorder.meeting()->id;
    EXPECT_FALSE(recorder.rename(korbit::UUID(), "чужая"));
    EXPECT_EQ(recorder.meeting()->title, "Планёрка");

    // Before the first save only the recorder's copy changes; its first save carries the title.
    ASSERT_TRUE(recorder.rename(id, "Планёрка команды"));
    EXPECT_TRUE(store.meetings().empty());
    run(30, 0.1f, 0.0f);
    ASSERT_TRUE(recorder.waitForPending(20s));
    EXPECT_EQ(storedFile(id).title, "Планёрка команды");

    // Once stored, both copies change at once; an empty title is the date title.
    ASSERT_TRUE(recorder.rename(id, ""));
    const std::string dated = MeetingStore::defaultTitle(recorder.meeting()->startedAt);
    EXPECT_EQ(recorder.meeting()->title, dated);
    EXPECT_EQ(storedFile(id).title, dated);

    // After the stop the recorder still holds the meeting for its late lines.
    run(2, 0.1f, 0.0f);
    engine->transcribeGate.shut();
    recorder.stop();
    ASSERT_TRUE(recorder.rename(id, "Итоги"));
    engine->transcribeGate.open();
    ASSERT_TRUE(recorder.waitForPending(20s));
    EXPECT_EQ(storedFile(id).title, "Итоги");
    EXPECT_EQ(storedFile(id).lines.size(), 2u);

    // Deleted after the stop while a late line is on its way: it does not come back.
    startRecording("Ретро");
    const korbit::UUID second = recorder.meeting()->id;
    run(2, 0.1f, 0.0f);
    engine->transcribeGate.shut();
    recorder.stop();
    store.remove(*recorder.meeting());
    engine->transcribeGate.open();
    ASSERT_TRUE(recorder.waitForPending(20s));
    EXPECT_FALSE(std::filesystem::exists(store.fileOf(second)));
    EXPECT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0].id, id);
}
