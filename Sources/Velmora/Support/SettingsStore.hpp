#pragma once

// The user's settings in "config.json" in the data folder: the engine and the language so far.
// Keys that this version does not know are kept and written back unchanged. Lives on the main thread.

#include <QObject>

#ifndef Q_MOC_RUN  // moc of Qt 6.4 cannot read the C++20 library's concepts (<compare>)
#include <nlohmann/json.hpp>
#endif

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class SettingsStore : public QObject {
    Q_OBJECT

public:
    enum class Engine { server, cloud, local };

    struct Config {
        Engine engine = Engine::local;
        /// The language code handed to the engines; "" lets them detect it.
        std::string language = "ru";
        bool operator==(const Config&) const = default;
    };

    /// "server", "cloud", "local".
    static std::string_view engineName(Engine engine);
    static std::optional<Engine> engineNamed(std::string_view name);

    /// The one store of the process over the data folder's "config.json", loaded on first use.
    static SettingsStore& shared();

    /// Reads the file; a missing or unreadable file gives the defaults and is not written by reading.
    /// A file whose content cannot be read is moved aside at the first write; a file that cannot
    /// be opened at all (permissions, an I/O error) is never written: changes are refused.
    explicit SettingsStore(std::filesystem::path file, QObject* parent = nullptr);

    /// Why the file could not be opened at the load; absent when it was read or was not there.
    const std::optional<std::string>& readError() const { return readError_; }

    const Config& config() const { return config_; }
    const std::filesystem::path& file() const { return file_; }

    /// Why the last change could not be saved; absent once one was (or none failed).
    const std::optional<std::string>& saveError() const { return saveError_; }

    /// Sets the engine and writes the file. A change that cannot be saved is not made: false,
    /// the settings stay as the file holds them, and saveError says why.
    bool setEngine(Engine engine);

Q_SIGNALS:
    void configChanged();
    void saveErrorChanged();

private:
    void load();
    /// Writes the file with these settings; why it could not (also logged), or nothing.
    std::optional<std::string> write(const Config& config);
    void setSaveError(std::optional<std::string> error);

    std::filesystem::path file_;
    Config config_;
    nlohmann::json stored_ = nlohmann::json::object();
    // A file that exists but cannot be read is moved aside before the first write replaces it.
    bool unreadableFile_ = false;
    std::optional<std::string> readError_;
    std::optional<std::string> saveError_;
};

}  // namespace velmora
