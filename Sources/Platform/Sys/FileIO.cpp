#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace platform::sys {
namespace {

[[noreturn]] void throwError(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A file that cannot be made: a missing folder is named, as it is the usual cause.
[[noreturn]] void throwCannotCreate(int error, const fs::path& target) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    if (error == ENOENT && !fs::exists(folder, ec))
        throwError(error, "Cannot write " + target.string() + ": the folder " + folder.string() + " does not exist");
    throwError(error, "Cannot write " + target.string());
}

}  // namespace

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void startWriteBack(int fd, std::int64_t offset, std::int64_t length) {
    if (length > 0) ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

std::string readFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwError(errno, "Cannot open " + path.string());
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throwError(error, "Cannot read " + path.string());
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void writeFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throwCannotCreate(errno, path);
    if (!writeAll(fd, bytes.data(), bytes.size())) {
        const int error = errno;
        ::close(fd);
        throwError(error, "Cannot write " + path.string());
    }
    if (::close(fd) != 0) throwError(errno, "Cannot write " + path.string());
}

AtomicFileWriter::AtomicFileWriter(fs::path target, mode_t mode) : target_(std::move(target)) {
    std::string pattern = (target_.parent_path() / ("." + target_.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(pattern.data());
    // The temporary file is how the write works, not what the caller asked for: every message
    // names the target.
    if (fd_ < 0) throwCannotCreate(errno, target_);
    temporary_ = pattern;
    // mkstemp makes the file private; the target gets the usual permissions.
    if (::fchmod(fd_, mode) != 0) fail(errno, "Cannot write " + target_.string());
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ < 0) return;
    ::close(fd_);
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void AtomicFileWriter::fail(int error, const std::string& what) {
    ::close(fd_);
    fd_ = -1;
    std::error_code ignored;
    fs::remove(temporary_, ignored);
    throwError(error, what);
}

void AtomicFileWriter::write(const void* data, std::size_t size) {
    if (fd_ < 0) throwError(EBADF, "Cannot write " + target_.string() + " after it was committed or failed");
    if (!writeAll(fd_, static_cast<const char*>(data), size)) fail(errno, "Cannot write " + target_.string());
}

void AtomicFileWriter::commit() {
    if (fd_ < 0) throwError(EBADF, "Cannot commit " + target_.string() + " twice or after a failure");
    if (::fsync(fd_) != 0) fail(errno, "Cannot write " + target_.string());
    const int fd = fd_;
    fd_ = -1;
    int error = 0;
    std::string what;
    if (::close(fd) != 0) {
        error = errno;
        what = "Cannot write " + target_.string();
    } else if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = errno;
        what = "Cannot replace " + target_.string();
    }
    if (error == 0) return;
    std::error_code ignored;
    fs::remove(temporary_, ignored);
    throwError(error, what);
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    AtomicFileWriter writer(path);
    writer.write(bytes);
    writer.commit();
}

}  // namespace platform::sys
