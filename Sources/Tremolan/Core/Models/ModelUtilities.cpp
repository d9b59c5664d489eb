#include "Tremolan/Core/Models/ModelUtilities.hpp"

#include "KorbitCore/Extensions/StringExtensions.hpp"
#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/Safetensors.hpp"
#include "Platform/Net/Url.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

namespace tremolan {
namespace {

using korbit::Logging;
namespace fs = std::filesystem;

/// The variant a size step k (encoder width 384 + 128 k) names in one vocabulary family.
ModelVariant variantForStep(std::optional<int> step, bool englishOnly) {
    switch (step.value_or(-1)) {
        case 0:
            return englishOnly ? ModelVariant::tinyEn : ModelVariant::tiny;
        case 1:
            return englishOnly ? ModelVariant::baseEn : ModelVariant::base;
        case 3:
            return englishOnly ? ModelVariant::smallEn : ModelVariant::small;
        case 5:
            return englishOnly ? ModelVariant::mediumEn : ModelVariant::medium;
        case 7:
            return englishOnly ? ModelVariant::baseEn : ModelVariant::largev2;
        default:
            return englishOnly ? ModelVariant::baseEn : ModelVariant::base;
    }
}

/// A bundle's description file and what it says.
struct Bundle {
    fs::path description;
    platform::ml::BundleManifest manifest;
};

/// The folder's bundle `name` as its description declares it; absent when that does not read.
std::optional<Bundle> bundleOf(const fs::path& folder, const char* name) {
    const fs::path description =
        platform::ml::bundleDescriptionFile(korbit::ModelUtilities::detectModelURL(folder, name));
    try {
        return Bundle{description,
                      platform::ml::BundleManifest::parse(nlohmann::json::parse(korbit::readCacheFile(description)),
                                                          description.string())};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

/// The first variant description, in case order, that the name contains.
std::optional<std::size_t> sizeKey(const std::string& name) {
    for (std::size_t i = 0; i < allModelVariants.size(); ++i) {
        if (name.find(description(allModelVariants[i])) != std::string::npos) return i;
    }
    return std::nullopt;
}

}  // namespace

ModelVariant ModelUtilities::detectVariant(int logitsDim, int encoderDim) {
    std::optional<int> step;
    const int offset = encoderDim - 384;
    if (offset >= 0 && offset % 128 == 0) step = offset / 128;
    switch (logitsDim) {
        case 51864:
            return variantForStep(step, true);
        case 51865:
            return variantForStep(step, false);
        case 51866:
            return ModelVariant::largev3;
        default:
            Logging::error("Unrecognized vocabulary size: " + std::to_string(logitsDim) +
                           ", defaulting to base variant");
            return ModelVariant::base;
    }
}

std::string ModelUtilities::tokenizerNameForVariant(ModelVariant variant) {
    return "openai/whisper-" + std::string(description(variant));
}

std::shared_ptr<WhisperTokenizer> ModelUtilities::loadTokenizer(ModelVariant variant,
                                                                const std::optional<fs::path>& tokenizerFolder,
                                                                const std::vector<fs::path>& additionalSearchPaths,
                                                                bool useBackgroundSession) {
    const std::string name = tokenizerNameForVariant(variant);
    const korbit::HubApiWrapper hub(tokenizerFolder, std::nullopt, std::nullopt, useBackgroundSession);
    const korbit::HubApiWrapper::Repo repo(name, korbit::RepoType::models);
    const fs::path hubFolder = hub.localRepoLocation(repo);

    std::vector<fs::path> searchPaths = {hubFolder};
    if (tokenizerFolder) searchPaths.push_back(*tokenizerFolder);
    searchPaths.insert(searchPaths.end(), additionalSearchPaths.begin(), additionalSearchPaths.end());

    std::optional<fs::path> localFolder;
    // Why the tokenizer on disk did not serve, for the error when the hub cannot stand in.
    std::string unreadable;
    for (const fs::path& folder : searchPaths) {
        const fs::path file = folder / "tokenizer.json";
        std::error_code error;
        const bool found = fs::exists(file, error);
        Logging::debug("Checking for local tokenizer at " + file.string() + " - " + (found ? "found" : "not found"));
        if (found) {
            localFolder = folder;
            Logging::debug("Found local tokenizer at " + folder.string());
            break;
        }
    }
    if (!localFolder) Logging::debug("No tokenizer found in any local search paths");

    if (localFolder) {
        Logging::debug("Loading tokenizer from " + localFolder->string());
        try {
            return std::make_shared<WhisperTokenizerWrapper>(
                korbit::AutoTokenizerWrapper::fromModelFolder(*localFolder, true), *localFolder);
        } catch (const std::exception& error) {
            Logging::debug(std::string("Error loading local tokenizer: ") + error.what());
            unreadable =
                "; the tokenizer " + name + " in " + localFolder->string() + " cannot be read (" + error.what() + ")";
        }
    }

    Logging::debug("Downloading tokenizer from Hub at " + platform::net::Url::fileUrl(hubFolder));
    try {
        return std::make_shared<WhisperTokenizerWrapper>(korbit::AutoTokenizerWrapper::fromPretrained(name, hub, true),
                                                         hubFolder);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (!korbit::Hub::isUnreachable(failure)) throw;
        if (!unreadable.empty())
            throw korbit::Hub::HubClientError::hubUnreachable(hub.impl.endpoint, failure, unreadable);
        throwTokenizerUnreachable(name, hubFolder, hub.impl.endpoint, failure);
    }
}

void ModelUtilities::throwTokenizerUnreachable(const std::string& name, const fs::path& place,
                                               const std::string& endpoint, std::exception_ptr cause) {
    throw korbit::Hub::HubClientError::hubUnreachable(
        endpoint, cause, "; the tokenizer " + name + " of this model is not on this computer (" + place.string() + ")");
}

fs::path ModelUtilities::tokenizerPlace(ModelVariant variant, const std::optional<fs::path>& downloadBase) {
    return korbit::HubApiWrapper(downloadBase)
        .localRepoLocation(korbit::HubApiWrapper::Repo(tokenizerNameForVariant(variant), korbit::RepoType::models));
}

bool ModelUtilities::hasTokenizerFiles(const fs::path& folder) {
    std::error_code error;
    const fs::path file = folder / "tokenizer.json";
    return fs::is_regular_file(file, error) && fs::file_size(file, error) > 0 && !error;
}

std::optional<ModelVariant> ModelUtilities::variantOfModelFolder(const fs::path& folder) {
    const auto decoder = bundleOf(folder, platform::ml::kDecoderModelName);
    const auto encoder = bundleOf(folder, platform::ml::kEncoderModelName);
    if (!decoder || !encoder) return std::nullopt;
    const auto logitsDim = korbit::ModelUtilities::getOutputDimension(
        platform::ml::MLModelDescription(decoder->manifest.inputs, decoder->manifest.outputs), "logits", 2);
    const auto encoderDim = korbit::ModelUtilities::getOutputDimension(
        platform::ml::MLModelDescription(encoder->manifest.inputs, encoder->manifest.outputs), "encoder_output_embeds",
        1);
    if (!logitsDim || !encoderDim) return std::nullopt;
    return detectVariant(*logitsDim, *encoderDim);
}

std::shared_ptr<WhisperTokenizer> ModelUtilities::loadTokenizerFolder(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_regular_file(folder / "tokenizer.json", error))
        throw WhisperError::tokenizerUnavailable("no tokenizer.json in " + folder.string());
    try {
        return std::make_shared<WhisperTokenizerWrapper>(korbit::AutoTokenizerWrapper::fromModelFolder(folder, true),
                                                         folder);
    } catch (const std::exception& e) {
        throw WhisperError::tokenizerUnavailable("the tokenizer in " + folder.string() +
                                                 " cannot be read: " + e.what());
    }
}

int ModelUtilities::vocabularySize(const WhisperTokenizer& tokenizer) {
    return korbit::countOfIds([&](int id) { return tokenizer.convertIdToToken(id).has_value(); });
}

void ModelUtilities::checkTokenizerFitsModel(const WhisperTokenizer& tokenizer, int modelVocabulary,
                                             const fs::path& modelFolder) {
    const int known = vocabularySize(tokenizer);
    if (known == modelVocabulary) return;
    std::string which = "the tokenizer";
    if (const auto* wrapper = dynamic_cast<const WhisperTokenizerWrapper*>(&tokenizer);
        wrapper && wrapper->tokenizerFolder()) {
        which += " in " + wrapper->tokenizerFolder()->string();
    }
    throw WhisperError::tokenizerUnavailable(which + " does not match the model in " + modelFolder.string() +
                                             ": the model has a vocabulary of " + std::to_string(modelVocabulary) +
                                             " tokens, the tokenizer " + std::to_string(known));
}

bool ModelUtilities::isCompleteModelFolder(const fs::path& folder) {
    for (const char* name :
         {platform::ml::kMelModelName, platform::ml::kEncoderModelName, platform::ml::kDecoderModelName}) {
        const auto bundle = bundleOf(folder, name);
        if (!bundle) return false;
        const fs::path weights = bundle->description.parent_path() / bundle->manifest.weights;
        std::error_code error;
        if (!fs::is_regular_file(weights, error)) return false;
        try {
            // Reading the header checks that every tensor it names lies within the file.
            const platform::ml::SafetensorsFile whole(weights);
        } catch (const std::exception&) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> ModelUtilities::formatModelFiles(const std::vector<std::string>& modelFiles) {
    std::vector<std::string> matches;
    for (ModelVariant variant : allModelVariants) {
        std::string word(description(variant));
        if (word.find("large") == std::string::npos) word += "/";
        matches.push_back(std::move(word));
    }

    std::set<std::string> folders;
    for (const std::string& path : modelFiles) {
        const std::string folder = path.substr(0, path.find('/')) + "/";
        const bool isModel = std::any_of(matches.begin(), matches.end(), [&](const std::string& match) {
            return folder.find(match) != std::string::npos;
        });
        if (isModel) folders.insert(korbit::trimmingFromEnd(folder, "/", 1));
    }

    std::vector<std::string> names(folders.begin(), folders.end());
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const auto keyA = sizeKey(a);
        const auto keyB = sizeKey(b);
        if (keyA == keyB) return a < b;
        if (!keyA) return false;
        if (!keyB) return true;
        return *keyA < *keyB;
    });
    return names;
}

ModelSupport ModelUtilities::modelSupport(const std::string& deviceName,
                                          const std::optional<ModelSupportConfig>& config) {
    return (config ? *config : Constants::fallbackModelSupportConfig()).modelSupport(deviceName);
}

}  // namespace tremolan
