#pragma once

// A speech-model repository laid out as the loopback hub serves it (<root>/models/<owner>/<name>):
// model folders of three bundles each, the per-device support file "config.json", and the
// speech tokenizer's repository.

#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TinyModel.hpp"

#include <filesystem>
#include <string>

namespace velmora::test {

class FakeModelRepository {
public:
    static constexpr const char* kRepo = "korbitinc/tremolan-coreml";
    /// The device identifier the support files below name (set TREMOLAN_DEVICE_IDENTIFIER to it).
    static constexpr const char* kDevice = "Velmora1,1";

    explicit FakeModelRepository(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path repoFolder(const std::string& repo = kRepo) const { return root_ / "models" / repo; }

    /// The trained test model's three bundles as the folder `name`.
    void addTestModel(const std::string& name, const std::string& repo = kRepo) const {
        std::filesystem::create_directories(repoFolder(repo) / name);
        std::filesystem::copy(dataPath("models/test-speech"), repoFolder(repo) / name,
                              std::filesystem::copy_options::recursive);
    }
    /// Random bundles of a standard size cut down to a few kilobytes.
    void addRandomModel(const std::string& name, const std::string& size = "tiny",
                        const std::string& repo = kRepo) const {
        platform::ml::makeRandomModelFolder(repoFolder(repo) / name, tinyHyperparameters(size), 11);
    }
    /// Three small files where only the listing matters.
    void addPlaceholderModel(const std::string& name, const std::string& repo = kRepo) const {
        for (const char* bundle : {"MelSpectrogram", "AudioEncoder", "TextDecoder"})
            writeFile(repoFolder(repo) / name / (std::string(bundle) + ".mlmodelc") / "model.json", "{}");
    }
    void writeSupportConfig(const std::string& json, const std::string& name = "config.json",
                            const std::string& repo = kRepo) const {
        writeFile(repoFolder(repo) / name, json);
    }
    /// A support file whose entry for kDevice supports `supported` and recommends `defaultModel`.
    void writeSupportConfigFor(const std::string& defaultModel, const std::vector<std::string>& supported) const {
        std::string list;
        for (const auto& name : supported) list += (list.empty() ? "\"" : ", \"") + name + "\"";
        writeSupportConfig(R"({"repoName": "tremolan-coreml-test", "repoVersion": "1.0", "deviceSupports": [
            {"identifiers": [")" +
                           std::string(kDevice) + R"("], "models": {"default": ")" + defaultModel +
                           R"(", "supported": [)" + list + "]}}]}");
    }
    /// The multilingual speech tokenizer as the hub repository "openai/whisper-<variant>".
    void addTokenizer(const std::string& variant = "base") const {
        const auto folder = root_ / "models" / "openai" / ("whisper-" + variant);
        std::filesystem::create_directories(folder);
        for (const char* file : {"tokenizer.json", "tokenizer_config.json"})
            std::filesystem::copy_file(dataPath("whisper-tokenizer/multilingual") / file, folder / file);
    }

private:
    std::filesystem::path root_;
};

}  // namespace velmora::test
