#include "KorbitCore/External/Hub/CacheFile.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace korbit {
namespace {

// Whether the client must not use what stands there as a file. A character device is written as
// a file is (/dev/null, /dev/full), as the metadata writer does, but never read.
bool special(mode_t mode, bool reading) {
    return S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISBLK(mode) || (S_ISCHR(mode) && reading);
}

}  // namespace

NotAFileError::NotAFileError(const std::filesystem::path& path, std::string_view doing, unsigned mode, int error)
    : std::system_error(error, std::generic_category(),
                        std::string(doing) + " " + path.string() + " (" + platform::sys::notAFile(mode) + ")") {}

void refuseSpecialFile(const std::filesystem::path& path, std::string_view doing) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return;
    if (special(info.st_mode, false)) throw NotAFileError(path, doing, info.st_mode);
}

int openCacheFile(const std::filesystem::path& path, int flags, std::string_view doing) {
    const platform::sys::OpenedNode node = platform::sys::openWithoutWaiting(path, flags);
    if (node.fd < 0) {
        // A pipe opened for writing without a reader, and a socket, fail so: say what stands there.
        if (node.error == ENXIO && special(node.mode, false)) throw NotAFileError(path, doing, node.mode);
        errno = node.error;
        return -1;
    }
    if (special(node.mode, (flags & O_ACCMODE) == O_RDONLY)) {
        ::close(node.fd);
        throw NotAFileError(path, doing, node.mode);
    }
    return node.fd;
}

std::string readCacheFile(const std::filesystem::path& path) {
    const int fd = openCacheFile(path, O_RDONLY);
    if (fd < 0) platform::sys::throwError(errno, "Cannot open " + path.string());
    std::string bytes;
    const bool read = platform::sys::readAll(fd, bytes);
    const int error = errno;
    ::close(fd);
    if (!read) platform::sys::throwError(error, "Cannot read " + path.string());
    return bytes;
}

}  // namespace korbit
