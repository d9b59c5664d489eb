#include "KorbitCore/ModelManager.hpp"

#include "KorbitCore/External/Hub/HubClientError.hpp"
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

bool ModelManager::isLoaded() const {
    return modelState() == ModelState::loaded;
}

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

void ModelManager::runLoaderStep(const std::function<void()>& step, const char* action) {
    try {
        step();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        setState(ModelState::unloaded);
        log(LogType::error, "Failed to " + std::string(action) + " models: " + Hub::describe(error));
        throw;
    }
}

std::string ModelManager::findModelPath() const {
    if (std::optional<fs::path> path = modelPath()) return path->string();
    if (std::optional<std::string> folder = loader_->modelFolder()) return *folder;
    throw KorbitCoreError::invalidConfiguration(
        "No model path available. Call downloadModels() first, or provide modelFolder.");
}

void ModelManager::downloadModels(const ProgressCallback& progressCallback) {
    if (ModelState state = modelState(); state != ModelState::unloaded) {
        log(LogType::debug,
            "Models already downloaded (state: " + std::string(description(state)) + "), skipping download");
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
    runLoaderStep([&] { path = loader_->resolveModels(*downloader_, progressCallback); }, "download");
    {
        std::lock_guard lock(mutex_);
        modelPath_ = fs::path(path);
    }
    setState(ModelState::downloaded);
    log(LogType::info, "Models downloaded to " + path);
}

void ModelManager::prewarmModels() {
    loadOrPrewarm(true);
}

void ModelManager::loadModels() {
    loadOrPrewarm(false);
}

void ModelManager::loadOrPrewarm(bool prewarm) {
    if (modelState() == ModelState::unloaded) downloadModels();
    const std::string path = findModelPath();
    const ModelState done = prewarm ? ModelState::prewarmed : ModelState::loaded;
    if (modelState() == done) {
        log(LogType::debug, prewarm ? "Models already prewarmed, skipping" : "Models already loaded, skipping");
        return;
    }
    // Prewarming specialises downloaded models; loading also takes prewarmed ones.
    auto prewarmable = [](ModelState s) { return s == ModelState::downloaded; };
    auto loadable = [](ModelState s) { return s == ModelState::downloaded || s == ModelState::prewarmed; };
    if (!transition(prewarm ? +prewarmable : +loadable, prewarm ? ModelState::prewarming : ModelState::loading)) {
        throw KorbitCoreError::invalidConfiguration(std::string(prewarm ? "Cannot prewarm" : "Cannot load") +
                                                    " in state: " + std::string(description(modelState())));
    }
    runLoaderStep([&] { loader_->load(path, prewarm); }, prewarm ? "prewarm" : "load");
    setState(done);
    log(LogType::info, prewarm ? "Models prewarmed successfully" : "Models loaded successfully");
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
