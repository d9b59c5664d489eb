#include "Platform/Sys/FileLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform::sys {

namespace fs = std::filesystem;

FileLock::FileLock(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
}

FileLock::~FileLock() {
    ::close(fd_);
}

bool FileLock::tryLock() {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK || errno == EINTR) return false;
    throw std::system_error(errno, std::generic_category(), "cannot lock " + path_.string());
}

bool FileLock::locks(const fs::path& path) const {
    struct stat held {
    }, named{};
    return ::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
           held.st_dev == named.st_dev;
}

bool createFileIfMissing(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno == EEXIST) return false;
    throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
}

}  // namespace platform::sys
