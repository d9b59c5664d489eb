#pragma once

// Gathers the files a tokenizer is built from (config.json, tokenizer_config.json, tokenizer.json
// and a chat template) from a folder on disk. The work starts on a background thread when the
// object is made and runs once; every reader waits for the same result or the same error.
// Releasing the object never waits for the work, which then finishes on its own.

#include "KorbitCore/External/Hub/Config.hpp"

#include <exception>
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

    /// Reads one JSON file into a Config.
    using ConfigurationReader = std::function<Config(const std::filesystem::path&)>;

    /// The file names of a tokenizer, in the order they are fetched.
    static const std::vector<std::string>& tokenizerFilePatterns();

    /// Starts loading the folder's files.
    explicit LanguageModelConfigurationFromHub(std::filesystem::path modelFolder);

    /// Reads the folder's files now (see the class comment for what each becomes). Throws when
    /// tokenizer.json is missing or one of the three JSON files cannot be read.
    static Configurations loadConfig(const std::filesystem::path& modelFolder, const ConfigurationReader& read);
    /// A JSON file read the way the hub client reads configuration files.
    static Config readConfiguration(const std::filesystem::path& file);

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
