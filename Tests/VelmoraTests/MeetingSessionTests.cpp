// A meeting recorded to its end without screens, as the developer tool records one.

#include "Velmora/Meeting/MeetingSession.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "FakeModelEngine.hpp"
#include "FakeSampleSource.hpp"
#include "MeetingTestSupport.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace velmora;
using velmora::test::FakeModelEngine;
using velmora::test::FakeSampleSource;

namespace {

class MeetingSessionTest : public ::testing::Test {
protected:
    MeetingSessionTest() {
        engine->putModelOnDisk();
        // Each source speaks at its own level.
        engine->transcriber = [](const std::vector<float>& chunk) {
            float peak = 0;
            for (float s : chunk) peak = std::max(peak, std::fabs(s));
            return std::string(peak < 0.15f ? "это я" : "это они");
        };
    }

    /// Runs the session with the sources' start left to the test's own thread.
    MeetingSession::Outcome record(const MeetingSession::Options& options) {
        auto mic = std::make_unique<FakeSampleSource>();
        auto system = std::make_unique<FakeSampleSource>();
        microphone = mic.get();
        systemAudio = system.get();
        if (prepare) prepare();
        return MeetingSession::record(engine, store, glossary, options, events, std::move(mic), std::move(system));
    }

    velmora::test::TempDir dir;
    std::shared_ptr<FakeModelEngine> engine = std::make_shared<FakeModelEngine>(dir / "model");
    MeetingStore store{dir / "meetings"};
    Glossary glossary{dir / "glossary.json"};
    MeetingSession::Events events;
    std::function<void()> prepare;
    // The recorder owns the sources: valid only while the session runs.
    FakeSampleSource* microphone = nullptr;
    FakeSampleSource* systemAudio = nullptr;
};

}  // namespace

TEST_F(MeetingSessionTest, RecordsUntilTheTimeIsUpTellsEveryLineAndWaitsForTheLastChunks) {
    std::vector<std::string> told;
    std::string title;
    std::int64_t pendingAtStop = -1;
    events.started = [&](const std::string& t) {
        title = t;
        // As the capture threads would, while the recording runs.
        microphone->push(velmora::test::level(16000, 0.1f));
        systemAudio->push(velmora::test::level(16000, 0.2f));
    };
    events.line = [&](const MeetingLine& line) {
        told.push_back(std::string(MeetingLine::speakerName(line.speaker)) + ":" + line.text);
    };
    engine->transcribeGate.shut();
    events.stopped = [&](std::int64_t pending) {
        pendingAtStop = pending;
        engine->transcribeGate.open();
    };

    MeetingSession::Options options;
    options.title = "Планёрка";
    options.limit = std::chrono::seconds(1);
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = record(options);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    EXPECT_EQ(title, "Планёрка");
    EXPECT_EQ(pendingAtStop, 2) << "both tails were still being transcribed at the stop";
    ASSERT_TRUE(outcome.meeting);
    EXPECT_TRUE(outcome.complete);
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::string>{"me:это я", "others:это они"}));
    EXPECT_EQ(outcome.meeting->lines.size(), 2u);
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], *outcome.meeting);
}

TEST_F(MeetingSessionTest, AStopRequestEndsTheMeetingAndAFailedOrCancelledStartHasNone) {
    std::atomic<bool> stop = false;
    events.started = [&](const std::string&) { stop = true; };
    MeetingSession::Options options;
    options.shouldStop = [&] { return stop.load(); };
    const auto stopped = record(options);
    ASSERT_TRUE(stopped.meeting);
    EXPECT_TRUE(stopped.complete);
    EXPECT_TRUE(stopped.meeting->lines.empty());

    // The microphone cannot start: the recorder's words, and no meeting.
    prepare = [&] { microphone->failure = [] { throw std::runtime_error("нет устройства"); }; };
    events.started = nullptr;
    const auto failed = record(MeetingSession::Options{});
    EXPECT_FALSE(failed.meeting);
    EXPECT_EQ(failed.failure, "Микрофон недоступен: нет устройства");

    // Stopped while the sources are still starting.
    std::thread opener;
    prepare = [&] {
        systemAudio->startGate.shut();
        opener = std::thread([source = systemAudio] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            source->startGate.open();
        });
    };
    MeetingSession::Options impatient;
    impatient.shouldStop = [] { return true; };
    const auto cancelled = record(impatient);
    opener.join();
    EXPECT_FALSE(cancelled.meeting);
    EXPECT_EQ(cancelled.failure, "stopped before the recording began");
    EXPECT_EQ(store.meetings().size(), 1u) << "only the first meeting was kept";
}

// What the tool needs to say instead of reporting success: the meeting is not on disk, the model
// never loaded, chunks were lost.
TEST_F(MeetingSessionTest, TheOutcomeSaysWhatWentWrongWhileRecording) {
    events.started = [&](const std::string&) {
        microphone->push(velmora::test::level(16000, 0.1f));
        systemAudio->push(velmora::test::level(16000, 0.2f));
    };
    MeetingSession::Options options;
    options.limit = std::chrono::seconds(1);
    const auto fine = record(options);
    EXPECT_FALSE(fine.saveFailure || fine.modelFailure);
    EXPECT_EQ(fine.transcribedChunks, 2);
    EXPECT_EQ(fine.failedChunks, 0);

    // The meetings folder is a file now: nothing can be saved.
    std::filesystem::remove_all(store.folder());
    velmora::test::writeFile(store.folder(), "not a folder");
    engine->loadError = "веса повреждены";
    engine->transcriber = [](const std::vector<float>& chunk) -> std::string {
        if (chunk.empty()) return {};
        throw std::runtime_error("модель не загружена");
    };
    const auto broken = record(options);
    ASSERT_TRUE(broken.meeting);
    ASSERT_TRUE(broken.saveFailure);
    EXPECT_FALSE(broken.saveFailure->empty());
    EXPECT_EQ(broken.modelFailure, "веса повреждены");
    EXPECT_EQ(broken.failedChunks, 2);
    EXPECT_EQ(broken.transcribedChunks, 0);
    EXPECT_EQ(broken.chunkFailure, "модель не загружена");
}
