#pragma once

// Gathers the files a tokenizer is built from (config.json, tokenizer_config.json, tokenizer.json
// and a chat template), fetched from a model repository of the hub into the local cache or read
// from a folder on disk. The work starts on a background thread when the object is made and runs
// once; every reader waits for the same result or the same error. Releasing the object never
// waits for the work, which then finishes on its own.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korbit {

class LanguageModelConfigurationFromHub {
public:
    struct Configurations {
        std::optional<Config> modelConfig;      // config.json
        std::optional<Config> tokenizerConfig;  // tokenizer_config.json with the chat template merged in
        Config tokenizerData;                   // tokenizer.json
    };

    /// The file names of a tokenizer, in the order they are fetched.
    static const std::vector<std::string>& tokenizerFilePatterns();

    /// Starts fetching the repository's tokenizer files at the revision, then reading them.
    LanguageModelConfigurationFromHub(std::string modelName, std::string revision, HubApiWrapper hubApi);
    /// Starts reading the folder's files.
    LanguageModelConfigurationFromHub(std::filesystem::path modelFolder, const HubApiWrapper& hubApi);
    /// Starts reading the folder's files, without a hub client.
    explicit LanguageModelConfigurationFromHub(std::filesystem::path modelFolder);

    /// Reads the folder's files now. Throws Hub::HubClientError: configurationMissing without
    /// tokenizer.json, the reader's jsonSerialization / parse errors, fileSystemError for any
    /// other failure to read one of the three JSON files.
    static Configurations loadConfig(const std::filesystem::path& modelFolder, const HubApi& hubApi);
    static Configurations loadConfig(const std::filesystem::path& modelFolder);

    /// The loaded record; waits for the work and throws its error.
    const Configurations& configurations() const;
    /// The tokenizer configuration; without a string "tokenizer_class" but with a model type in
    /// config.json, one holding "tokenizer_class" = capitalised model type + "Tokenizer".
    std::optional<Config> tokenizerConfig() const;
    /// config.json's "model_type" when it is a string.
    std::optional<std::string> modelType() const;

private:
    struct State;
    std::shared_ptr<State> state_;

    void start(std::function<Configurations()> work);
};

}  // namespace korbit
