#pragma once

// The application's controller on the main thread: it prepares the on-device model and publishes
// the model's state, the download's progress, the seconds of the preparation and the warning line.
// Every change of a published value is made on the main thread and announced by its signal. Its
// state is the main thread's alone (the thread that makes it): a call from another thread is a
// fault, caught in debug and sanitizer builds.

#include "Velmora/STT/LocalModelEngine.hpp"
#include "Velmora/STT/STTProvider.hpp"
#include "Velmora/Support/SettingsStore.hpp"

#include "Platform/Sys/Mutex.hpp"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace velmora {

class Glossary;
class MeetingRecorder;
class MeetingStore;
class SampleSource;

class AppController : public QObject {
    Q_OBJECT

public:
    /// The on-device model: absent, downloading, downloaded, loading, ready, or failed with a message.
    class ModelState {
    public:
        enum class Kind { absent, downloading, downloaded, loading, ready, failed };

        static ModelState absent() { return ModelState(Kind::absent); }
        static ModelState downloading() { return ModelState(Kind::downloading); }
        static ModelState downloaded() { return ModelState(Kind::downloaded); }
        static ModelState loading() { return ModelState(Kind::loading); }
        static ModelState ready() { return ModelState(Kind::ready); }
        static ModelState failed(std::string message) { return ModelState(Kind::failed, std::move(message)); }

        Kind kind() const { return kind_; }
        /// The failure's text; empty in the other states.
        const std::string& message() const { return message_; }
        bool operator==(const ModelState&) const = default;

    private:
        explicit ModelState(Kind kind, std::string message = {}) : kind_(kind), message_(std::move(message)) {}
        Kind kind_;
        std::string message_;
    };

    /// The model starts as downloaded when its files are on disk, else absent. The meeting recorder
    /// works over the process's meeting store and glossary.
    AppController(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, QObject* parent = nullptr);
    /// The same with the recorder over the given meeting store and glossary, and sources of its
    /// own (by default the microphone and the system's sound).
    AppController(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, MeetingStore& meetings,
                  Glossary& glossary, std::unique_ptr<SampleSource> microphone = nullptr,
                  std::unique_ptr<SampleSource> systemAudio = nullptr, QObject* parent = nullptr);
    /// Stops a preparation that is still running on its worker and waits for it to end.
    ~AppController() override;

    const ModelState& modelState() const {
        mainThread_.onThread();
        return modelState_;
    }
    /// The download's completed fraction, always finite, from 0 to 1.
    double modelProgress() const {
        mainThread_.onThread();
        return modelProgress_;
    }
    /// Whole seconds of the current model preparation.
    std::int64_t modelElapsed() const {
        mainThread_.onThread();
        return modelElapsed_;
    }
    const std::optional<std::string>& warning() const {
        mainThread_.onThread();
        return warning_;
    }
    void setWarning(std::optional<std::string> warning);

    /// Creates the data folder and starts the model's preparation when the on-device engine is
    /// chosen and its model is on disk. Settings whose file did not open become the warning line.
    void start();

    /// Downloads the model when it is not on disk, then loads it, on a worker; the state, progress
    /// and seconds follow on the main thread. Does nothing while a preparation runs. Each
    /// preparation has a stop token that its download and its loading check.
    void prepareLocalModel();

    /// Chooses the engine. Leaving the on-device engine unloads the model and stops a preparation
    /// in flight; the model's state then follows whether its files are on disk. A choice the
    /// settings cannot save changes nothing (the settings say why).
    void setEngine(SettingsStore::Engine engine);

    /// Unloads the model, stops a preparation in flight and deletes the model's files once that
    /// preparation has ended (at once when none runs); the state is absent from the call on.
    void removeLocalModel();

    /// One second of the running preparation (the one-second timer calls it).
    void tick();

    LocalModelEngine& engine() const { return *engine_; }

    /// The engine a dictation starting now runs on: the chosen one, except that the on-device
    /// engine falls back to the server's while its model is not loaded (read without waiting).
    SettingsStore::Engine effectiveEngine() const;
    /// The provider of the effective engine: for the on-device engine "Локально · whisper-large-v3"
    /// at no cost in the settings' language. The server's and the cloud's providers belong to
    /// dictation, which is not built here: none for them.
    std::shared_ptr<STTProvider> activeProvider() const;
    /// The one meeting recorder, made with the controller and kept as long as it lives.
    MeetingRecorder& meeting() const { return *meeting_; }
    SettingsStore& settings() const { return settings_; }

Q_SIGNALS:
    void modelStateChanged();
    void modelProgressChanged();
    void modelElapsedChanged();
    void warningChanged();

private:
    void setModelState(ModelState state) VELMORA_REQUIRES(mainThread_);
    void setModelProgress(double progress) VELMORA_REQUIRES(mainThread_);
    void setModelElapsed(std::int64_t seconds) VELMORA_REQUIRES(mainThread_);
    void stateByModelFiles() VELMORA_REQUIRES(mainThread_);
    /// Stops a preparation in flight and makes its outcome irrelevant: it is dropped when it comes.
    void dropPreparation() VELMORA_REQUIRES(mainThread_);
    /// Deletes the model folder (a failure is logged); on the caller's thread.
    void deleteModelFiles() const;
    /// Runs the job on the model worker, counted in jobsInFlight_ until it has reported back.
    template <typename Job>
    void runOnWorker(Job job) VELMORA_REQUIRES(mainThread_);
    void finishPreparation(std::uint64_t generation, std::optional<std::string> failure) VELMORA_REQUIRES(mainThread_);
    /// Runs the action on the main thread unless the controller is gone by then.
    template <typename Action>
    void post(Action action);

    std::shared_ptr<LocalModelEngine> engine_;
    SettingsStore& settings_;
    // The main thread's, as is everything below but the worker pool and the recorder, which are
    // set up once by the constructor. Workers post their outcomes back to it.
    platform::sys::ThreadRole mainThread_{"AppController"};
    ModelState modelState_ VELMORA_GUARDED_BY(mainThread_) = ModelState::absent();
    double modelProgress_ VELMORA_GUARDED_BY(mainThread_) = 0;
    std::int64_t modelElapsed_ VELMORA_GUARDED_BY(mainThread_) = 0;
    std::optional<std::string> warning_ VELMORA_GUARDED_BY(mainThread_);
    bool preparing_ VELMORA_GUARDED_BY(mainThread_) = false;
    std::uint64_t generation_ VELMORA_GUARDED_BY(mainThread_) = 0;
    /// The stop of the current preparation.
    std::stop_source preparationStop_ VELMORA_GUARDED_BY(mainThread_);
    /// Preparations and removals handed to the worker that have not reported back yet.
    int jobsInFlight_ VELMORA_GUARDED_BY(mainThread_) = 0;
    QTimer elapsedTimer_ VELMORA_GUARDED_BY(mainThread_);
    /// One thread: a removal runs after the preparation it stopped, a new preparation after both.
    QThreadPool worker_;
    std::unique_ptr<MeetingRecorder> meeting_;
};

}  // namespace velmora
