#include "Velmora/Meeting/MeetingRecorder.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Velmora/Audio/MicrophoneCapture.hpp"
#include "Velmora/Audio/SpeechDetector.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Meeting/MeetingTranscript.hpp"
#include "Velmora/Meeting/SystemAudioCapture.hpp"
#include "Velmora/Support/ErrorDescription.hpp"
#include "Velmora/Support/Log.hpp"

#include <QEventLoop>

#include <algorithm>

namespace velmora {

using Speaker = MeetingLine::Speaker;
using std::chrono::duration_cast;
using std::chrono::seconds;

namespace {

constexpr std::string_view kSaveFailed = "Не удалось сохранить встречу: ";

/// Runs the action; its failure's description, or none.
template <typename Action>
std::optional<std::string> failureOf(Action&& action) {
    try {
        action();
        return std::nullopt;
    } catch (...) {
        return descriptionOf(std::current_exception());
    }
}

}  // namespace

template <typename Action>
void MeetingRecorder::post(Action action) {
    // Dropped when the recorder is gone by then.
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

MeetingRecorder::MeetingRecorder(std::shared_ptr<LocalModelEngine> engine, MeetingStore& store, Glossary& glossary,
                                 std::unique_ptr<SampleSource> microphone, std::unique_ptr<SampleSource> systemAudio,
                                 QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      store_(store),
      glossary_(glossary),
      microphone_(microphone ? std::move(microphone) : std::make_unique<MicrophoneCapture>()),
      systemAudio_(systemAudio ? std::move(systemAudio) : std::make_unique<SystemAudioCapture>()) {
    // Wired once: a ring that does not accept drops what comes between meetings.
    microphone_->setOnSamples([ring = micBuffer_](const float* samples, std::size_t count) {
        ring->write(samples, static_cast<std::int64_t>(count), SampleSource::sampleRate);
    });
    systemAudio_->setOnSamples([ring = systemBuffer_](const float* samples, std::size_t count) {
        ring->write(samples, static_cast<std::int64_t>(count), SampleSource::sampleRate);
    });
    starter_.setMaxThreadCount(1);
    // A preload beside one chunk of each source.
    transcribers_.setMaxThreadCount(3);
    timer_.setInterval(tickInterval);
    connect(&timer_, &QTimer::timeout, this, &MeetingRecorder::tick);
}

MeetingRecorder::~MeetingRecorder() {
    starter_.waitForDone();
    transcribers_.waitForDone();
    microphone_->stop();
    systemAudio_->stop();
}

void MeetingRecorder::setTimerEnabled(bool enabled) {
    mainThread_.onThread();
    timerEnabled_ = enabled;
    if (!enabled) timer_.stop();
    if (enabled && isRecording_) timer_.start();
}

void MeetingRecorder::start(std::optional<std::string> title) {
    mainThread_.onThread();
    if (isRecording_ || starting_) return;
    setLastError(std::nullopt);
    setHeardOthers(false);
    if (!engine_->hasModelFiles()) {
        setLastError("Для встреч нужна локальная модель — скачай её в настройках");
        return;
    }
    // The sources may take a while to answer: the screens stay live, and a stop meanwhile cancels.
    cancelStart_ = false;
    setStarting(true);
    starter_.start([this, title = std::move(title)] {
        const StartOutcome outcome = startSources();
        post([this, title, outcome] {
            mainThread_.onThread();
            finishStart(title, outcome);
        });
    });
}

MeetingRecorder::StartOutcome MeetingRecorder::startSources() {
    using Kind = StartOutcome::Kind;
    if (auto failure = failureOf([&] { systemAudio_->start(); })) return {Kind::systemAudioFailed, *failure};
    if (cancelStart_) {
        systemAudio_->stop();
        return {Kind::cancelled, {}};
    }
    if (auto failure = failureOf([&] { microphone_->start(); })) {
        systemAudio_->stop();
        return {Kind::microphoneFailed, *failure};
    }
    return {Kind::started, {}};
}

void MeetingRecorder::finishStart(const std::optional<std::string>& title, const StartOutcome& outcome) {
    using Kind = StartOutcome::Kind;
    setStarting(false);
    switch (outcome.kind) {
        case Kind::cancelled:
            return;
        case Kind::systemAudioFailed:
            setLastError(outcome.description);
            Log::audio.error("встреча: системный звук недоступен — " + outcome.description);
            return;
        case Kind::microphoneFailed:
            setLastError("Микрофон недоступен: " + outcome.description);
            return;
        case Kind::started:
            break;
    }
    if (cancelStart_) {
        microphone_->stop();
        systemAudio_->stop();
        return;
    }
    begin(title);
}

void MeetingRecorder::begin(const std::optional<std::string>& title) {
    micBuffer_->reset();
    systemBuffer_->reset();
    micTrack_.clear();
    systemTrack_.clear();
    // The file keeps whole seconds; so does the meeting in memory. Elapsed time is monotonic.
    const Date now = std::chrono::floor<seconds>(std::chrono::system_clock::now());
    startedAt_ = clock_();
    setElapsed(0);
    Meeting meeting;
    meeting.title = title ? *title : MeetingStore::defaultTitle(now);
    meeting.startedAt = now;
    meeting_ = std::move(meeting);
    saveFailure_.reset();
    modelFailure_.reset();
    failedChunks_ = 0;
    lastChunkFailure_.clear();
    transcribedChunks_ = 0;
    Q_EMIT meetingChanged();
    setRecording(true);

    transcribers_.start([this, engine = engine_, id = meeting_->id] {
        if (auto failure = failureOf([&] { engine->load(); }))
            post([this, id, description = *failure] {
                mainThread_.onThread();
                preloadFailed(id, description);
            });
    });
    if (timerEnabled_) timer_.start();
    Log::app.info("встреча начата");
}

void MeetingRecorder::preloadFailed(const korbit::UUID& meetingId, const std::string& description) {
    // Not silent: every chunk would fail the same way. The recording goes on.
    Log::stt.error("встреча: не удалось загрузить локальную модель: " + description);
    if (meeting_ && meeting_->id == meetingId) {
        modelFailure_ = description;
        setLastError("Не удалось загрузить локальную модель: " + description);
    }
}

void MeetingRecorder::chunkFailed(const korbit::UUID& meetingId, std::int64_t at, Speaker speaker,
                                  const std::string& description) {
    Log::stt.error("встреча: не удалось распознать фрагмент с " + std::to_string(at) + " с (" +
                   std::string(MeetingLine::speakerName(speaker)) + "): " + description);
    if (!meeting_ || meeting_->id != meetingId) return;
    ++failedChunks_;
    lastChunkFailure_ = description;
}

void MeetingRecorder::saveHeld() {
    noteSave(store_.save(*meeting_));
}

void MeetingRecorder::noteSave(const std::optional<std::string>& failure) {
    // Not silent: the user would believe the meeting kept. The next save writes it whole again.
    if (failure) {
        saveFailure_ = failure;
        setLastError(std::string(kSaveFailed) + *failure);
        return;
    }
    if (!saveFailure_) return;
    saveFailure_.reset();
    if (lastError_ && lastError_->starts_with(kSaveFailed)) setLastError(std::nullopt);
}

void MeetingRecorder::tick() {
    mainThread_.onThread();
    if (!isRecording_) return;
    micTrack_.drain(*micBuffer_);
    systemTrack_.drain(*systemBuffer_);
    if (startedAt_) setElapsed(duration_cast<seconds>(clock_() - *startedAt_).count());
    if (elapsed_ >= 1 && elapsed_ % levelInterval == 0 && elapsed_ != lastReport_) {
        lastReport_ = elapsed_;
        logLevels();
    }
    emitChunkIfReady(micTrack_, Speaker::me);
    emitChunkIfReady(systemTrack_, Speaker::others);
}

void MeetingRecorder::logLevels() {
    Log::audio.info("встреча " + std::to_string(elapsed_) + " с: микрофон " + std::to_string(micTrack_.count()) +
                    " сэмплов (пик " + korbit::fixedDecimal(micTrack_.lastDrainPeak(), 4) + "), система " +
                    std::to_string(systemTrack_.count()) + " сэмплов (пик " +
                    korbit::fixedDecimal(systemTrack_.lastDrainPeak(), 4) + ")");
}

void MeetingRecorder::emitChunkIfReady(SampleTrack& track, Speaker speaker) {
    if (auto chunk = track.nextChunk()) transcribe(std::move(chunk->samples), chunk->at, speaker);
}

void MeetingRecorder::emitTail(SampleTrack& track, Speaker speaker) {
    if (auto chunk = track.tail()) transcribe(std::move(chunk->samples), chunk->at, speaker);
}

void MeetingRecorder::transcribe(std::vector<float> chunk, std::int64_t at, Speaker speaker) {
    if (!SpeechDetector::hasSpeech(chunk, SampleTrack::sampleRate)) return;
    if (speaker == Speaker::others) setHeardOthers(true);
    setPending(pending_ + 1);
    // The chunk's lines belong to the meeting it was cut from, whatever is recorded by then.
    const korbit::UUID meetingId = meeting_ ? meeting_->id : korbit::UUID();
    auto samples = std::make_shared<const std::vector<float>>(std::move(chunk));
    transcribers_.start([this, engine = engine_, samples, at, speaker, meetingId] {
        std::string text;
        const auto failure = failureOf([&] { text = engine->transcribe(*samples, ""); });
        post([this, meetingId, at, speaker, text = std::move(text), failure] {
            mainThread_.onThread();
            if (failure)
                chunkFailed(meetingId, at, speaker, *failure);
            else
                transcribed(meetingId, at, speaker, text);
            post([this] {
                mainThread_.onThread();
                setPending(pending_ - 1);
            });
        });
    });
}

void MeetingRecorder::transcribed(const korbit::UUID& meetingId, std::int64_t at, Speaker speaker,
                                  const std::string& text) {
    if (meeting_ && meeting_->id == meetingId) ++transcribedChunks_;
    if (text.empty()) return;
    std::string lineText = MeetingTranscript::lineText(text, glossary_);
    if (lineText.empty()) return;
    MeetingLine line{korbit::UUID(), at, speaker, std::move(lineText)};
    if (meeting_ && meeting_->id == meetingId)
        append(std::move(line));
    else
        appendToStored(meetingId, std::move(line));
}

bool MeetingRecorder::isStored(const korbit::UUID& meetingId) const {
    const auto& stored = store_.meetings();
    return std::any_of(stored.begin(), stored.end(), [&](const Meeting& meeting) { return meeting.id == meetingId; });
}

void MeetingRecorder::appendToStored(const korbit::UUID& meetingId, MeetingLine line) {
    // A late line of an earlier meeting: into the store's copy, which keeps its own duration.
    const auto& stored = store_.meetings();
    const auto found =
        std::find_if(stored.begin(), stored.end(), [&](const Meeting& meeting) { return meeting.id == meetingId; });
    if (found == stored.end()) return;
    Meeting meeting = *found;
    if (MeetingTranscript::append(meeting, std::move(line))) store_.save(meeting);
}

bool MeetingRecorder::rename(const korbit::UUID& id, std::string_view title) {
    mainThread_.onThread();
    if (!meeting_ || meeting_->id != id) return false;
    meeting_->title = title.empty() ? MeetingStore::defaultTitle(meeting_->startedAt) : std::string(title);
    // Before its first save the store has no copy: the next save carries the title.
    if (isStored(meeting_->id)) noteSave(store_.rename(*meeting_, meeting_->title));
    Q_EMIT meetingChanged();
    return true;
}

void MeetingRecorder::append(MeetingLine line) {
    mainThread_.onThread();
    if (!meeting_) return;
    // The stop saved the meeting; if the store has lost it since, it was deleted and stays so.
    if (!isRecording_ && !isStored(meeting_->id)) return;
    if (!MeetingTranscript::append(*meeting_, std::move(line))) return;
    meeting_->durationSec = elapsed_;
    saveHeld();
    Q_EMIT meetingChanged();
}

bool MeetingRecorder::isEcho(const MeetingLine& line) const {
    mainThread_.onThread();
    return meeting_ && MeetingTranscript::isEcho(*meeting_, line);
}

double MeetingRecorder::similarity(std::string_view a, std::string_view b) {
    return MeetingTranscript::similarity(a, b);
}

void MeetingRecorder::stop() {
    mainThread_.onThread();
    if (!isRecording_) {
        if (starting_) cancelStart_ = true;
        return;
    }
    setRecording(false);
    timer_.stop();
    micBuffer_->silence();
    systemBuffer_->silence();
    microphone_->stop();
    systemAudio_->stop();
    micTrack_.drain(*micBuffer_);
    systemTrack_.drain(*systemBuffer_);
    emitTail(micTrack_, Speaker::me);
    emitTail(systemTrack_, Speaker::others);
    std::size_t lines = 0;
    if (meeting_) {
        meeting_->durationSec = elapsed_;
        saveHeld();
        lines = meeting_->lines.size();
        Q_EMIT meetingChanged();
    }
    Log::app.info("встреча закончена: " + std::to_string(elapsed_) + " с, реплик " + std::to_string(lines));
    startedAt_.reset();
}

bool MeetingRecorder::waitForPending(std::chrono::milliseconds cap) {
    mainThread_.onThread();
    if (pending_ == 0) return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &MeetingRecorder::pendingChanged, &loop, [&] {
        mainThread_.onThread();
        if (pending_ == 0) loop.quit();
    });
    deadline.start(cap);
    loop.exec();
    return pending_ == 0;
}

void MeetingRecorder::setRecording(bool value) {
    if (isRecording_ == value) return;
    isRecording_ = value;
    Q_EMIT recordingChanged();
}

void MeetingRecorder::setStarting(bool value) {
    if (starting_ == value) return;
    starting_ = value;
    Q_EMIT startingChanged();
}

void MeetingRecorder::setElapsed(std::int64_t value) {
    if (elapsed_ == value) return;
    elapsed_ = value;
    Q_EMIT elapsedChanged();
}

void MeetingRecorder::setLastError(std::optional<std::string> value) {
    if (lastError_ == value) return;
    lastError_ = std::move(value);
    Q_EMIT lastErrorChanged();
}

void MeetingRecorder::setPending(std::int64_t value) {
    if (pending_ == value) return;
    pending_ = value;
    Q_EMIT pendingChanged();
}

void MeetingRecorder::setHeardOthers(bool value) {
    if (heardOthers_ == value) return;
    heardOthers_ = value;
    Q_EMIT heardOthersChanged();
}

}  // namespace velmora
