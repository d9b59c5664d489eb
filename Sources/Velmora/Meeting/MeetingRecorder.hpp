#pragma once

// Records one meeting at a time from two sources: the microphone (the user, "me") and the
// system's sound (the other participants, "others"). Both are captured into rings, drained every
// 0.5 s, cut into chunks of at most 30 s at quiet points, and every chunk with speech is
// transcribed on the on-device engine; each text becomes a line of the meeting, which is saved
// after every line. Lives on the main thread, which alone touches its state (the analysis checks
// it: the state is guarded by the role mainThread_); starts and transcriptions run on workers,
// which post their outcomes back.

// moc reads the Qt headers first: it cannot parse the standard library's C++20 headers on their own.
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#ifndef Q_MOC_RUN  // moc of Qt 6.4 cannot read the C++20 library's concepts (<compare>)
#include "Velmora/Audio/AudioCaptureBuffer.hpp"
#include "Velmora/Audio/SampleSource.hpp"
#include "Velmora/Meeting/Meeting.hpp"
#include "Velmora/Meeting/SampleTrack.hpp"
#include "Velmora/STT/LocalModelEngine.hpp"
#endif

#include "Platform/Sys/Mutex.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class Glossary;
class MeetingStore;

class MeetingRecorder : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    /// Each source's ring: 60 s at 16 kHz.
    static constexpr std::int64_t ringCapacity = 960000;
    static constexpr std::chrono::milliseconds tickInterval{500};
    /// Seconds between two level lines in the log.
    static constexpr std::int64_t levelInterval = 10;

    /// The sources default to the microphone's default source and the default sink's monitor.
    /// Nothing runs until start.
    MeetingRecorder(std::shared_ptr<LocalModelEngine> engine, MeetingStore& store, Glossary& glossary,
                    std::unique_ptr<SampleSource> microphone = nullptr,
                    std::unique_ptr<SampleSource> systemAudio = nullptr, QObject* parent = nullptr);
    /// Waits for a start and for transcriptions in flight (their lines are dropped), then stops
    /// the sources.
    ~MeetingRecorder() override;

    bool isRecording() const {
        mainThread_.onThread();
        return isRecording_;
    }
    /// Between start and the moment both sources run (or one failed); idle to everything else.
    bool isStarting() const {
        mainThread_.onThread();
        return starting_;
    }
    /// The meeting being recorded; after a stop the last one, until the next start.
    const std::optional<Meeting>& meeting() const {
        mainThread_.onThread();
        return meeting_;
    }
    /// Whole seconds since the meeting started, as of the last tick.
    std::int64_t elapsed() const {
        mainThread_.onThread();
        return elapsed_;
    }
    /// Why the last start failed, that the model could not be loaded, or that the meeting could not
    /// be saved, in words for the user.
    const std::optional<std::string>& lastError() const {
        mainThread_.onThread();
        return lastError_;
    }
    /// Why the last save of the meeting held failed; absent once a save of it succeeded. The
    /// meeting stays whole in memory meanwhile, and each save writes it whole.
    const std::optional<std::string>& saveFailure() const {
        mainThread_.onThread();
        return saveFailure_;
    }
    /// Why the model could not be loaded for the meeting held.
    const std::optional<std::string>& modelFailure() const {
        mainThread_.onThread();
        return modelFailure_;
    }
    /// Chunks of the meeting held whose transcription failed, and the last failure's words.
    std::int64_t failedChunks() const {
        mainThread_.onThread();
        return failedChunks_;
    }
    const std::string& lastChunkFailure() const {
        mainThread_.onThread();
        return lastChunkFailure_;
    }
    /// Chunks of the meeting held that were transcribed (with or without text).
    std::int64_t transcribedChunks() const {
        mainThread_.onThread();
        return transcribedChunks_;
    }
    /// Chunks handed to the engine whose transcription has not finished.
    std::int64_t pending() const {
        mainThread_.onThread();
        return pending_;
    }
    /// Since the last start, a chunk of the system's sound with speech went to the engine.
    bool heardOthers() const {
        mainThread_.onThread();
        return heardOthers_;
    }

    /// Starts a meeting unless one records or starts: the system's sound first, then the
    /// microphone, on a worker; the meeting begins on the main thread once both run. The title
    /// is used as given; without one it is the store's default title for the start. Failures are
    /// reported in lastError and leave the recorder idle.
    void start(std::optional<std::string> title = std::nullopt);
    /// Ends the meeting: the rest of each source goes to the engine as a last chunk, whose lines
    /// are added to this meeting afterwards. During a start it cancels the start. Idle: nothing.
    void stop();
    /// One tick of the recording (the timer calls it every 0.5 s): drains both rings, counts the
    /// seconds, writes the level line every 10 s and cuts at most one chunk per source,
    /// the microphone first. Does nothing while idle.
    void tick();
    /// Runs the event loop until no transcription is pending or the cap has passed; true when
    /// none is pending. For quitting right after a meeting without losing its last lines.
    bool waitForPending(std::chrono::milliseconds cap);

    /// Renames the meeting held (being recorded, or the last one, whose late lines still come
    /// here) and the store's copy of it: an empty title becomes the default title of its start.
    /// False, and nothing changed, when the recorder holds another meeting or none.
    bool rename(const korbit::UUID& id, std::string_view title);

    /// Adds a line to the meeting held (the echo rules of MeetingTranscript), sets its duration
    /// and saves it; without a meeting the line is dropped, and so it is after the stop when the
    /// meeting has been deleted from the store meanwhile.
    void append(MeetingLine line);
    bool isEcho(const MeetingLine& line) const;
    static double similarity(std::string_view a, std::string_view b);

    /// The clock of `elapsed` (by default the monotonic clock).
    void setClock(Clock clock) {
        mainThread_.onThread();
        clock_ = std::move(clock);
    }
    /// Without the timer, ticks happen only by calling tick().
    void setTimerEnabled(bool enabled);
    MeetingStore& store() const { return store_; }
    const SampleTrack& microphoneTrack() const {
        mainThread_.onThread();
        return micTrack_;
    }
    const SampleTrack& systemTrack() const {
        mainThread_.onThread();
        return systemTrack_;
    }

Q_SIGNALS:
    void recordingChanged();
    void startingChanged();
    void meetingChanged();
    void elapsedChanged();
    void lastErrorChanged();
    void pendingChanged();
    void heardOthersChanged();

private:
    struct StartOutcome {
        enum class Kind { started, systemAudioFailed, microphoneFailed, cancelled };
        Kind kind = Kind::started;
        std::string description;
    };
    StartOutcome startSources();
    void finishStart(const std::optional<std::string>& title, const StartOutcome& outcome)
        VELMORA_REQUIRES(mainThread_);
    void begin(const std::optional<std::string>& title) VELMORA_REQUIRES(mainThread_);
    void emitChunkIfReady(SampleTrack& track, MeetingLine::Speaker speaker) VELMORA_REQUIRES(mainThread_);
    void emitTail(SampleTrack& track, MeetingLine::Speaker speaker) VELMORA_REQUIRES(mainThread_);
    void transcribe(std::vector<float> chunk, std::int64_t at, MeetingLine::Speaker speaker)
        VELMORA_REQUIRES(mainThread_);
    void transcribed(const korbit::UUID& meetingId, std::int64_t at, MeetingLine::Speaker speaker,
                     const std::string& text) VELMORA_REQUIRES(mainThread_);
    void appendToStored(const korbit::UUID& meetingId, MeetingLine line);
    bool isStored(const korbit::UUID& meetingId) const;
    void preloadFailed(const korbit::UUID& meetingId, const std::string& description) VELMORA_REQUIRES(mainThread_);
    void chunkFailed(const korbit::UUID& meetingId, std::int64_t at, MeetingLine::Speaker speaker,
                     const std::string& description) VELMORA_REQUIRES(mainThread_);
    /// Saves the meeting held and reports the outcome in saveFailure and lastError.
    void saveHeld() VELMORA_REQUIRES(mainThread_);
    void noteSave(const std::optional<std::string>& failure) VELMORA_REQUIRES(mainThread_);
    void logLevels() VELMORA_REQUIRES(mainThread_);
    template <typename Action>
    void post(Action action);

    void setRecording(bool value) VELMORA_REQUIRES(mainThread_);
    void setStarting(bool value) VELMORA_REQUIRES(mainThread_);
    void setElapsed(std::int64_t value) VELMORA_REQUIRES(mainThread_);
    void setLastError(std::optional<std::string> value) VELMORA_REQUIRES(mainThread_);
    void setPending(std::int64_t value) VELMORA_REQUIRES(mainThread_);
    void setHeardOthers(bool value) VELMORA_REQUIRES(mainThread_);

    std::shared_ptr<LocalModelEngine> engine_;
    MeetingStore& store_;
    Glossary& glossary_;
    // The sources' callbacks hold the rings, never the recorder.
    std::shared_ptr<AudioCaptureBuffer> micBuffer_ = std::make_shared<AudioCaptureBuffer>(ringCapacity);
    std::shared_ptr<AudioCaptureBuffer> systemBuffer_ = std::make_shared<AudioCaptureBuffer>(ringCapacity);
    std::unique_ptr<SampleSource> microphone_;
    std::unique_ptr<SampleSource> systemAudio_;

    // The main thread's, as is everything below but the flag a worker's start reads.
    platform::sys::ThreadRole mainThread_{"MeetingRecorder"};
    bool isRecording_ VELMORA_GUARDED_BY(mainThread_) = false;
    bool starting_ VELMORA_GUARDED_BY(mainThread_) = false;
    std::atomic<bool> cancelStart_ = false;
    std::optional<Meeting> meeting_ VELMORA_GUARDED_BY(mainThread_);
    std::int64_t elapsed_ VELMORA_GUARDED_BY(mainThread_) = 0;
    std::optional<std::string> lastError_ VELMORA_GUARDED_BY(mainThread_);
    std::optional<std::string> saveFailure_ VELMORA_GUARDED_BY(mainThread_);
    std::optional<std::string> modelFailure_ VELMORA_GUARDED_BY(mainThread_);
    std::int64_t failedChunks_ VELMORA_GUARDED_BY(mainThread_) = 0;
    std::string lastChunkFailure_ VELMORA_GUARDED_BY(mainThread_);
    std::int64_t transcribedChunks_ VELMORA_GUARDED_BY(mainThread_) = 0;
    std::int64_t pending_ VELMORA_GUARDED_BY(mainThread_) = 0;
    bool heardOthers_ VELMORA_GUARDED_BY(mainThread_) = false;

    SampleTrack micTrack_ VELMORA_GUARDED_BY(mainThread_);
    SampleTrack systemTrack_ VELMORA_GUARDED_BY(mainThread_);
    std::optional<std::chrono::steady_clock::time_point> startedAt_ VELMORA_GUARDED_BY(mainThread_);
    std::int64_t lastReport_ VELMORA_GUARDED_BY(mainThread_) = 0;
    Clock clock_ VELMORA_GUARDED_BY(mainThread_) = [] { return std::chrono::steady_clock::now(); };
    bool timerEnabled_ VELMORA_GUARDED_BY(mainThread_) = true;
    QTimer timer_;
    // Starts of the sources, one at a time; preloads and transcriptions.
    QThreadPool starter_;
    QThreadPool transcribers_;
};

}  // namespace velmora
