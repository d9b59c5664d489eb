#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"

#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "Platform/Net/TransportError.hpp"
#include "Platform/Text/Unicode.hpp"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace korbit {

struct LanguageModelConfigurationFromHub::State {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::optional<Configurations> result;
    std::exception_ptr error;
};

namespace {

namespace fs = std::filesystem;

bool pathExists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

/// The whole file as text, or nothing when it cannot be read or is not UTF-8.
std::optional<std::string> readUtf8(const fs::path& path) {
    std::string bytes;
    try {
        bytes = readCacheFile(path);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (!platform::text::isValidUtf8(bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

const std::vector<std::string>& LanguageModelConfigurationFromHub::tokenizerFilePatterns() {
    static const std::vector<std::string> names{"config.json", "tokenizer_config.json", "chat_template.jinja",
                                                "chat_template.json", "tokenizer.json"};
    return names;
}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::string modelName, std::string revision,
                                                                     HubApiWrapper hubApi) {
    start([name = std::move(modelName), revision = std::move(revision), hub = std::move(hubApi)] {
        try {
            const fs::path folder = hub.snapshot(HubApiWrapper::Repo{name}, revision, tokenizerFilePatterns());
            return loadConfig(folder, hub.impl);
        } catch (const platform::net::TransportError&) {
            // No transport failure here stands for an unavailable resource, so each one is a
            // network error.
            throw Hub::HubClientError::networkError(std::current_exception());
        }
    });
}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::filesystem::path modelFolder,
                                                                     const HubApiWrapper&)
    : LanguageModelConfigurationFromHub(std::move(modelFolder)) {}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::filesystem::path modelFolder) {
    start([folder = std::move(modelFolder)] {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) {
            throw Hub::HubClientError::configurationMissing("tokenizer.json (there is no folder " + folder.string() +
                                                            ")");
        }
        try {
            return loadConfig(folder);
        } catch (const Hub::HubClientError& error) {
            // The hub's hint about HF_TOKEN would mislead about a file of a local folder.
            if (error.kind() != Hub::HubClientError::Kind::jsonSerialization) throw;
            throw Hub::HubClientError::jsonSerialization(
                error.fileURL(), "JSON Serialization failed for " + error.fileURL() + ": the file is not valid JSON.");
        }
    });
}

void LanguageModelConfigurationFromHub::start(std::function<Configurations()> work) {
    state_ = std::make_shared<State>();
    // The thread shares the state, so the object may go away while the work still runs.
    std::thread([state = state_, work = std::move(work)] {
        std::optional<Configurations> result;
        std::exception_ptr error;
        try {
            result = work();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard guard(state->lock);
            state->result = std::move(result);
            state->error = error;
            state->done = true;
        }
        state->finished.notify_all();
    }).detach();
}

const LanguageModelConfigurationFromHub::Configurations& LanguageModelConfigurationFromHub::configurations() const {
    std::unique_lock guard(state_->lock);
    state_->finished.wait(guard, [&] { return state_->done; });
    if (state_->error) std::rethrow_exception(state_->error);
    return *state_->result;
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::loadConfig(
    const std::filesystem::path& modelFolder, const HubApi&) {
    return loadConfig(modelFolder);
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::loadConfig(
    const std::filesystem::path& modelFolder) {
    auto readRequired = [](const fs::path& path) {
        try {
            return HubApi::configuration(path);
        } catch (const Hub::HubClientError&) {
            throw;
        } catch (...) {
            throw Hub::HubClientError::fileSystemError(std::current_exception());
        }
    };

    Configurations configurations;
    const fs::path modelConfigPath = modelFolder / "config.json";
    if (pathExists(modelConfigPath)) configurations.modelConfig = readRequired(modelConfigPath);

    const fs::path dataPath = modelFolder / "tokenizer.json";
    if (!pathExists(dataPath)) throw Hub::HubClientError::configurationMissing("tokenizer.json");
    configurations.tokenizerData = readRequired(dataPath);

    const fs::path tokenizerConfigPath = modelFolder / "tokenizer_config.json";
    if (pathExists(tokenizerConfigPath)) configurations.tokenizerConfig = readRequired(tokenizerConfigPath);

    // The chat template: the .jinja file wins, even when it cannot be read.
    std::optional<std::string> chatTemplate;
    const fs::path jinjaPath = modelFolder / "chat_template.jinja";
    const fs::path templateJsonPath = modelFolder / "chat_template.json";
    if (pathExists(jinjaPath)) {
        chatTemplate = readUtf8(jinjaPath);
    } else if (pathExists(templateJsonPath)) {
        try {
            chatTemplate = HubApi::configuration(templateJsonPath)["chatTemplate"].string();
        } catch (const std::exception&) {
            chatTemplate.reset();
        }
    }
    if (chatTemplate) {
        Config::Dictionary entries;
        if (configurations.tokenizerConfig) {
            if (const Config::Dictionary* existing = configurations.tokenizerConfig->dictionary()) entries = *existing;
        }
        entries.insert_or_assign(BinaryDistinctString("chat_template"), Config(*chatTemplate));
        configurations.tokenizerConfig = Config(std::move(entries));
    }
    return configurations;
}

std::optional<std::string> LanguageModelConfigurationFromHub::modelType() const {
    const Configurations& loaded = configurations();
    if (!loaded.modelConfig) return std::nullopt;
    return (*loaded.modelConfig)["modelType"].string();
}

std::optional<Config> LanguageModelConfigurationFromHub::tokenizerConfig() const {
    const Configurations& loaded = configurations();
    if (!loaded.tokenizerConfig) return std::nullopt;
    if (std::optional<Config> className = loaded.tokenizerConfig->member("tokenizerClass");
        className && className->string()) {
        return loaded.tokenizerConfig;
    }
    std::optional<std::string> type = modelType();
    if (!type) return loaded.tokenizerConfig;
    Config::Dictionary entries;
    if (const Config::Dictionary* existing = loaded.tokenizerConfig->dictionary()) entries = *existing;
    entries.insert_or_assign(BinaryDistinctString("tokenizer_class"),
                             Config(platform::text::toTitle(*type) + "Tokenizer"));
    return Config(std::move(entries));
}

}  // namespace korbit
