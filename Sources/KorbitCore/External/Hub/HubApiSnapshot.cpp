// HubApi: snapshot download, online through the single-file downloader, offline from the cache.

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/External/Hub/HubFileDownloader.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "KorbitCore/External/Hub/NetworkMonitor.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;
using platform::sys::Progress;

namespace korbit {
namespace {

fs::path metadataFolder(const fs::path& repoDestination) {
    return repoDestination / ".cache" / "huggingface" / "download";
}

// Every file whose metadata the cache holds, of those the patterns select (all without any), must be
// there, a regular file: the repository folder's own listing passes over a missing file, and over a
// named pipe that a reader would wait on. A model folder removed by hand elsewhere in the
// repository, its metadata left behind, fails no other model's check.
void checkFilesOfMetadata(const fs::path& repoDestination, const fs::path& repoMetadataDestination,
                          const std::vector<std::string>& globs) {
    constexpr std::string_view suffix = ".metadata";
    std::error_code ec;
    fs::recursive_directory_iterator it(repoMetadataDestination, ec);
    if (ec == std::errc::no_such_file_or_directory) return;
    for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code kindError;
        if (!name.ends_with(suffix) || it->is_directory(kindError)) continue;
        fs::path relative = it->path().lexically_relative(repoMetadataDestination);
        relative.replace_filename(name.substr(0, name.size() - suffix.size()));
        const auto selects = [&](const std::string& glob) { return !matching({relative.string()}, glob).empty(); };
        if (!globs.empty() && std::none_of(globs.begin(), globs.end(), selects)) continue;
        const fs::path file = repoDestination / relative;
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                throw EnvironmentError::offlineModeError(file.string() + " is missing, though its metadata is cached");
            throw EnvironmentError::offlineModeError("Cannot look at " + file.string() + ": " +
                                                     std::generic_category().message(error));
        }
        if (!S_ISREG(info.st_mode))
            throw EnvironmentError::offlineModeError(file.string() + " is " + platform::sys::notAFile(info.st_mode));
    }
    if (ec)
        throw EnvironmentError::offlineModeError("Cannot list " + repoMetadataDestination.string() + ": " +
                                                 ec.message());
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
        // A cached file's own place first: a folder standing there is named, not the files it holds.
        checkFilesOfMetadata(repoDestination, repoMetadataDestination, globs);
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
