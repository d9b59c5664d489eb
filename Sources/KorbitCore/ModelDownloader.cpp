#include "KorbitCore/ModelDownloader.hpp"

#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelUtilities.hpp"

#include <system_error>

namespace fs = std::filesystem;

namespace korbit {
namespace {

constexpr const char* kPrefix = "[ModelDownloader] ";

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string repoDescription(const HubApi::Repo& repo) {
    return "Repo(id: " + quoted(repo.id) + ", type: " + rawValue(repo.type) + ")";
}

/// Cached file names of the repository folder, relative to it, as the hub lists them.
std::vector<std::string> cachedFilenames(const fs::path& repoFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(repoFolder, ec)) return names;
    for (const fs::path& file : getFileUrls(repoFolder))
        names.push_back(file.lexically_relative(repoFolder).generic_string());
    return names;
}

}  // namespace

ModelDownloader::ModelDownloader(ModelDownloadConfig downloadConfig) : config(std::move(downloadConfig)) {}

ModelDownloader::ModelDownloader(std::string endpoint, std::string repoName, std::optional<std::string> modelToken,
                                 std::string revision, bool useBackgroundSession)
    : ModelDownloader(ModelDownloadConfig{std::nullopt, std::move(repoName), std::move(modelToken), std::nullopt,
                                          useBackgroundSession, std::move(endpoint), std::move(revision)}) {}

std::optional<fs::path> ModelDownloader::effectiveDownloadBase(std::optional<fs::path> downloadBase) const {
    if (downloadBase) return downloadBase;
    if (config.downloadBase) return fs::path(*config.downloadBase);
    return std::nullopt;
}

HubApi ModelDownloader::makeHubApi(std::optional<fs::path> downloadBase, std::optional<bool> useOfflineMode) const {
    HubApi hub(effectiveDownloadBase(std::move(downloadBase)), config.modelToken, config.endpoint,
               config.useBackgroundSession);
    hub.useOfflineMode = useOfflineMode;
    return hub;
}

HubApi::Repo ModelDownloader::repo() const {
    return HubApi::Repo(config.modelRepo, HubApi::RepoType::models);
}

fs::path ModelDownloader::localRepoLocation(std::optional<fs::path> downloadBase) const {
    return makeHubApi(std::move(downloadBase), std::nullopt).localRepoLocation(repo());
}

std::optional<fs::path> ModelDownloader::modelURLIfExists(const fs::path& folder, const std::string& name) const {
    fs::path url = ModelUtilities::detectModelURL(folder, name);
    std::error_code ec;
    if (fs::exists(url, ec)) return url;
    return std::nullopt;
}

std::vector<std::string> ModelDownloader::fetchFilenames(const std::vector<std::string>& matching,
                                                         std::optional<fs::path> downloadBase,
                                                         std::stop_token stop) const {
    return makeHubApi(std::move(downloadBase), std::nullopt).getFilenames(repo(), config.revision, matching, stop);
}

fs::path ModelDownloader::downloadModel(const ModelInfo& modelInfo, std::optional<fs::path> downloadBase,
                                        std::optional<bool> useOfflineMode, std::stop_token stop) const {
    const std::string pattern = modelInfo.downloadPattern();
    const HubApi hub = makeHubApi(std::move(downloadBase), useOfflineMode);
    const HubApi::Repo repository = repo();
    if (useOfflineMode == true) {
        // The cache alone answers: its files stand in for the hub's listing, and the snapshot's
        // offline branch verifies them. No request may depend on the hub being reachable here.
        Logging::debug(kPrefix + std::string("Searching for models matching ") + quoted(pattern) + " in " +
                       repoDescription(repository));
        if (matching(cachedFilenames(hub.localRepoLocation(repository)), pattern).empty()) {
            throw ModelDownloaderError::modelUnavailable("No models found matching " + quoted(pattern) + " in " +
                                                         config.modelRepo);
        }
        Logging::debug(kPrefix + std::string("Downloading model ") + pattern + " with offline mode: true");
    } else {
        Logging::debug(kPrefix + std::string("Downloading model ") + pattern + " with offline mode: false");
    }
    return hub.snapshot(
        repository, config.revision, {pattern}, [](platform::sys::Progress&) {}, stop);
}

fs::path ModelDownloader::resolveModel(const std::string& name, const ModelInfo& modelInfo,
                                       std::optional<fs::path> modelFolder, std::optional<fs::path> downloadBase,
                                       bool download, const ModelStateCallback& modelStateCallback,
                                       std::stop_token stop) const {
    auto report = [&](ModelState state) {
        if (modelStateCallback) modelStateCallback(state);
    };

    std::optional<fs::path> localFolder = modelFolder;
    if (!localFolder && config.modelFolder) localFolder = fs::path(*config.modelFolder);
    if (localFolder) {
        if (auto url = modelURLIfExists(modelInfo.modelURL(*localFolder), name)) {
            Logging::debug(kPrefix + std::string("Found ") + name + " in model folder");
            return *url;
        }
    }

    const std::optional<fs::path> base = effectiveDownloadBase(std::move(downloadBase));
    try {
        fs::path folder = downloadModel(modelInfo, base, true, stop);
        if (auto url = modelURLIfExists(modelInfo.modelURL(folder), name)) {
            Logging::debug(kPrefix + std::string("Found existing ") + name + " in cache");
            report(ModelState::downloaded);
            return *url;
        }
    } catch (const std::exception&) {
        // Whatever the probe met (nothing cached, a damaged file), the model is not in the cache.
    }

    if (!download) throw ModelDownloaderError::modelUnavailable("No model found for " + name + " (download disabled)");

    report(ModelState::downloading);
    fs::path folder = downloadModel(modelInfo, base, std::nullopt, stop);
    if (auto url = modelURLIfExists(modelInfo.modelURL(folder), name)) {
        Logging::debug(kPrefix + std::string("Downloaded ") + name);
        report(ModelState::downloaded);
        return *url;
    }
    throw ModelDownloaderError::modelUnavailable("No model found for " + name);
}

std::string ModelDownloader::resolveModelPath(const std::string& name, const ModelInfo& modelInfo,
                                              std::optional<fs::path> modelFolder, std::optional<fs::path> downloadBase,
                                              bool download, const ModelStateCallback& modelStateCallback,
                                              std::stop_token stop) const {
    return resolveModel(name, modelInfo, std::move(modelFolder), std::move(downloadBase), download, modelStateCallback,
                        stop)
        .string();
}

bool ModelDownloader::patternsExistLocally(const std::vector<std::string>& patterns, const fs::path& folder) const {
    for (const std::string& pattern : patterns) {
        // The fixed folder in front of the first wildcard piece must be there and hold something.
        fs::path path = folder;
        bool kept = false;
        std::size_t start = 0;
        while (start <= pattern.size()) {
            std::size_t end = pattern.find('/', start);
            if (end == std::string::npos) end = pattern.size();
            std::string piece = pattern.substr(start, end - start);
            start = end + 1;
            if (piece.empty()) continue;
            if (piece.find('*') != std::string::npos) break;
            path /= piece;
            kept = true;
        }
        if (!kept) return false;
        std::error_code ec;
        fs::directory_iterator entries(path, ec);
        if (ec || entries == fs::directory_iterator()) return false;
    }
    return true;
}

fs::path ModelDownloader::resolveRepo(const std::vector<std::string>& patterns, std::optional<fs::path> downloadBase,
                                      bool download, const ProgressCallback& progressCallback,
                                      std::stop_token stop) const {
    const std::optional<fs::path> base = effectiveDownloadBase(std::move(downloadBase));
    const fs::path folder = localRepoLocation(base);
    if (patternsExistLocally(patterns, folder)) {
        Logging::debug(kPrefix + std::string("All models found in local cache at ") + folder.string());
        return folder;
    }
    if (!download) {
        throw ModelDownloaderError::modelUnavailable("No local models found for repo '" + config.modelRepo +
                                                     "' and download is disabled.");
    }
    const HubApi hub = makeHubApi(base, std::nullopt);
    Logging::info(kPrefix + std::string("Downloading ") + std::to_string(patterns.size()) + " model(s) from " +
                  config.modelRepo + "...");
    fs::path result = hub.snapshot(
        repo(), config.revision, patterns,
        [&](platform::sys::Progress& progress) {
            if (progressCallback) progressCallback(progress);
        },
        stop);
    Logging::info(kPrefix + std::string("Download complete: ") + result.string());
    return result;
}

}  // namespace korbit
