#include "MeetingRecording.hpp"

#include "Command.hpp"

#include "Velmora/Meeting/MeetingSession.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"

#include <csignal>
#include <cstdio>
#include <mutex>

namespace velmora::dev {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int signal) {
    interrupted = 1;
    // A second one ends the program at once.
    std::signal(signal, SIG_DFL);
}

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
    const std::shared_ptr<LocalModelEngine> engine = LocalWhisperProvider::shared();
    if (!engine->hasModelFiles()) {
        try {
            downloadModel(*engine);
        } catch (const std::exception& e) {
            return fail(std::string("meeting record: the model could not be downloaded: ") + e.what());
        }
    }

    MeetingSession::Options session;
    session.title = options.title;
    if (options.seconds) session.limit = std::chrono::seconds(*options.seconds);
    session.shouldStop = [] { return interrupted != 0; };
    MeetingSession::Events events;
    events.started = [&](const std::string& title) {
        const std::string stop = options.seconds ? std::to_string(*options.seconds) + " s, or Ctrl-C" : "Ctrl-C";
        std::fprintf(stderr, "recording \"%s\" (%s to stop)\n", title.c_str(), stop.c_str());
    };
    events.line = printLine;
    events.stopped = [](std::int64_t pending) {
        if (pending > 0) std::fprintf(stderr, "transcribing the last %lld chunk(s)\n", static_cast<long long>(pending));
    };
    events.warning = [](const std::string& message) { std::fprintf(stderr, "warning: %s\n", message.c_str()); };

    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    MeetingStore& store = MeetingStore::shared();
    const MeetingSession::Outcome outcome = MeetingSession::record(engine, store, Glossary::shared(), session, events);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    if (!outcome.meeting) return fail("meeting record: " + outcome.failure);
    const Meeting& meeting = *outcome.meeting;
    const std::string where = outcome.saveFailure ? "not saved" : "in " + store.fileOf(meeting.id).string();
    std::fprintf(stderr, "meeting %s: %zu lines, %lld s, %s\n", meeting.id.uuidString().c_str(), meeting.lines.size(),
                 static_cast<long long>(meeting.durationSec), where.c_str());
    // Each reason the meeting is not what was said is its own line; the status says any of them.
    int status = 0;
    if (outcome.saveFailure) {
        status = fail("meeting record: the meeting could not be saved in " + store.fileOf(meeting.id).string() + ": " +
                      *outcome.saveFailure);
    }
    if (outcome.modelFailure)
        status =
            fail("meeting record: the model could not be loaded, nothing was transcribed: " + *outcome.modelFailure);
    if (outcome.failedChunks > 0) {
        const std::int64_t all = outcome.failedChunks + outcome.transcribedChunks;
        status = fail("meeting record: " + std::to_string(outcome.failedChunks) + " of " + std::to_string(all) +
                      " chunks could not be transcribed: " + outcome.chunkFailure);
    }
    if (!outcome.complete)
        status = fail("meeting record: chunks still being transcribed after the wait; their lines are lost");
    return status;
}

}  // namespace velmora::dev
