// HubApi: snapshot download, online through the single-file downloader, offline from the cache.

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/External/Hub/HubFileDownloader.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "KorbitCore/External/Hub/NetworkMonitor.hpp"

#include <cmath>

namespace fs = std::filesystem;
using platform::sys::Progress;

namespace korbit {
namespace {

fs::path metadataFolder(const fs::path& repoDestination) {
    return repoDestination / ".cache" / "huggingface" / "download";
}

}  // namespace

fs::path HubApi::snapshot(const Repo& repo, const std::string& revision, const std::vector<std::string>& globs,
                          const ProgressHandler& progressHandler, std::stop_token stop) const {
    const fs::path repoDestination = localRepoLocation(repo);
    const fs::path repoMetadataDestination = metadataFolder(repoDestination);
    const bool detectedOffline = NetworkMonitor::shared().state().shouldUseOfflineMode();
    const bool offline = useOfflineMode.value_or(detectedOffline);

    if (offline) {
        std::error_code ec;
        if (!fs::exists(repoDestination, ec))
            throw EnvironmentError::offlineModeError("Repository not available locally");
        std::vector<fs::path> files = getFileUrls(repoDestination);
        if (files.empty()) throw EnvironmentError::offlineModeError("No files available locally for this repository");
        for (const fs::path& file : files) {
            fs::path metadataPath = repoMetadataDestination / file.lexically_relative(repoDestination);
            metadataPath += ".metadata";
            std::optional<LocalDownloadFileMetadata> metadata = readDownloadMetadata(metadataPath);
            std::string name = file.filename().string();
            if (!metadata) throw EnvironmentError::offlineModeError("Metadata not available for " + name);
            if (matches(sha256Pattern, metadata->etag) && computeFileHash(file) != metadata->etag) {
                throw EnvironmentError::fileIntegrityError("Hash mismatch for " + name);
            }
        }
        return repoDestination;
    }

    std::vector<std::string> filenames = getFilenames(repo, revision, globs, stop);
    std::shared_ptr<Progress> progress = Progress::make(static_cast<std::int64_t>(filenames.size()));
    auto report = [&] {
        if (progressHandler) progressHandler(*progress);
    };
    if (filenames.empty()) {
        report();
        return repoDestination;
    }
    for (const std::string& filename : filenames) {
        std::shared_ptr<Progress> child = Progress::make(100);
        progress->addChild(child, 1);
        HubFileDownloader downloader{*this,    repo,    revision, repoDestination,     repoMetadataDestination,
                                     filename, hfToken, endpoint, useBackgroundSession};
        try {
            downloader.download(
                [&](double fraction, std::optional<double> speed) {
                    // A fraction that is no number, or out of range, cannot be a count of units.
                    if (std::isfinite(fraction)) {
                        child->setCompletedUnitCount(static_cast<std::int64_t>(std::clamp(fraction, 0.0, 1.0) * 100));
                    }
                    if (speed) {
                        child->setUserInfo(Progress::kThroughputKey, *speed);
                        progress->setUserInfo(Progress::kThroughputKey, *speed);
                    }
                    report();
                },
                stop);
        } catch (...) {
            if (stop.stop_requested()) throw CancellationError();
            throw;
        }
        // A cancelled snapshot must not pass for a complete one: the files so far stay cached.
        checkCancellation(stop);
        child->setCompletedUnitCount(100);
    }
    report();
    return repoDestination;
}

}  // namespace korbit
