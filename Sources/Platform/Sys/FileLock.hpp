#pragma once

// An exclusive advisory lock (flock(2)) on a file, so that two writers of the same file, threads or
// processes, never work on it at once. The lock lives as long as the object.

#include <filesystem>

namespace platform::sys {

class FileLock {
public:
    /// Opens the existing file, not yet locked. Throws std::system_error ("cannot open <path>").
    explicit FileLock(const std::filesystem::path& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Takes the lock without waiting: false while another holder has it (or the call was
    /// interrupted), so the caller decides whether to try again. Throws std::system_error
    /// ("cannot lock <path>") for any other failure.
    bool tryLock();

    /// Whether `path` still names the opened file (it was not moved away or replaced meanwhile).
    bool locks(const std::filesystem::path& path) const;

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

/// Creates an empty file unless one exists (O_EXCL); true when it made one. Throws
/// std::system_error ("cannot create <path>") for failures other than the file existing.
bool createFileIfMissing(const std::filesystem::path& path);

}  // namespace platform::sys
