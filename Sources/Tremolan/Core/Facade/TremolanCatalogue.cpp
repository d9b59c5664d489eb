// The facade's catalogue: which models suit this device, which folders a model repository
// offers, and the download of one model folder into the local hub cache.

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <fstream>
#include <iterator>
#include <set>

namespace tremolan {
namespace {

using korbit::Logging;
namespace fs = std::filesystem;

constexpr const char* kRevision = "main";

/// How messages show a repository: its id and its kind.
std::string repoText(const korbit::Repo& repo) {
    return "Repo(id: \"" + repo.id + "\", type: " + korbit::rawValue(repo.type) + ")";
}

/// How the download's debug lines show a progress report.
std::string progressText(const platform::sys::Progress& progress) {
    return "Progress: " + std::to_string(progress.completedUnitCount()) + " of " +
           std::to_string(progress.totalUnitCount()) + " units (" +
           korbit::fixedDecimal(progress.fractionCompleted() * 100, 1) + "%)";
}

/// A list of names as "[\"a\", \"b\"]".
std::string quotedList(const std::vector<std::string>& names) {
    std::string text = "[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += ", ";
        text += "\"" + names[i] + "\"";
    }
    return text + "]";
}

/// The one complete model folder in the repository's local copy whose name matches the patterns
/// of the download ("*<variant>", and when that is not one folder "*openai*<variant>").
std::optional<fs::path> localModelFolder(const fs::path& repoFolder, const std::string& variant) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(repoFolder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (it->is_directory(kindError)) names.push_back(it->path().filename().string());
    }
    for (const std::string& pattern : {"*" + variant, "*openai*" + variant}) {
        const std::vector<std::string> found = korbit::matching(names, pattern);
        if (found.size() != 1) continue;
        const fs::path folder = repoFolder / found.front();
        if (ModelUtilities::isCompleteModelFolder(folder)) return folder;
        return std::nullopt;
    }
    return std::nullopt;
}

/// The description a debug line gives an error; a WhisperError's reading is logged as usual.
std::string localizedDescription(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const WhisperError& whisperError) {
        return whisperError.errorDescription();
    } catch (...) {
        return korbit::Hub::describe(error);
    }
}

/// A model folder and, when the copy on disk served because the hub could not serve it, why, as
/// the hub's failure and as the warning tells it.
struct FetchedFolder {
    fs::path folder;
    std::exception_ptr hubFailure;
    std::string fromDiskBecause;
};

/// Says, once all the download needed is there, that copies on disk served and why.
void tellFromDisk(const std::string& reason, const Tremolan::LocalCopyCallback& usingLocalCopy) {
    if (reason.empty()) return;
    Logging::info(reason);
    if (usingLocalCopy) usingLocalCopy(reason);
}

/// Why a failure of the hub lets what is on disk serve, as the warning tells it; absent when it
/// does not (the hub answered, and its answer was "no").
std::optional<std::string> hubFailureText(std::exception_ptr failure, const std::string& endpoint) {
    const std::string cause = " (" + korbit::Hub::describe(failure) + ")";
    if (korbit::Hub::isUnreachable(failure)) return "The model hub at " + endpoint + " could not be reached" + cause;
    if (korbit::Hub::isUnintelligible(failure))
        return "The model hub at " + endpoint + " answered what is no hub's answer" + cause;
    return std::nullopt;
}

FetchedFolder fetchModelFolder(const korbit::HubApiWrapper& hub, const std::string& variant, const std::string& repo,
                               const std::string& endpoint, const Tremolan::DownloadProgressCallback& progressCallback,
                               std::stop_token stop) {
    const korbit::HubApiWrapper::Repo repoValue(repo, korbit::RepoType::models);
    const std::string repoName = repoText(repoValue);
    // The model folders (first path components) of the files the pattern lists.
    auto searchFolders = [&](const std::string& pattern) {
        Logging::debug("Searching for models matching \"" + pattern + "\" in " + repoName);
        std::set<std::string> folders;
        for (const std::string& name : hub.getFilenames(repoValue, kRevision, {pattern}, stop))
            folders.insert(name.substr(0, name.find('/')));
        return folders;
    };
    try {
        std::string pattern = "*" + variant + "/*";
        std::set<std::string> folders = searchFolders(pattern);
        if (folders.size() != 1) {
            if (folders.size() > 1) Logging::debug("Multiple models found matching \"" + pattern + "\"");
            pattern = "*openai*" + variant + "/*";
            folders = searchFolders(pattern);
            if (folders.size() != 1) {
                throw WhisperError::modelsUnavailable(std::string(folders.empty() ? "No" : "Multiple") +
                                                      " models found matching \"" + pattern + "\" in " + repoName);
            }
        }
        const std::string folder = *folders.begin();
        Logging::debug("Downloading model " + folder + "...");
        const fs::path local = hub.snapshot(
            repoValue, kRevision, {pattern},
            [&](platform::sys::Progress& progress) {
                Logging::debug(progressText(progress));
                if (progressCallback) progressCallback(progress);
            },
            stop);
        return {local / folder, nullptr, {}};
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (stop.stop_requested()) throw korbit::CancellationError();
        Logging::debug(localizedDescription(failure));
        const std::optional<std::string> cause = hubFailureText(failure, endpoint);
        if (!cause) throw;
        // Without the hub, a whole copy already on disk is the model: a laptop on a train still works.
        const fs::path repoFolder = hub.localRepoLocation(repoValue);
        const std::optional<fs::path> copy = localModelFolder(repoFolder, variant);
        if (!copy) {
            // A hub that answered, however oddly, is no unreachable hub: its own error stands.
            if (!korbit::Hub::isUnreachable(failure)) throw;
            throw korbit::Hub::HubClientError::hubUnreachable(
                endpoint, failure, "; no complete copy of \"" + variant + "\" is in " + repoFolder.string());
        }
        return {*copy, failure, *cause + "; using the copy on disk in " + copy->string()};
    }
}

/// Brings the tokenizer that the models of `folder` call for into its place under the hub's download
/// base. When the hub could not serve the model (`hubFailure`) it is not asked again: the tokenizer
/// in its place must do, as it must when the hub fails now. Answers why the one on disk serves,
/// when it does for a failure of its own.
std::string fetchTokenizer(const korbit::HubApiWrapper& hub, const fs::path& folder, const std::string& endpoint,
                           std::exception_ptr hubFailure, std::stop_token stop) {
    const std::optional<ModelVariant> variant = ModelUtilities::variantOfModelFolder(folder);
    if (!variant)
        throw WhisperError::tokenizerUnavailable("the models in " + folder.string() + " do not say their size");
    const korbit::HubApiWrapper::Repo repo(ModelUtilities::tokenizerNameForVariant(*variant), korbit::RepoType::models);
    const fs::path place = hub.localRepoLocation(repo);
    std::exception_ptr failure = hubFailure;
    if (!failure) {
        try {
            Logging::debug("Downloading tokenizer " + repo.id + "...");
            hub.snapshot(repo, kRevision, korbit::LanguageModelConfigurationFromHub::tokenizerFilePatterns(), nullptr,
                         stop);
            if (!ModelUtilities::hasTokenizerFiles(place))
                throw korbit::Hub::HubClientError::configurationMissing("tokenizer.json (none in " + repo.id + ")");
            return {};
        } catch (...) {
            failure = std::current_exception();
            if (stop.stop_requested()) throw korbit::CancellationError();
            if (!hubFailureText(failure, endpoint)) throw;
        }
    }
    if (!ModelUtilities::hasTokenizerFiles(place)) {
        if (!korbit::Hub::isUnreachable(failure)) std::rethrow_exception(failure);
        ModelUtilities::throwTokenizerUnreachable(repo.id, place, endpoint, failure);
    }
    // A model from disk says why already.
    if (hubFailure) return {};
    return *hubFailureText(failure, endpoint) + "; using the tokenizer on disk in " + place.string();
}

}  // namespace

ModelSupport Tremolan::recommendedModels() {
    const std::string device = deviceName();
    Logging::debug("Running on " + device);
    return Constants::fallbackModelSupportConfig().modelSupport(device);
}

ModelSupport Tremolan::recommendedRemoteModels(const std::string& repo, const std::optional<fs::path>& downloadBase,
                                               const std::optional<std::string>& token,
                                               const std::string& remoteConfigName, const std::string& endpoint) {
    return fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint).modelSupport(deviceName());
}

ModelSupportConfig Tremolan::fetchModelSupportConfig(const std::string& repo,
                                                     const std::optional<fs::path>& downloadBase,
                                                     const std::optional<std::string>& token,
                                                     const std::string& remoteConfigName, const std::string& endpoint) {
    return fetchModelSupport(repo, downloadBase, token, remoteConfigName, endpoint).config;
}

Tremolan::ModelSupportFetch Tremolan::fetchModelSupport(const std::string& repo,
                                                        const std::optional<fs::path>& downloadBase,
                                                        const std::optional<std::string>& token,
                                                        const std::string& remoteConfigName,
                                                        const std::string& endpoint) {
    try {
        const korbit::HubApiWrapper hub(downloadBase, token, endpoint, false);
        const korbit::HubApiWrapper::Repo repoValue(repo, korbit::RepoType::models);
        Logging::debug("Searching for config file matching \"" + remoteConfigName + "\" in " + repo);
        const std::vector<std::string> names = hub.getFilenames(repoValue, kRevision, {remoteConfigName});
        if (names.empty()) {
            Logging::info("No config files found matching \"" + remoteConfigName + "\" in " + repo +
                          ", using fallback");
            return {Constants::fallbackModelSupportConfig(),
                    "no file matching \"" + remoteConfigName + "\" in " + repo};
        }
        if (names.size() > 1) {
            Logging::info("Multiple config files found (" + std::to_string(names.size()) + "): " + quotedList(names) +
                          ". Using first matching file: " + names.front());
        }
        const fs::path folder = hub.snapshot(repoValue, kRevision, {names.front()});
        std::ifstream file(folder / names.front(), std::ios::binary);
        if (!file) throw std::runtime_error("Cannot read " + (folder / names.front()).string());
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return {ModelSupportConfig::fromJSON(json::parse(text)), std::nullopt};
    } catch (...) {
        const std::string reason = korbit::Hub::describe(std::current_exception());
        Logging::error("Fetch model support config failed with error: " + reason);
        return {Constants::fallbackModelSupportConfig(), reason};
    }
}

std::vector<std::string> Tremolan::availableModels(const ModelSupportConfig& config,
                                                   const std::vector<std::string>& matching) {
    const std::vector<std::string> supported = config.modelSupport(deviceName()).supported;
    std::set<std::string> kept;
    for (const std::string& pattern : matching) {
        for (std::string& name : korbit::matching(supported, pattern)) kept.insert(std::move(name));
    }
    return ModelUtilities::formatModelFiles(std::vector<std::string>(kept.begin(), kept.end()));
}

std::vector<std::string> Tremolan::fetchAvailableModels(
    const std::string& repo, const std::vector<std::string>& matching, const std::optional<fs::path>& downloadBase,
    const std::optional<std::string>& token, const std::string& remoteConfigName, const std::string& endpoint) {
    return availableModels(fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint), matching);
}

fs::path Tremolan::download(const std::string& variant, const std::optional<fs::path>& downloadBase,
                            bool useBackgroundSession, const std::string& repo, const std::optional<std::string>& token,
                            const std::string& endpoint, const DownloadProgressCallback& progressCallback,
                            std::stop_token stop, const LocalCopyCallback& usingLocalCopy) {
    const korbit::HubApiWrapper hub(downloadBase, token, endpoint, useBackgroundSession);
    const FetchedFolder fetched = fetchModelFolder(hub, variant, repo, endpoint, progressCallback, stop);
    tellFromDisk(fetched.fromDiskBecause, usingLocalCopy);
    return fetched.folder;
}

fs::path Tremolan::downloadWithTokenizer(const std::string& variant, const std::optional<fs::path>& downloadBase,
                                         bool useBackgroundSession, const std::string& repo,
                                         const std::optional<std::string>& token, const std::string& endpoint,
                                         const DownloadProgressCallback& progressCallback, std::stop_token stop,
                                         const LocalCopyCallback& usingLocalCopy) {
    const korbit::HubApiWrapper hub(downloadBase, token, endpoint, useBackgroundSession);
    const FetchedFolder fetched = fetchModelFolder(hub, variant, repo, endpoint, progressCallback, stop);
    const std::string tokenizerFromDisk = fetchTokenizer(hub, fetched.folder, endpoint, fetched.hubFailure, stop);
    tellFromDisk(fetched.fromDiskBecause, usingLocalCopy);
    tellFromDisk(tokenizerFromDisk, usingLocalCopy);
    return fetched.folder;
}

bool Tremolan::isDownloaded(const fs::path& modelFolder, const std::optional<fs::path>& downloadBase) {
    if (!ModelUtilities::isCompleteModelFolder(modelFolder)) return false;
    const std::optional<ModelVariant> variant = ModelUtilities::variantOfModelFolder(modelFolder);
    return variant && ModelUtilities::hasTokenizerFiles(ModelUtilities::tokenizerPlace(*variant, downloadBase));
}

}  // namespace tremolan
