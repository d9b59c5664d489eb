#include "Velmora/AppController.hpp"

#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperSTT.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include "KorbitCore/CancellationError.hpp"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace fs = std::filesystem;

namespace velmora {

AppController::AppController(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, QObject* parent)
    : AppController(std::move(engine), settings, MeetingStore::shared(), Glossary::shared(), nullptr, nullptr, parent) {
}

AppController::AppController(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, MeetingStore& meetings,
                             Glossary& glossary, std::unique_ptr<SampleSource> microphone,
                             std::unique_ptr<SampleSource> systemAudio, QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      settings_(settings),
      meeting_(std::make_unique<MeetingRecorder>(engine_, meetings, glossary, std::move(microphone),
                                                 std::move(systemAudio))) {
    mainThread_.onThread();
    modelState_ = engine_->hasModelFiles() ? ModelState::downloaded() : ModelState::absent();
    elapsedTimer_.setInterval(1000);
    connect(&elapsedTimer_, &QTimer::timeout, this, &AppController::tick);
    worker_.setMaxThreadCount(1);
}

AppController::~AppController() {
    mainThread_.onThread();
    dropPreparation();
    worker_.waitForDone();
}

template <typename Job>
void AppController::runOnWorker(Job job) {
    ++jobsInFlight_;
    worker_.start([this, job = std::move(job)]() mutable {
        job();
        post([this] {
            mainThread_.onThread();
            --jobsInFlight_;
        });
    });
}

template <typename Action>
void AppController::post(Action action) {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

void AppController::setWarning(std::optional<std::string> warning) {
    mainThread_.onThread();
    if (warning_ == warning) return;
    warning_ = std::move(warning);
    Q_EMIT warningChanged();
}

void AppController::setModelState(ModelState state) {
    if (modelState_ == state) return;
    modelState_ = std::move(state);
    Q_EMIT modelStateChanged();
}

void AppController::setModelProgress(double progress) {
    if (!std::isfinite(progress)) return;
    progress = std::clamp(progress, 0.0, 1.0);
    if (modelProgress_ == progress) return;
    modelProgress_ = progress;
    Q_EMIT modelProgressChanged();
}

void AppController::setModelElapsed(std::int64_t seconds) {
    if (modelElapsed_ == seconds) return;
    modelElapsed_ = seconds;
    Q_EMIT modelElapsedChanged();
}

void AppController::stateByModelFiles() {
    setModelState(engine_->hasModelFiles() ? ModelState::downloaded() : ModelState::absent());
}

void AppController::tick() {
    mainThread_.onThread();
    if (preparing_) setModelElapsed(modelElapsed_ + 1);
}

void AppController::start() {
    mainThread_.onThread();
    Paths::root();
    // The status line is the place the main window has for it: the user would lose every change.
    if (const auto& error = settings_.readError())
        setWarning("Настройки не прочитаны (" + *error + ") — изменения не сохранятся");
    if (settings_.config().engine == SettingsStore::Engine::local && engine_->hasModelFiles()) prepareLocalModel();
}

void AppController::prepareLocalModel() {
    mainThread_.onThread();
    if (preparing_) return;
    preparing_ = true;
    const std::uint64_t generation = generation_;
    preparationStop_ = std::stop_source();
    const bool needsDownload = !engine_->hasModelFiles();
    setModelElapsed(0);
    elapsedTimer_.start();
    if (needsDownload) {
        setModelProgress(0);
        setModelState(ModelState::downloading());
    } else {
        setModelState(ModelState::loading());
    }

    runOnWorker([this, engine = engine_, generation, stop = preparationStop_.get_token()] {
        // Whether the model is missing is asked again here: a removal that ran before may have
        // deleted what was there when the preparation was asked for.
        bool downloading = !engine->hasModelFiles();
        try {
            if (downloading) {
                post([this, generation] {
                    mainThread_.onThread();
                    if (generation != generation_ || modelState_.kind() == ModelState::Kind::downloading) return;
                    setModelProgress(0);
                    setModelState(ModelState::downloading());
                });
                engine->download(
                    [this, generation](double progress) {
                        post([this, generation, progress] {
                            mainThread_.onThread();
                            if (generation == generation_ && modelState_.kind() == ModelState::Kind::downloading)
                                setModelProgress(progress);
                        });
                    },
                    stop);
                downloading = false;
                post([this, generation] {
                    mainThread_.onThread();
                    if (generation != generation_) return;
                    setModelProgress(1);
                    setModelState(ModelState::loading());
                });
            }
            engine->load(stop);
            post([this, generation] {
                mainThread_.onThread();
                finishPreparation(generation, std::nullopt);
            });
        } catch (const korbit::CancellationError&) {
            // Stopped by a removal, a switch of engines or the end: its outcome belongs to no one.
            post([this, generation] {
                mainThread_.onThread();
                finishPreparation(generation, "остановлено");
            });
        } catch (const std::exception& error) {
            // The engine logs its own failed loading; a failed download is only reported to its caller.
            if (downloading) Log::stt.error(std::string("не удалось скачать локальную модель: ") + error.what());
            post([this, generation, message = std::string(error.what())] {
                mainThread_.onThread();
                finishPreparation(generation, message);
            });
        } catch (...) {
            post([this, generation] {
                mainThread_.onThread();
                finishPreparation(generation, "неизвестная ошибка");
            });
        }
    });
}

void AppController::finishPreparation(std::uint64_t generation, std::optional<std::string> failure) {
    // A preparation dropped by an unload or a removal ends without a word: its state was already set.
    if (generation != generation_) return;
    preparing_ = false;
    elapsedTimer_.stop();
    if (failure) {
        setModelState(ModelState::failed(*failure));
    } else {
        setModelState(ModelState::ready());
    }
}

void AppController::dropPreparation() {
    ++generation_;
    preparing_ = false;
    elapsedTimer_.stop();
    preparationStop_.request_stop();
}

void AppController::deleteModelFiles() const {
    std::error_code ec;
    fs::remove_all(engine_->modelFolder(), ec);
    if (ec) Log::app.error("не удалось удалить локальную модель: " + ec.message());
}

SettingsStore::Engine AppController::effectiveEngine() const {
    const SettingsStore::Engine chosen = settings_.config().engine;
    if (chosen == SettingsStore::Engine::local && !engine_->isLoaded()) return SettingsStore::Engine::server;
    return chosen;
}

std::shared_ptr<STTProvider> AppController::activeProvider() const {
    if (effectiveEngine() != SettingsStore::Engine::local) return nullptr;
    return std::make_shared<LocalWhisperSTT>("Локально · whisper-large-v3", 0, settings_.config().language, engine_);
}

void AppController::setEngine(SettingsStore::Engine engine) {
    mainThread_.onThread();
    const SettingsStore::Engine previous = settings_.config().engine;
    if (previous == engine) return;
    // A choice that could not be saved is not made: the model stays as it is.
    if (!settings_.setEngine(engine)) return;
    if (previous == SettingsStore::Engine::local) {
        engine_->unload();
        dropPreparation();
    }
    // A preparation that goes on (started while another engine was chosen) publishes its own outcome.
    if (!preparing_) stateByModelFiles();
}

void AppController::removeLocalModel() {
    mainThread_.onThread();
    engine_->unload();
    dropPreparation();
    setModelProgress(0);
    if (jobsInFlight_ == 0) {
        deleteModelFiles();
        stateByModelFiles();
        return;
    }
    // A stopped preparation may still write a file until it has ended: the files go after it.
    setModelState(ModelState::absent());
    runOnWorker([this] {
        deleteModelFiles();
        post([this] {
            mainThread_.onThread();
            if (!preparing_) stateByModelFiles();
        });
    });
}

}  // namespace velmora
