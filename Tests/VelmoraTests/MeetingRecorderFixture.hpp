#pragma once

// A real recorder over a real meeting store and glossary in a temporary data folder, with a fake
// engine (its model on disk) and fake sources, ticked by hand on a clock of the test's own.

#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "FakeModelEngine.hpp"
#include "FakeSampleSource.hpp"
#include "MeetingTestSupport.hpp"
#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

class MeetingRecorderFixture {
public:
    MeetingRecorderFixture() {
        engine->putModelOnDisk();
        recorder.setTimerEnabled(false);
        recorder.setClock([this] { return now; });
    }
    ~MeetingRecorderFixture() {
        // A failed check may leave a gate shut; the recorder waits for its workers.
        engine->transcribeGate.open();
        engine->loadGate.open();
        microphone->startGate.open();
        systemAudio->startGate.open();
    }

    /// Starts a meeting and waits until it records.
    void startRecording(std::optional<std::string> title = std::nullopt) {
        recorder.start(std::move(title));
        ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
        ASSERT_TRUE(recorder.isRecording()) << recorder.lastError().value_or("");
        QCoreApplication::processEvents();
    }

    /// Half a second of each source, then a tick, then what finished meanwhile.
    void tick(const std::vector<float>& mic, const std::vector<float>& system) {
        microphone->push(mic);
        systemAudio->push(system);
        now += std::chrono::milliseconds(500);
        recorder.tick();
        QCoreApplication::processEvents();
    }
    /// `seconds` of ticks, each source at a constant level.
    void run(double seconds, float micLevel, float systemLevel) {
        for (int i = 0; i < static_cast<int>(seconds * 2); ++i) tick(level(8000, micLevel), level(8000, systemLevel));
    }

    /// The meeting as its file holds it.
    Meeting storedFile(const korbit::UUID& id) {
        const auto meeting = MeetingFile::decode(readFile(store.fileOf(id)));
        EXPECT_TRUE(meeting);
        return meeting.value_or(Meeting{});
    }

    TempDir dir;
    std::shared_ptr<FakeModelEngine> engine = std::make_shared<FakeModelEngine>(dir / "model");
    MeetingStore store{dir / "meetings"};
    Glossary glossary{dir / "glossary.json"};
    FakeSampleSource* microphone = new FakeSampleSource;
    FakeSampleSource* systemAudio = new FakeSampleSource;
    MeetingRecorder recorder{engine, store, glossary, std::unique_ptr<SampleSource>(microphone),
                             std::unique_ptr<SampleSource>(systemAudio)};
    std::chrono::steady_clock::time_point now{};
};

}  // namespace velmora::test
