#pragma once

#include <exception>
#include <filesystem>
#include <optional>

namespace korbit {

/// The state of one transfer (also `Downloader::DownloadState`).
struct DownloadState {
    enum class Kind { downloading, completed, failed, notStarted };

    Kind kind = Kind::notStarted;
    /// downloading: the fraction of the expected size on disk (0 to 1).
    double progress = 0;
    /// downloading: bytes per second, absent when unknown.
    std::optional<double> speed;
    /// completed: where the file now lies.
    std::filesystem::path url;
    /// failed: why.
    std::exception_ptr error;

    static DownloadState downloading(double progress, std::optional<double> speed) {
        DownloadState s;
        s.kind = Kind::downloading;
        s.progress = progress;
        s.speed = speed;
        return s;
    }
    static DownloadState completed(std::filesystem::path url) {
        DownloadState s;
        s.kind = Kind::completed;
        s.url = std::move(url);
        return s;
    }
    static DownloadState failed(std::exception_ptr error) {
        DownloadState s;
        s.kind = Kind::failed;
        s.error = std::move(error);
        return s;
    }
    static DownloadState notStarted() { return DownloadState{}; }
};

}  // namespace korbit
