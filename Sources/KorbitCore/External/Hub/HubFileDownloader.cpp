#include "KorbitCore/External/Hub/HubFileDownloader.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "Platform/Crypto/Sha256.hpp"
#include "Platform/Net/Url.hpp"
#include "Platform/Sys/FileLock.hpp"

#include <sstream>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;
using korbit::Hub::HubClientError;

namespace korbit {
namespace {

bool isPlainName(const std::string& text) {
    if (text.empty() || text.size() > 128) return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                  c == '-';
        if (!ok) return false;
    }
    return true;
}

// An exclusive lock on the partial file of one file version, so that two downloads of the same
// file (threads or processes) never append to it at once. The lock is taken on the file the path
// names at that moment; when that file was moved into place meanwhile, `current` is false.
class PartialFileLock {
public:
    PartialFileLock(const fs::path& path, const std::stop_token& stop) : lock_(path) {
        while (!lock_.tryLock()) {
            if (stop.stop_requested()) throw CancellationError();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        current_ = lock_.locks(path);
    }

    bool current() const { return current_; }

private:
    platform::sys::FileLock lock_;
    bool current_ = false;
};

}  // namespace

bool HubFileDownloader::isSafeRelativeFilename(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) return false;
    std::istringstream segments(name);
    std::string segment;
    while (std::getline(segments, segment, '/')) {
        if (segment == "." || segment == "..") return false;
    }
    return true;
}

fs::path HubFileDownloader::destination() const {
    return repoDestination / relativeFilename;
}

fs::path HubFileDownloader::metadataPath() const {
    return repoMetadataDestination / (relativeFilename + ".metadata");
}

fs::path HubFileDownloader::incompleteDestination(const std::string& etag) const {
    std::string name = isPlainName(etag) ? etag : platform::crypto::Sha256::hex(etag);
    return repoMetadataDestination / (relativeFilename + "." + name + ".incomplete");
}

std::string HubFileDownloader::source() const {
    std::string base = endpoint.value_or(HubApi::kDefaultEndpoint);
    std::optional<platform::net::Url> url = platform::net::Url::parseAbsolute(base);
    if (!url) throw HubClientError::parseError("invalid hub endpoint URL \"" + base + "\"");
    platform::net::Url address = *url;
    if (repo.type != RepoType::models) address = address.appendingPath(rawValue(repo.type));
    return address.appendingPath(repo.id)
        .appendingPath("resolve")
        .appendingPathComponent(revision)
        .appendingPath(relativeFilename)
        .string();
}

bool HubFileDownloader::downloaded() const {
    // Only a file serves as one: a named pipe taken for it would hold whoever reads the model next,
    // and a folder leaves the model without the file. The fetch replaces either.
    std::error_code ec;
    return fs::is_regular_file(destination(), ec);
}

void HubFileDownloader::prepareCacheDestination(const fs::path& incompleteDestination) const {
    fs::create_directories(incompleteDestination.parent_path());
    // An existing partial file keeps its bytes for the resume; a pipe or a socket there is refused
    // with what it is before the lock takes it.
    if (!platform::sys::createFileIfMissing(incompleteDestination))
        refuseSpecialFile(incompleteDestination, "cannot open the partial file");
}

fs::path HubFileDownloader::download(const ProgressHandler& progressHandler, std::stop_token stop) const {
    if (!isSafeRelativeFilename(relativeFilename)) {
        throw HubClientError::parseError("the repository listing names a file outside the repository: \"" +
                                         relativeFilename + "\"");
    }
    std::optional<LocalDownloadFileMetadata> local = hub.readDownloadMetadata(metadataPath());
    FileMetadata remote = hub.getFileMetadata(source(), stop);
    std::string remoteCommit = remote.commitHash.value_or("");

    if (HubApi::matches(hub.commitHashPattern, remoteCommit) && downloaded() && local &&
        local->commitHash == remoteCommit) {
        return destination();
    }
    if (!remote.commitHash || !remote.etag || !remote.size || remote.location.empty()) {
        throw EnvironmentError::invalidMetadataError("File metadata must have been retrieved from server");
    }
    const std::string& etag = *remote.etag;
    // The cached copy is this version when its metadata or its content says so.
    auto isCurrent = [&](const std::optional<LocalDownloadFileMetadata>& metadata) {
        if (!downloaded()) return false;
        if (metadata && metadata->etag == etag) return true;
        if (!HubApi::matches(hub.sha256Pattern, etag)) return false;
        return hub.computeFileHash(destination()) == etag;
    };
    if (isCurrent(local)) {
        hub.writeDownloadMetadata(remoteCommit, etag, metadataPath());
        return destination();
    }
    // A folder with anything in it where the file goes stays: said before the transfer, not after.
    refuseFolderInPlaceOf(destination());

    fs::path partial = incompleteDestination(etag);
    while (true) {
        prepareCacheDestination(partial);
        PartialFileLock lock(partial, stop);
        // Another download of this version may have finished meanwhile (it moved the partial
        // file away and wrote the metadata before it let go of the lock).
        std::optional<LocalDownloadFileMetadata> now = hub.readDownloadMetadata(metadataPath());
        if (downloaded() && now && now->etag == etag) {
            std::error_code ignored;
            if (lock.current() && fs::file_size(partial, ignored) == 0) fs::remove(partial, ignored);
            hub.writeDownloadMetadata(remoteCommit, etag, metadataPath());
            return destination();
        }
        if (!lock.current()) continue;
        Downloader downloader(destination(), partial, backgroundSession, hub.timing.chunkSize, hub.timing.transfer);
        Downloader::Subscription states = downloader.download(source(), hfToken, remote.size);
        std::stop_callback onStop(stop, [&downloader] { downloader.cancel(); });
        bool completed = false;
        while (std::optional<DownloadState> state = states.next()) {
            if (state->kind == DownloadState::Kind::downloading) {
                if (progressHandler) progressHandler(state->progress, state->speed);
            } else if (state->kind == DownloadState::Kind::completed) {
                completed = true;
                break;
            } else if (state->kind == DownloadState::Kind::failed) {
                std::rethrow_exception(state->error);
            }
        }
        // Only a completed transfer puts a file in place; anything else must not pass for one.
        if (!completed) {
            checkCancellation(stop);
            throw DownloadError::unexpectedError();
        }
        hub.writeDownloadMetadata(remoteCommit, etag, metadataPath());
        return destination();
    }
}

}  // namespace korbit
