#pragma once

// HubApi: the client of the model hub. It lists a repository's files, probes each file with one
// HEAD request, keeps downloaded files in a local cache with a metadata file beside each, fetches
// what changed through the resumable transfer engine, and verifies the cache alone when offline.
//
//     korbit::HubApi hub(downloadBase);                       // token and endpoint from the environment
//     auto names = hub.getFilenames({"openai/whisper-tiny"}, "main", {"*.json"});
//     fs::path folder = hub.snapshot({"openai/whisper-tiny"}, "main", {"*.json"},
//                                    [](platform::sys::Progress& p) { show(p.fractionCompleted()); });
//
// Operations block the calling thread; a HubApi is a value that any number of threads may use.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/DownloadError.hpp"
#include "KorbitCore/External/Hub/Downloader.hpp"
#include "KorbitCore/External/Hub/EnvironmentError.hpp"
#include "KorbitCore/External/Hub/FileMetadata.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/External/Hub/LocalDownloadFileMetadata.hpp"
#include "KorbitCore/External/Hub/Repo.hpp"
#include "KorbitCore/External/Hub/SiblingsResponse.hpp"
#include "Platform/Net/HttpRequest.hpp"
#include "Platform/Sys/Progress.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace korbit {

struct HubFileDownloader;
class NetworkMonitor;
class NetworkStateActor;
class RedirectSessionActor;

/// Waits and sizes of the hub client; the defaults are the product's, tests shorten them.
struct HubApiTiming {
    /// Idle time-out of the listing GET and the HEAD probe.
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(60)};
    /// The longest the listing GET or the HEAD probe may take in all, however steadily a server
    /// trickles its reply.
    std::chrono::milliseconds requestDeadline{std::chrono::seconds(120)};
    /// The transfer engine's idle time-out, retry wait and retries.
    DownloaderTiming transfer;
    /// Bytes gathered in memory before a transfer writes them.
    std::int64_t chunkSize = Downloader::kDefaultChunkSize;
};

class HubApi {
public:
    using RepoType = korbit::RepoType;
    using Repo = korbit::Repo;
    using EnvironmentError = korbit::EnvironmentError;
    using FileMetadata = korbit::FileMetadata;
    using LocalDownloadFileMetadata = korbit::LocalDownloadFileMetadata;
    using HubFileDownloader = korbit::HubFileDownloader;
    using NetworkMonitor = korbit::NetworkMonitor;
    using NetworkStateActor = korbit::NetworkStateActor;
    using Sibling = korbit::Sibling;
    using SiblingsResponse = korbit::SiblingsResponse;
    /// Receives the overall progress of a snapshot.
    using ProgressHandler = std::function<void(platform::sys::Progress&)>;

    static constexpr const char* kDefaultEndpoint = "https://huggingface.co";

    /// Builds a client. Without a download base, the folder "huggingface" in the user's documents
    /// folder (throws std::runtime_error when the user has no home folder). Without a token, the
    /// first non-empty of HF_TOKEN, HUGGING_FACE_HUB_TOKEN, the file named by HF_TOKEN_PATH, the
    /// file "token" in HF_HOME, ~/.cache/huggingface/token and ~/.huggingface/token. Without an
    /// endpoint, HF_ENDPOINT, else the hub's. Starts the shared network monitor.
    explicit HubApi(std::optional<std::filesystem::path> downloadBase = std::nullopt,
                    std::optional<std::string> hfToken = std::nullopt,
                    std::optional<std::string> endpoint = std::nullopt, bool useBackgroundSession = false,
                    HubApiTiming timing = {});

    std::filesystem::path downloadBase;
    /// Sent as a bearer token when present and not empty.
    std::optional<std::string> hfToken;
    std::string endpoint;
    /// Accepted and passed to the transfer engine; Linux has no background transfer service.
    bool useBackgroundSession = false;
    /// Forced offline (true) or online (false); absent lets the network monitor decide.
    std::optional<bool> useOfflineMode;
    /// The process's network monitor (clients share it; the offline decision asks it directly).
    std::shared_ptr<NetworkMonitor> networkMonitor;
    std::string sha256Pattern = "^[0-9a-f]{64}$";
    std::string commitHashPattern = "^[0-9a-f]{40}$";
    HubApiTiming timing;

    static std::optional<std::string> hfTokenFromEnv();
    /// HF_ENDPOINT exactly as set, else the hub's default endpoint.
    static std::string hfEndpointfromEnv();

    /// downloadBase/<kind>/<owner>/<name>; touches no file. A name outside the hub's rule
    /// (Repo::isValidId) throws Hub::HubClientError (invalidRepositoryName), here and in every
    /// call below that takes a repository, before any request.
    std::filesystem::path localRepoLocation(const Repo& repo) const;

    // ---- Hub requests ----
    /// An authorised GET; every failure is a Hub::HubClientError.
    std::pair<std::string, platform::net::HttpResponse> httpGet(const std::string& url,
                                                                std::stop_token stop = {}) const;
    /// An authorised HEAD on the redirect-controlled session; statuses 200-399 are answers,
    /// others Hub::HubClientError; transport failures throw platform::net::TransportError.
    platform::net::HttpResponse httpHead(const std::string& url, std::stop_token stop = {}) const;
    /// The repository's file names at the revision, filtered by glob patterns (fnmatch, no flags)
    /// when any are given; in listing order.
    std::vector<std::string> getFilenames(const Repo& repo, const std::string& revision = "main",
                                          const std::vector<std::string>& globs = {}, std::stop_token stop = {}) const;
    /// Reads a JSON configuration file (needs no client, so a folder of files can be read without one);
    /// a named pipe, a socket or a device at its place is refused at once (NotAFileError).
    static Config configuration(const std::filesystem::path& fileURL);

    // ---- Snapshot ----
    /// Brings the repository's matching files into the cache (online) or verifies the cached
    /// files (offline) and returns the repository's local folder. A stop request ends it after
    /// the file in progress with CancellationError.
    std::filesystem::path snapshot(const Repo& repo, const std::string& revision = "main",
                                   const std::vector<std::string>& globs = {},
                                   const ProgressHandler& progressHandler = {}, std::stop_token stop = {}) const;

    // ---- Metadata files and digests ----
    /// The parsed metadata file; absent when there is none, or when it was bad (it is then
    /// logged and removed). A named pipe, a socket or a device there is neither waited on nor
    /// removed: EnvironmentError::invalidMetadataError names it.
    std::optional<LocalDownloadFileMetadata> readDownloadMetadata(const std::filesystem::path& metadataPath) const;
    /// Replaces the metadata file; a named pipe or a socket there is refused at once
    /// (EnvironmentError::fileWriteError), a character device written in place.
    void writeDownloadMetadata(const std::string& commitHash, const std::string& etag,
                               const std::filesystem::path& metadataPath) const;
    /// SHA-256 of the file as 64 lower-case hexadecimal digits. A named pipe, a socket or a device
    /// there is refused at once (Hub::HubClientError::fileSystemError naming it).
    std::string computeFileHash(const std::filesystem::path& file) const;

    // ---- File metadata probe ----
    FileMetadata getFileMetadata(const std::string& url, std::stop_token stop = {}) const;
    /// What a probe's reply tells of the file at `url`: where it lives, its commit, entity tag and size.
    static FileMetadata fileMetadata(const platform::net::HttpResponse& response, const std::string& url);
    static std::optional<std::string> normalizeEtag(std::optional<std::string> etag);
    static RedirectSessionActor& redirectSession();

    /// Whether the text matches the regular expression (a pattern that does not compile matches nothing).
    static bool matches(const std::string& pattern, const std::string& text);

private:
    platform::net::HttpRequest makeRequest(const std::string& url) const;
};

}  // namespace korbit
