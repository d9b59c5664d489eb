#include "Velmora/Meeting/MeetingSession.hpp"

#include "Velmora/Meeting/MeetingRecorder.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <set>

namespace velmora {

MeetingSession::Outcome MeetingSession::record(std::shared_ptr<LocalModelEngine> engine, MeetingStore& store,
                                               Glossary& glossary, const Options& options, const Events& events,
                                               std::unique_ptr<SampleSource> microphone,
                                               std::unique_ptr<SampleSource> systemAudio) {
    std::unique_ptr<QCoreApplication> application;
    int argc = 1;
    char name[] = "velmora";
    char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) application = std::make_unique<QCoreApplication>(argc, argv);

    MeetingRecorder recorder(std::move(engine), store, glossary, std::move(microphone), std::move(systemAudio));
    QEventLoop loop;
    std::set<korbit::UUID> told;
    QObject::connect(&recorder, &MeetingRecorder::meetingChanged, &loop, [&] {
        if (!recorder.meeting() || !events.line) return;
        for (const MeetingLine& line : recorder.meeting()->lines)
            if (told.insert(line.id).second) events.line(line);
    });
    QObject::connect(&recorder, &MeetingRecorder::lastErrorChanged, &loop, [&] {
        if (recorder.isRecording() && recorder.lastError() && events.warning) events.warning(*recorder.lastError());
    });

    bool stopping = false;
    const auto stop = [&] {
        if (stopping) return;
        stopping = true;
        recorder.stop();
        loop.quit();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (options.shouldStop && options.shouldStop()) stop();
    });
    poll.start(100);
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &loop, stop);
    QObject::connect(&recorder, &MeetingRecorder::recordingChanged, &loop, [&] {
        if (!recorder.isRecording()) return;
        if (events.started) events.started(recorder.meeting()->title);
        if (options.limit) limit.start(*options.limit);
    });
    // A start ends by leaving "starting" and then, when it succeeded, beginning to record: look
    // once both have happened.
    QObject::connect(
        &recorder, &MeetingRecorder::startingChanged, &loop,
        [&] {
            if (!recorder.isStarting() && !recorder.isRecording()) loop.quit();
        },
        Qt::QueuedConnection);

    recorder.start(options.title);
    if (recorder.isStarting()) loop.exec();
    poll.stop();

    Outcome outcome;
    if (!recorder.meeting()) {
        outcome.failure = stopping ? "stopped before the recording began"
                                   : recorder.lastError().value_or("the recording did not start");
        return outcome;
    }
    if (events.stopped) events.stopped(recorder.pending());
    outcome.complete = recorder.waitForPending(options.pendingCap);
    outcome.meeting = recorder.meeting();
    outcome.saveFailure = recorder.saveFailure();
    outcome.modelFailure = recorder.modelFailure();
    outcome.transcribedChunks = recorder.transcribedChunks();
    outcome.failedChunks = recorder.failedChunks();
    outcome.chunkFailure = recorder.lastChunkFailure();
    return outcome;
}

}  // namespace velmora
