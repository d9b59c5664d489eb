#pragma once

#include "KorbitCore/External/Hub/Broadcaster.hpp"
#include "KorbitCore/External/Hub/DownloadError.hpp"
#include "KorbitCore/External/Hub/DownloadResumeState.hpp"
#include "KorbitCore/External/Hub/DownloadState.hpp"
#include "KorbitCore/External/Hub/PartialFileWriter.hpp"
#include "KorbitCore/External/Hub/SessionActor.hpp"
#include "KorbitCore/External/Hub/TaskActor.hpp"
#include "Platform/Net/Session.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace korbit {

/// Waits of the transfer engine; the defaults are the product's, tests shorten them.
struct DownloaderTiming {
    /// Idle time-out of a transfer request (no byte for this long fails the attempt).
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(10)};
    /// The longest a transfer's reply may take to begin its body (its head in full), however
    /// steadily a server trickles header lines. The body itself has no such limit: a large file
    /// on a slow line takes as long as it takes.
    std::chrono::milliseconds headDeadline{std::chrono::seconds(60)};
    /// Pause before asking again after the body stream broke.
    std::chrono::milliseconds retryWait{std::chrono::seconds(1)};
    /// Retries of broken body streams; restored after every chunk written.
    int numRetries = 5;
};

/// The resumable transfer engine: fetches one file into a partial file, resuming from its size
/// with a byte-range request, counts and reports the bytes in chunks, retries when the body stream
/// breaks, and moves the finished file into place. Progress and outcome arrive as states on a subscription.
class Downloader {
public:
    using DownloadState = korbit::DownloadState;
    using DownloadError = korbit::DownloadError;
    using Subscription = Broadcaster<DownloadState>::Subscription;

    static constexpr std::int64_t kDefaultChunkSize = 10'485'760;
    static constexpr const char* kBackgroundSessionIdentifier = "tessaloom.hub.downloader";

    using Timing = DownloaderTiming;

    Downloader(std::filesystem::path destination, std::filesystem::path incompleteDestination,
               bool inBackground = false, std::int64_t chunkSize = kDefaultChunkSize, Timing timing = {});
    /// Stops a running transfer and waits for it; readers then see the end of their streams.
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    /// Starts the transfer (cancelling one this engine still runs) and returns a subscription
    /// to its states. The partial file must exist; its size is where the transfer resumes. When
    /// the disk of the partial file has no room for the rest of the expected size, the transfer
    /// fails before it asks for a byte (std::system_error, no_space_on_device, naming both figures).
    Subscription download(const std::string& url, const std::optional<std::string>& authToken,
                          std::optional<std::int64_t> expectedSize);
    /// Cancels the transfer; readers receive `failed` with a cancelled transport error. The
    /// partial file keeps its bytes. Does not wait.
    void cancel();

    /// The file's size, 0 when it is missing or unreadable.
    static std::int64_t incompleteFileSize(const std::filesystem::path& path);

    const std::filesystem::path& destination() const { return destination_; }
    const std::filesystem::path& incompleteDestination() const { return incompleteDestination_; }
    std::int64_t chunkSize() const { return chunkSize_; }
    const platform::net::SessionConfiguration& sessionConfig() const { return sessionConfig_; }

private:
    void setUpDownload(const std::string& url, const std::optional<std::string>& authToken, std::int64_t resumeSize,
                       const std::optional<platform::net::HttpHeaders>& headers, std::chrono::milliseconds timeout,
                       int numRetries);
    void transfer(std::stop_token stop, platform::net::HttpRequest request, std::int64_t resumeSize, int numRetries);
    void httpGet(const platform::net::HttpRequest& request, PartialFileWriter& file, int numRetries,
                 std::stop_token stop);
    void openSession();

    std::filesystem::path destination_;
    std::filesystem::path incompleteDestination_;
    DownloadResumeState downloadResumeState_;
    std::int64_t chunkSize_;
    Timing timing_;
    Broadcaster<DownloadState> broadcaster_;
    platform::net::SessionConfiguration sessionConfig_;
    SessionActor session_;
    TaskActor task_;
    /// Held while a finished transfer moves into place, so that a cancel comes wholly before or after.
    std::mutex finishing_;
};

}  // namespace korbit
