#include "MeetingRecording.hpp"

#include "Command.hpp"

#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <set>

namespace velmora::dev {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int signal) {
    interrupted = 1;
    // A second one ends the program at once.
    std::signal(signal, SIG_DFL);
}

/// The last chunks of a long meeting may take minutes on a slow machine.
constexpr std::chrono::minutes kPendingCap{15};

void printLine(const MeetingLine& line) {
    std::printf("%02lld:%02lld\t%s\t%s\n", static_cast<long long>(line.at / 60), static_cast<long long>(line.at % 60),
                std::string(MeetingLine::speakerName(line.speaker)).c_str(), line.text.c_str());
    std::fflush(stdout);
}

/// Downloads the model with its progress on standard error, in steps of a tenth.
void downloadModel(LocalModelEngine& engine) {
    std::fprintf(stderr, "downloading the model into %s\n", engine.modelFolder().c_str());
    std::mutex mutex;
    int shown = -1;
    engine.download([&](double fraction) {
        std::lock_guard guard(mutex);
        const int tenths = static_cast<int>(fraction * 10);
        if (tenths <= shown) return;
        shown = tenths;
        std::fprintf(stderr, "downloaded %d%%\n", tenths * 10);
    });
}

}  // namespace

int recordMeeting(const MeetingRecordingOptions& options) {
    int argc = 1;
    char name[] = "velmora-dev";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const std::shared_ptr<LocalModelEngine> engine = LocalWhisperProvider::shared();
    if (!engine->hasModelFiles()) {
        try {
            downloadModel(*engine);
        } catch (const std::exception& e) {
            return fail(std::string("meeting record: the model could not be downloaded: ") + e.what());
        }
    }

    MeetingStore& store = MeetingStore::shared();
    MeetingRecorder recorder(engine, store, Glossary::shared());
    std::set<korbit::UUID> printed;
    QObject::connect(&recorder, &MeetingRecorder::meetingChanged, [&] {
        if (!recorder.meeting()) return;
        for (const MeetingLine& line : recorder.meeting()->lines)
            if (printed.insert(line.id).second) printLine(line);
    });
    QObject::connect(&recorder, &MeetingRecorder::lastErrorChanged, [&] {
        if (recorder.isRecording() && recorder.lastError())
            std::fprintf(stderr, "warning: %s\n", recorder.lastError()->c_str());
    });

    bool stopping = false;
    const auto stop = [&] {
        if (stopping) return;
        stopping = true;
        recorder.stop();
        app.quit();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (interrupted) stop();
    });
    poll.start(100);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, stop);
    QObject::connect(&recorder, &MeetingRecorder::recordingChanged, [&] {
        if (!recorder.isRecording()) return;
        std::fprintf(stderr, "recording \"%s\" (%s to stop)\n", recorder.meeting()->title.c_str(),
                     options.seconds ? (std::to_string(*options.seconds) + " s, or Ctrl-C").c_str() : "Ctrl-C");
        if (options.seconds) limit.start(std::chrono::seconds(*options.seconds));
    });
    // A start ends by leaving "starting" and then, when it succeeded, beginning to record: look
    // once both have happened.
    QObject::connect(
        &recorder, &MeetingRecorder::startingChanged, &app,
        [&] {
            if (!recorder.isStarting() && !recorder.isRecording()) app.quit();
        },
        Qt::QueuedConnection);

    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    recorder.start(options.title);
    if (recorder.isStarting()) app.exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    if (!recorder.meeting()) {
        if (stopping) return fail("meeting record: stopped before the recording began");
        return fail("meeting record: " + recorder.lastError().value_or("the recording did not start"));
    }
    if (recorder.pending() > 0)
        std::fprintf(stderr, "transcribing the last %lld chunk(s)\n", static_cast<long long>(recorder.pending()));
    const bool finished = recorder.waitForPending(kPendingCap);
    const Meeting& meeting = *recorder.meeting();
    std::fprintf(stderr, "meeting %s: %zu lines, %lld s, in %s\n", meeting.id.uuidString().c_str(),
                 meeting.lines.size(), static_cast<long long>(meeting.durationSec), store.fileOf(meeting.id).c_str());
    if (!finished) return fail("meeting record: chunks still being transcribed after the wait; their lines are lost");
    return 0;
}

}  // namespace velmora::dev
