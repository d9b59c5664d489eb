#pragma once

// ModelDownloader: finds a model in a local model folder or the hub cache, or fetches it from
// one model repository of the hub.
//
//     korbit::ModelDownloader downloader({std::nullopt, "owner/models", std::nullopt, std::nullopt,
//                                         false, "https://huggingface.co", "main"});
//     korbit::ModelInfo info{"v3", "turbo", "whisper", platform::ml::MLComputeUnits::all};
//     auto url = downloader.resolveModel("AudioEncoder", info, std::nullopt, std::nullopt, true,
//                                        [](korbit::ModelState state) { show(state); });
//
// The downloader keeps nothing but its configuration; each operation builds its own hub client,
// so any number of threads may use one downloader. Operations block the calling thread.

#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/ModelDownloadConfig.hpp"
#include "KorbitCore/ModelDownloaderError.hpp"
#include "KorbitCore/ModelInfo.hpp"
#include "KorbitCore/ModelState.hpp"
#include "Platform/Sys/Progress.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace korbit {

class ModelDownloader {
public:
    using ModelStateCallback = std::function<void(ModelState)>;
    using ProgressCallback = std::function<void(platform::sys::Progress&)>;

    explicit ModelDownloader(ModelDownloadConfig config);
    /// A downloader without cache base or model folder.
    ModelDownloader(std::string endpoint, std::string repoName, std::optional<std::string> modelToken,
                    std::string revision, bool useBackgroundSession);
    virtual ~ModelDownloader() = default;

    /// Brings the files of the model's download pattern into the cache and returns the
    /// repository's local folder. Offline (true) it works from the cache alone: no request
    /// reaches the hub, and the cached files are verified.
    virtual std::filesystem::path downloadModel(const ModelInfo& modelInfo,
                                                std::optional<std::filesystem::path> downloadBase,
                                                std::optional<bool> useOfflineMode, std::stop_token stop = {}) const;
    /// downloadBase/models/<owner>/<name>; touches no file.
    virtual std::filesystem::path localRepoLocation(std::optional<std::filesystem::path> downloadBase) const;
    /// The model `name` of the model folder `modelInfo` names: from the local model folder, else
    /// from the cache, else (when `download`) fetched. The callback sees `downloading` when a
    /// fetch starts and `downloaded` when the model came from the cache or the fetch.
    virtual std::filesystem::path resolveModel(const std::string& name, const ModelInfo& modelInfo,
                                               std::optional<std::filesystem::path> modelFolder,
                                               std::optional<std::filesystem::path> downloadBase, bool download,
                                               const ModelStateCallback& modelStateCallback,
                                               std::stop_token stop = {}) const;
    /// resolveModel's location as a path text.
    virtual std::string resolveModelPath(const std::string& name, const ModelInfo& modelInfo,
                                         std::optional<std::filesystem::path> modelFolder,
                                         std::optional<std::filesystem::path> downloadBase, bool download,
                                         const ModelStateCallback& modelStateCallback, std::stop_token stop = {}) const;
    /// The repository's local folder once the files of every pattern are there: taken as it is
    /// when each pattern's leading wildcard-free folder exists and is not empty, else fetched.
    virtual std::filesystem::path resolveRepo(const std::vector<std::string>& patterns,
                                              std::optional<std::filesystem::path> downloadBase, bool download,
                                              const ProgressCallback& progressCallback,
                                              std::stop_token stop = {}) const;
    /// The repository's file names matching any of the glob patterns, as the hub lists them.
    virtual std::vector<std::string> fetchFilenames(const std::vector<std::string>& matching,
                                                    std::optional<std::filesystem::path> downloadBase,
                                                    std::stop_token stop = {}) const;
    /// ModelUtilities::detectModelURL(folder, name) when something exists there.
    virtual std::optional<std::filesystem::path> modelURLIfExists(const std::filesystem::path& folder,
                                                                  const std::string& name) const;

private:
    bool patternsExistLocally(const std::vector<std::string>& patterns, const std::filesystem::path& folder) const;
    std::optional<std::filesystem::path> effectiveDownloadBase(std::optional<std::filesystem::path> downloadBase) const;
    HubApi makeHubApi(std::optional<std::filesystem::path> downloadBase, std::optional<bool> useOfflineMode) const;
    HubApi::Repo repo() const;

    ModelDownloadConfig config;
};

}  // namespace korbit
