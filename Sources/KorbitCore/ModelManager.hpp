#pragma once

// ModelManager: drives a set of models through their lifecycle (download, prewarm, load, unload)
// with a host-supplied ModelLoader doing the work, and reports every state change.
//
//     korbit::ModelManager manager(std::make_shared<MyLoader>(), std::make_shared<korbit::ModelDownloader>(config));
//     manager.setModelStateCallback([](auto from, auto to) { show(from, to); });
//     manager.ensureModelsLoaded();   // concurrent callers share one load
//
// State and model path may be read from any thread. Operations other than ensureModelsLoaded
// are not meant to overlap; callers that mix them from several threads order them themselves.

#include "KorbitCore/LoadModelsCoordinator.hpp"
#include "KorbitCore/ModelDownloader.hpp"
#include "KorbitCore/ModelLoader.hpp"
#include "KorbitCore/ModelState.hpp"
#include "Platform/Log/SystemLog.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace korbit {

class ModelManager {
public:
    /// Receives (old state, new state) on the thread that made the change.
    using ModelStateCallback = std::function<void(ModelState, ModelState)>;
    using ProgressCallback = ModelLoader::ProgressCallback;

    ModelManager(std::shared_ptr<ModelLoader> loader, std::shared_ptr<ModelDownloader> downloader);
    virtual ~ModelManager() = default;
    ModelManager(const ModelManager&) = delete;
    ModelManager& operator=(const ModelManager&) = delete;

    ModelState modelState() const;
    ModelStateCallback modelStateCallback() const;
    void setModelStateCallback(ModelStateCallback callback);
    /// The folder of the models once a download step has finished.
    std::optional<std::filesystem::path> modelPath() const;
    /// The loader's model folder, when it has one.
    std::optional<std::filesystem::path> modelFolder() const;

    /// Downloads and loads the models unless they are loaded; concurrent calls share one load.
    virtual void ensureModelsLoaded();
    virtual void downloadModels(const ProgressCallback& progressCallback = {});
    virtual void prewarmModels();
    virtual void loadModels();
    virtual void unloadModels();

    /// Downloaded, loading or loaded.
    bool isAvailable() const;
    bool isLoaded() const;

protected:
    /// The short name of the object's dynamic type, which starts every log line.
    const std::string& loggerName() const;

private:
    /// Stores the state and tells the callback when it changed.
    void setState(ModelState state);
    /// Moves to `state` only from one of the states `from` accepts; returns whether it did.
    bool transition(bool (*from)(ModelState), ModelState state);
    void notify(ModelState oldState, ModelState newState) const;
    /// Prewarm (true) or load (false), after a download when nothing is downloaded yet.
    void loadOrPrewarm(bool prewarm);
    /// Runs a loader call; a failure returns the manager to unloaded, is logged and rethrown.
    void runLoaderStep(const std::function<void()>& step, const char* action);
    std::string findModelPath() const;
    void log(platform::log::LogType type, std::string_view message) const;

    mutable std::mutex mutex_;  // guards the fields below; never held while calling out
    ModelState modelState_ = ModelState::unloaded;
    ModelStateCallback modelStateCallback_;
    std::optional<std::filesystem::path> modelPath_;

    std::shared_ptr<ModelDownloader> downloader_;
    std::shared_ptr<ModelLoader> loader_;
    mutable std::once_flag loggerNameOnce_;
    mutable std::string loggerName_;
    LoadModelsCoordinator coordinator_;
};

}  // namespace korbit
