#include "KorbitCore/ModelManager.hpp"

#include "KorbitCore/KorbitCoreError.hpp"
#include "KorbitCore/Logging.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <typeinfo>

namespace fs = std::filesystem;
using platform::log::LogType;

namespace korbit {
namespace {

std::string errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

/// "ns::Outer<ns::T>" -> "Outer<ns::T>": the name without its namespaces and enclosing classes.
std::string shortTypeName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '<') ++depth;
        if (name[i] == '>') --depth;
        if (depth == 0 && name.compare(i, 2, "::") == 0) start = i + 2;
    }
    return name.substr(start);
}

}  // namespace

ModelManager::ModelManager(std::shared_ptr<ModelLoader> loader, std::shared_ptr<ModelDownloader> downloader)
    : downloader_(std::move(downloader)), loader_(std::move(loader)) {
    if (!loader_) throw std::invalid_argument("ModelManager needs a model loader");
    if (!downloader_) throw std::invalid_argument("ModelManager needs a model downloader");
}

ModelState ModelManager::modelState() const {
    std::lock_guard lock(mutex_);
    return modelState_;
}

ModelManager::ModelStateCallback ModelManager::modelStateCallback() const {
    std::lock_guard lock(mutex_);
    return modelStateCallback_;
}

void ModelManager::setModelStateCallback(ModelStateCallback callback) {
    std::lock_guard lock(mutex_);
    modelStateCallback_ = std::move(callback);
}

std::optional<fs::path> ModelManager::modelPath() const {
    std::lock_guard lock(mutex_);
    return modelPath_;
}

std::optional<fs::path> ModelManager::modelFolder() const {
    std::optional<std::string> folder = loader_->modelFolder();
    if (!folder) return std::nullopt;
    return fs::path(*folder);
}

bool ModelManager::isAvailable() const {
    ModelState state = modelState();
    return state == ModelState::downloaded || state == ModelState::loading || state == ModelState::loaded;
}

bool ModelManager::isLoaded() const { return modelState() == ModelState::loaded; }

const std::string& ModelManager::loggerName() const {
    std::call_once(loggerNameOnce_, [this] { loggerName_ = shortTypeName(typeid(*this)); });
    return loggerName_;
}

void ModelManager::log(LogType type, std::string_view message) const {
    Logging::shared().log("[" + loggerName() + "] " + std::string(message), " ", std::nullopt, type);
}

void ModelManager::notify(ModelState oldState, ModelState newState) const {
    if (oldState == newState) return;
    ModelStateCallback callback = modelStateCallback();
    if (callback) callback(oldState, newState);
}

void ModelManager::setState(ModelState state) {
    ModelState old;
    {
        std::lock_guard lock(mutex_);
        old = modelState_;
        modelState_ = state;
    }
    notify(old, state);
}

bool ModelManager::transition(bool (*from)(ModelState), ModelState state) {
    ModelState old;
    {
        std::lock_guard lock(mutex_);
        if (!from(modelState_)) return false;
        old = modelState_;
        modelState_ = state;
    }
    notify(old, state);
    return true;
}

std::string ModelManager::findModelPath() const {
    if (std::optional<fs::path> path = modelPath()) return path->string();
    if (std::optional<std::string> folder = loader_->modelFolder()) return *folder;
    throw KorbitCoreError::invalidConfiguration(
        "No model path available. Call downloadModels() first, or provide modelFolder.");
}

void ModelManager::downloadModels(const ProgressCallback& progressCallback) {
    if (ModelState state = modelState(); state != ModelState::unloaded) {
        log(LogType::debug, "Models already downloaded (state: " + std::string(description(state)) + "), skipping download");
        return;
    }
    if (std::optional<std::string> folder = loader_->modelFolder()) {
        log(LogType::debug, "modelFolder is set, skipping download");
        {
            std::lock_guard lock(mutex_);
            modelPath_ = fs::path(*folder);
        }
        setState(ModelState::downloaded);
        return;
    }
    log(LogType::info, "Starting download process...");
    setState(ModelState::downloading);
    std::string path;
    try {
        path = loader_->resolveModels(*downloader_, progressCallback);
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        setState(ModelState::unloaded);
        log(LogType::error, "Failed to download models: " + errorText(error));
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        modelPath_ = fs::path(path);
    }
    setState(ModelState::downloaded);
    log(LogType::info, "Models downloaded to " + path);
}

void ModelManager::prewarmModels() {
    if (modelState() == ModelState::unloaded) downloadModels();
    const std::string path = findModelPath();
    if (modelState() == ModelState::prewarmed) {
        log(LogType::debug, "Models already prewarmed, skipping");
        return;
    }
    if (!transition([](ModelState s) { return s == ModelState::downloaded; }, ModelState::prewarming)) {
        throw KorbitCoreError::invalidConfiguration("Cannot prewarm in state: " +
                                                    std::string(description(modelState())));
    }
    try {
        loader_->load(path, true);
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        setState(ModelState::unloaded);
        log(LogType::error, "Failed to prewarm models: " + errorText(error));
        throw;
    }
    setState(ModelState::prewarmed);
    log(LogType::info, "Models prewarmed successfully");
}

void ModelManager::loadModels() {
    if (modelState() == ModelState::unloaded) downloadModels();
    const std::string path = findModelPath();
    if (modelState() == ModelState::loaded) {
        log(LogType::debug, "Models already loaded, skipping");
        return;
    }
    auto loadable = [](ModelState s) { return s == ModelState::downloaded || s == ModelState::prewarmed; };
    if (!transition(loadable, ModelState::loading)) {
        throw KorbitCoreError::invalidConfiguration("Cannot load in state: " + std::string(description(modelState())));
    }
    try {
        loader_->load(path, false);
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        setState(ModelState::unloaded);
        log(LogType::error, "Failed to load models: " + errorText(error));
        throw;
    }
    setState(ModelState::loaded);
    log(LogType::info, "Models loaded successfully");
}

void ModelManager::unloadModels() {
    auto unloadable = [](ModelState s) { return s == ModelState::loaded || s == ModelState::prewarmed; };
    if (!transition(unloadable, ModelState::unloading)) return;
    loader_->unload();
    setState(ModelState::unloaded);
}

void ModelManager::ensureModelsLoaded() {
    if (isLoaded()) return;
    coordinator_.run([this] {
        if (isLoaded()) return;
        downloadModels();
        loadModels();
    });
}

}  // namespace korbit
