#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace korbit {

/// The byte counts of one transfer engine: the size the caller expects and the bytes of the
/// partial file known to be on disk.
class DownloadResumeState {
public:
    void setExpectedSize(std::optional<std::int64_t> size) {
        std::lock_guard lock(mutex_);
        expectedSize_ = size;
    }
    void setDownloadedSize(std::int64_t size) {
        std::lock_guard lock(mutex_);
        downloadedSize_ = size;
    }
    void incDownloadedSize(std::int64_t count) {
        std::lock_guard lock(mutex_);
        downloadedSize_ += count;
    }
    std::optional<std::int64_t> expectedSize() const {
        std::lock_guard lock(mutex_);
        return expectedSize_;
    }
    std::int64_t downloadedSize() const {
        std::lock_guard lock(mutex_);
        return downloadedSize_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::int64_t> expectedSize_;
    std::int64_t downloadedSize_ = 0;
};

}  // namespace korbit
