#include "KorbitCore/External/Hub/Downloader.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/ContentRange.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "Platform/Net/TransportError.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;
using platform::net::HttpHeaders;
using platform::net::HttpRequest;
using platform::net::HttpResponse;
using platform::net::Session;
using platform::net::TransportError;

namespace korbit {
namespace {

// Signals from the reply's head to the attempt loop (never leave this file).
struct RestartFromStart {};
struct AlreadyComplete {};
// The body runs past the size the hub announced: it is not this file.
struct LongerThanAnnounced {};

/// Refuses a transfer of `needed` more bytes that the disk of the partial file has no room for, naming
/// both figures: a hub may announce any size, and a full disk stops more than this program.
void checkRoomFor(std::int64_t needed, const fs::path& destination, const fs::path& partial) {
    const fs::path folder = partial.parent_path();
    std::error_code error;
    const fs::space_info space = fs::space(folder, error);
    // Without an answer the transfer goes ahead; a disk that fills still ends it with its own error.
    if (error || needed <= 0 || static_cast<std::uintmax_t>(needed) <= space.available) return;
    throw std::system_error(std::make_error_code(std::errc::no_space_on_device),
                            destination.string() + " needs " + std::to_string(needed) +
                                " bytes, but the disk holding " + folder.string() + " has " +
                                std::to_string(space.available) + " bytes free");
}

}  // namespace

Downloader::Downloader(fs::path destination, fs::path incompleteDestination, bool inBackground, std::int64_t chunkSize,
                       Timing timing)
    : destination_(std::move(destination)),
      incompleteDestination_(std::move(incompleteDestination)),
      chunkSize_(std::max<std::int64_t>(1, chunkSize)),
      timing_(timing),
      broadcaster_([] { return std::optional<DownloadState>(DownloadState::notStarted()); }),
      sessionConfig_(platform::net::SessionConfiguration::defaultConfiguration()) {
    if (inBackground) {
        sessionConfig_ = platform::net::SessionConfiguration::background(kBackgroundSessionIdentifier);
        sessionConfig_.isDiscretionary = false;
        sessionConfig_.sessionSendsLaunchEvents = true;
    }
}

Downloader::~Downloader() {
    if (auto task = task_.get()) {
        task->request_stop();
        if (task->joinable()) task->join();
    }
}

std::int64_t Downloader::incompleteFileSize(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return static_cast<std::int64_t>(info.st_size);
}

void Downloader::openSession() {
    session_.set(std::make_shared<Session>(sessionConfig_));
}

Downloader::Subscription Downloader::download(const std::string& url, const std::optional<std::string>& authToken,
                                              std::optional<std::int64_t> expectedSize) {
    if (auto running = task_.get()) {
        // The earlier transfer stops and reports its own end before this one starts, so that two
        // transfers never write the partial file at once.
        running->request_stop();
        if (running->joinable()) running->join();
    }
    downloadResumeState_.setExpectedSize(expectedSize);
    openSession();
    std::int64_t resumeSize = incompleteFileSize(incompleteDestination_);
    Subscription subscription = broadcaster_.subscribe();
    setUpDownload(url, authToken, resumeSize, std::nullopt, timing_.requestTimeout, timing_.numRetries);
    return subscription;
}

void Downloader::setUpDownload(const std::string& url, const std::optional<std::string>& authToken,
                               std::int64_t resumeSize, const std::optional<HttpHeaders>& headers,
                               std::chrono::milliseconds timeout, int numRetries) {
    // A session opened for this start carries no transfers over from an earlier run here:
    // Linux has no transfer service that outlives the process.
    if (!session_.get()) return;
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    request.headDeadline = timing_.headDeadline;
    if (headers) request.headers = *headers;
    // An empty token is no token, as for the hub's other requests: a bare "Bearer " is no credential.
    if (authToken && !authToken->empty()) request.headers.set("Authorization", "Bearer " + *authToken);
    task_.set(std::make_shared<TaskActor::Task>([this, request, resumeSize, numRetries](std::stop_token stop) {
        transfer(stop, request, resumeSize, numRetries);
    }));
}

void Downloader::transfer(std::stop_token stop, HttpRequest request, std::int64_t resumeSize, int numRetries) {
    try {
        std::optional<std::int64_t> expected = downloadResumeState_.expectedSize();
        if (expected && resumeSize > *expected) {
            // The partial file cannot be a start of this file: begin again.
            fs::resize_file(incompleteDestination_, 0);
            resumeSize = 0;
        }
        if (expected) checkRoomFor(*expected - resumeSize, destination_, incompleteDestination_);
        downloadResumeState_.setDownloadedSize(resumeSize);
        if (resumeSize > 0) {
            request.headers.set("Range", "bytes=" + std::to_string(resumeSize) + "-");
            double progress =
                expected && *expected >= 1 ? static_cast<double>(resumeSize) / static_cast<double>(*expected) : 0;
            broadcaster_.broadcast(DownloadState::downloading(progress, std::nullopt));
        } else {
            broadcaster_.broadcast(DownloadState::downloading(0, std::nullopt));
        }
        PartialFileWriter file(incompleteDestination_);
        httpGet(request, file, numRetries, stop);
        checkCancellation(stop);
        // Everything is on disk and closed before the file moves and anyone hears of it.
        file.flushAndClose();
        // Either the move and `completed` happen before a cancel, or the cancel stops them.
        std::lock_guard finishing(finishing_);
        checkCancellation(stop);
        moveDownloadedFile(incompleteDestination_, destination_, false);
        broadcaster_.broadcast(DownloadState::completed(destination_));
    } catch (...) {
        broadcaster_.broadcast(DownloadState::failed(std::current_exception()));
    }
}

void Downloader::httpGet(const HttpRequest& request, PartialFileWriter& file, int numRetries, std::stop_token stop) {
    const std::int64_t chunkSize = chunkSize_;
    int allowance = numRetries;
    bool restarted = false;
    while (true) {
        std::shared_ptr<Session> session = session_.get();
        if (!session) throw DownloadError::unexpectedError();
        HttpRequest attempt = request;
        const std::int64_t askedFrom = downloadResumeState_.downloadedSize();
        if (askedFrom > 0) {
            attempt.headers.set("Range", "bytes=" + std::to_string(askedFrom) + "-");
        } else {
            attempt.headers.remove("Range");
        }
        bool headReceived = false;
        bool complete = false;
        // Bytes go to the file as they arrive; they count as downloaded a whole chunk at a time.
        std::int64_t inChunk = 0;
        auto lastReport = std::chrono::steady_clock::now();
        std::int64_t lastReported = askedFrom;

        auto startOver = [&] {
            file.truncate(0);
            downloadResumeState_.setDownloadedSize(0);
            inChunk = 0;
            lastReported = 0;
        };

        Session::StreamHandler handler;
        handler.didReceiveResponse = [&](const HttpResponse& response) {
            int status = response.statusCode;
            if (status == 416 && askedFrom > 0) {
                // Asked past the end: either the partial file already holds the whole file, or it
                // is not a start of this file at all.
                auto range = ContentRange::parse(response.headers.value("Content-Range"));
                auto expected = downloadResumeState_.expectedSize();
                if (range && range->total == askedFrom && (!expected || *expected == askedFrom))
                    throw AlreadyComplete{};
                if (!restarted) throw RestartFromStart{};
                throw DownloadError::unexpectedError();
            }
            if (status < 200 || status > 299) throw DownloadError::unexpectedError();
            if (status == 206) {
                auto range = ContentRange::parse(response.headers.value("Content-Range"));
                if (!range || range->start != askedFrom) {
                    if (!restarted) throw RestartFromStart{};
                    throw DownloadError::unexpectedError();
                }
            } else if (askedFrom > 0) {
                // The server ignored the range and sends the whole file: take it from the start
                // rather than append it to the bytes already there.
                startOver();
            }
            headReceived = true;
        };
        handler.didReceiveData = [&](const char* data, std::size_t size) {
            const auto announced = downloadResumeState_.expectedSize();
            if (announced && file.size() + static_cast<std::int64_t>(size) > *announced) throw LongerThanAnnounced{};
            file.append(data, size);
            auto remaining = static_cast<std::int64_t>(size);
            while (remaining > 0) {
                const std::int64_t take = std::min(remaining, chunkSize - inChunk);
                inChunk += take;
                remaining -= take;
                if (inChunk < chunkSize) continue;
                downloadResumeState_.incDownloadedSize(inChunk);
                inChunk = 0;
                allowance = timing_.numRetries;
                auto expected = downloadResumeState_.expectedSize();
                if (!expected) continue;
                std::int64_t downloaded = downloadResumeState_.downloadedSize();
                double progress = *expected == 0 ? 0 : static_cast<double>(downloaded) / static_cast<double>(*expected);
                auto now = std::chrono::steady_clock::now();
                double elapsed = std::chrono::duration<double>(now - lastReport).count();
                std::optional<double> speed;
                if (elapsed > 0) speed = static_cast<double>(downloaded - lastReported) / elapsed;
                broadcaster_.broadcast(DownloadState::downloading(progress, speed));
                lastReport = now;
                lastReported = downloaded;
            }
        };

        // An attempt that ends early keeps the whole chunks it wrote and drops the rest, so that
        // the next one asks from a chunk's end, as it would if the rest had never left memory.
        const auto keepWholeChunks = [&] { file.truncate(downloadResumeState_.downloadedSize()); };
        // When the transfer fails anyway the cut is only tidying: the bytes past the last chunk
        // are right bytes, and a later resume starts after them.
        const auto tryKeepWholeChunks = [&] {
            try {
                keepWholeChunks();
            } catch (const std::exception&) {
            }
        };
        try {
            session->stream(attempt, handler, stop);
        } catch (const RestartFromStart&) {
            restarted = true;
            startOver();
            continue;
        } catch (const AlreadyComplete&) {
            complete = true;
        } catch (const LongerThanAnnounced&) {
            // Neither these bytes nor the ones before them can be trusted to start the file.
            startOver();
            throw platform::net::TransportError(TransportError::Kind::responseTooLarge,
                                                "The file at " + request.url + " is longer than the " +
                                                    std::to_string(*downloadResumeState_.expectedSize()) +
                                                    " bytes the hub announced.");
        } catch (const TransportError& error) {
            // Only a break of the body stream is retried, from the count on disk.
            bool broken = headReceived && error.kind() != TransportError::Kind::cancelled;
            if (!broken || allowance <= 0 || stop.stop_requested()) {
                tryKeepWholeChunks();
                throw;
            }
            keepWholeChunks();
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, timing_.retryWait, [] { return false; });
            checkCancellation(stop);
            openSession();
            --allowance;
            continue;
        } catch (...) {
            tryKeepWholeChunks();
            throw;
        }
        if (!complete) downloadResumeState_.incDownloadedSize(inChunk);
        auto expected = downloadResumeState_.expectedSize();
        if (expected && *expected != file.size()) throw DownloadError::unexpectedError();
        return;
    }
}

void Downloader::cancel() {
    {
        std::lock_guard finishing(finishing_);
        if (auto task = task_.get()) task->request_stop();
    }
    if (auto session = session_.get()) session->invalidateAndCancel();
    broadcaster_.broadcast(DownloadState::failed(std::make_exception_ptr(TransportError::cancelled())));
}

}  // namespace korbit
