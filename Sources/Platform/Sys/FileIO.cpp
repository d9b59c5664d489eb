#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace platform::sys {

void throwError(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

std::string nodeKind(unsigned mode) {
    if (S_ISREG(mode)) return "a file";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISDIR(mode)) return "a folder";
    return "something other than a file";
}

std::string notAFile(unsigned mode) {
    return nodeKind(mode) + ", not a file";
}

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

bool readAll(int fd, std::string& bytes) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(bytes.size() + static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

OpenedNode openWithoutWaiting(const fs::path& path, int flags, NodeKinds kinds, mode_t created) {
    OpenedNode node;
    struct stat info {};
    // Not even opened when it is no file: the look before only spares a device its opening, the
    // descriptor's own kind below is what counts.
    if (kinds == NodeKinds::regularFilesOnly && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        node.mode = info.st_mode;
        return node;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, created);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        node.error = errno;
        // A pipe opened for writing without a reader, and a socket, fail so: say what stands there.
        if (::stat(path.c_str(), &info) == 0) node.mode = info.st_mode;
        errno = node.error;
        return node;
    }
    if (::fstat(fd, &info) != 0) {
        node.error = errno;
        ::close(fd);
        errno = node.error;
        return node;
    }
    node.mode = info.st_mode;
    if (kinds == NodeKinds::regularFilesOnly && !S_ISREG(info.st_mode)) {
        ::close(fd);
        return node;
    }
    if (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode)) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    node.fd = fd;
    return node;
}

std::string readFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwError(errno, "Cannot open " + path.string());
    std::string bytes;
    if (!readAll(fd, bytes)) {
        const int error = errno;
        ::close(fd);
        throwError(error, "Cannot read " + path.string());
    }
    ::close(fd);
    return bytes;
}

std::system_error cannotCreateError(int error, const fs::path& asked, const fs::path& made) {
    const fs::path folder = made.has_parent_path() ? made.parent_path() : fs::path(".");
    std::error_code ec;
    if (error == ENOENT && !fs::exists(folder, ec))
        return {error, std::generic_category(),
                "Cannot write " + asked.string() + ": the folder " + folder.string() + " does not exist"};
    return {error, std::generic_category(), "Cannot write " + asked.string()};
}

void writeFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw cannotCreateError(errno, path, path);
    if (!writeAll(fd, bytes.data(), bytes.size())) {
        const int error = errno;
        ::close(fd);
        throwError(error, "Cannot write " + path.string());
    }
    if (::close(fd) != 0) throwError(errno, "Cannot write " + path.string());
}

}  // namespace platform::sys
