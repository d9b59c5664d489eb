#include "Velmora/Support/SettingsStore.hpp"

#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

std::string_view SettingsStore::engineName(Engine engine) {
    switch (engine) {
        case Engine::server:
            return "server";
        case Engine::cloud:
            return "cloud";
        case Engine::local:
            return "local";
    }
    return "local";
}

std::optional<SettingsStore::Engine> SettingsStore::engineNamed(std::string_view name) {
    for (Engine engine : {Engine::server, Engine::cloud, Engine::local})
        if (engineName(engine) == name) return engine;
    return std::nullopt;
}

SettingsStore& SettingsStore::shared() {
    static SettingsStore* store = new SettingsStore(Paths::root() / "config.json");
    return *store;
}

SettingsStore::SettingsStore(fs::path file, QObject* parent) : QObject(parent), file_(std::move(file)) {
    load();
}

void SettingsStore::load() {
    Paths::StoreRead read = Paths::readStoreFile(file_, "не удалось прочитать настройки, файл не будет переписан: ");
    readError_ = std::move(read.error);
    if (!read.bytes) return;
    const std::string& bytes = *read.bytes;
    nlohmann::json object = nlohmann::json::parse(bytes, nullptr, false);
    if (!object.is_object()) {
        unreadableFile_ = true;
        Log::app.error("настройки не читаются, беру значения по умолчанию: " + file_.string());
        return;
    }
    // Each known key falls back to its default alone when its value is missing or of the wrong kind.
    if (auto it = object.find("engine"); it != object.end() && it->is_string()) {
        if (auto engine = engineNamed(it->get<std::string>())) config_.engine = *engine;
    }
    if (auto it = object.find("language"); it != object.end() && it->is_string())
        config_.language = it->get<std::string>();
    stored_ = std::move(object);
}

bool SettingsStore::setEngine(Engine engine) {
    if (config_.engine == engine) return true;
    Config next = config_;
    next.engine = engine;
    // Shown as made only once it is in the file.
    std::optional<std::string> failure = write(next);
    const bool saved = !failure;
    setSaveError(std::move(failure));
    if (!saved) return false;
    config_ = next;
    Q_EMIT configChanged();
    return true;
}

void SettingsStore::setSaveError(std::optional<std::string> error) {
    if (saveError_ == error) return;
    saveError_ = std::move(error);
    Q_EMIT saveErrorChanged();
}

std::optional<std::string> SettingsStore::write(const Config& config) {
    // A file that did not open may hold every setting: it is never written over.
    if (readError_) {
        Log::app.error("настройки не прочитаны при запуске, файл не переписываю: " + file_.string());
        return "файл не прочитан при запуске (" + *readError_ + ")";
    }
    nlohmann::json stored = stored_;
    stored["engine"] = engineName(config.engine);
    stored["language"] = config.language;
    try {
        Paths::makeFolder(file_.parent_path());
        if (unreadableFile_) {
            if (const auto aside = Paths::moveAside(file_))
                Log::app.error("нечитаемые настройки сохранены как " + aside->filename().string());
            unreadableFile_ = false;
        }
        Paths::writeFile(file_, stored.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить настройки: ") + error.what());
        return std::string(error.what());
    }
    stored_ = std::move(stored);
    return std::nullopt;
}

}  // namespace velmora
