#include "Platform/Sys/AtomicFileWriter.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace platform::sys {
namespace {

// As many links as the kernel follows in one path.
constexpr int maxLinks = 40;

// The file at the end of the path's chain of links (the path itself when it is no link), whether
// it exists or not. Links are read one by one, so that the file is replaced, not the last link.
fs::path endOfLinks(const fs::path& path) {
    fs::path at = path;
    for (int links = 0;; ++links) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        if (links == maxLinks)
            throwError(ELOOP, "Cannot write " + path.string() + " (its symbolic links lead round in a loop)");
        std::error_code ec;
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) throwError(ec.value(), "Cannot write " + path.string());
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
}

int connectTo(const fs::path& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = socketPath.string();
    if (name.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(fs::path target, FilePermissions permissions, SpecialFiles special)
    : target_(std::move(target)), file_(target_) {
    // The kernel follows every link, /proc's own included: what stands at the end decides.
    struct stat info {};
    if (::stat(target_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) throwError(EISDIR, "Cannot replace " + target_.string());
        if (S_ISBLK(info.st_mode)) throwError(EOPNOTSUPP, "Cannot write " + target_.string() + " (a block device)");
        if (!S_ISREG(info.st_mode)) {
            if (special == SpecialFiles::devicesOnly && !S_ISCHR(info.st_mode))
                throwError(S_ISFIFO(info.st_mode) ? ESPIPE : EOPNOTSUPP,
                           "Cannot write " + target_.string() +
                               (S_ISFIFO(info.st_mode) ? " (a named pipe, not a file)" : " (not a file)"));
            inPlace_ = true;
            fd_ = S_ISSOCK(info.st_mode) ? connectTo(target_) : openInPlace();
            if (fd_ < 0) throwError(errno, "Cannot write " + target_.string());
            return;
        }
    }
    file_ = endOfLinks(target_);
    createTemporary(permissions);
}

AtomicFileWriter::~AtomicFileWriter() {
    release();
}

int AtomicFileWriter::openInPlace() const {
    // No O_TRUNC: a device or a pipe has nothing to cut. A pipe's opening waits for a reader.
    while (true) {
        const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

void AtomicFileWriter::createTemporary(FilePermissions permissions) {
    struct stat old {};
    const bool replacing = ::lstat(file_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // A new output gets 0666 less the umask (and the folder's default ACL) from the kernel;
    // anything else is private while it is written and gets its mode below.
    const bool fromUmask = permissions == FilePermissions::inherited && !replacing;
    static constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; fd_ < 0; ++attempt) {
        std::string name = "." + file_.filename().string() + ".";
        for (int i = 0; i < 6; ++i) name += letters[random() % letters.size()];
        const fs::path candidate = file_.parent_path() / name;
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, fromUmask ? 0666 : 0600);
        if (fd_ >= 0) {
            temporary_ = candidate;
        } else if (errno != EEXIST || attempt == 100) {
            // The temporary file is how the write works, not what the caller asked for: every
            // message names the target.
            throw cannotCreateError(errno, target_, file_);
        }
    }
    if (fromUmask) return;
    mode_t mode = 0600;
    if (permissions == FilePermissions::inherited) {
        mode = old.st_mode & 0777;  // new bytes do not inherit set-id bits
        struct stat made {};
        if (::fstat(fd_, &made) != 0) fail(errno);
        const bool sameOwners = made.st_uid == old.st_uid && made.st_gid == old.st_gid;
        // Only root gives a file away; anyone may give it one of their groups.
        if (!sameOwners && ::fchown(fd_, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(070);  // the old group's rights go to no other group
    }
    if (::fchmod(fd_, mode) != 0) fail(errno);
}

void AtomicFileWriter::release() {
    if (staging_ >= 0) ::close(staging_);
    staging_ = -1;
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    std::error_code ignored;
    if (!temporary_.empty()) fs::remove(temporary_, ignored);
}

void AtomicFileWriter::fail(int error) {
    release();
    throwError(error, "Cannot write " + target_.string());
}

int AtomicFileWriter::descriptor() {
    if (fd_ < 0 || !inPlace_) return fd_;
    if (staging_ < 0) {
        staging_ = ::memfd_create("velmora-output", MFD_CLOEXEC);
        if (staging_ < 0) fail(errno);
    }
    return staging_;
}

void AtomicFileWriter::write(const void* data, std::size_t size) {
    if (fd_ < 0) throwError(EBADF, "Cannot write " + target_.string() + " after it was committed or failed");
    if (!writeAll(staging_ >= 0 ? staging_ : fd_, static_cast<const char*>(data), size)) fail(errno);
}

void AtomicFileWriter::sendStaged() {
    if (::lseek(staging_, 0, SEEK_SET) != 0) fail(errno);
    char buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(staging_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n > 0 && !writeAll(fd_, buffer, static_cast<std::size_t>(n)))) fail(errno);
        if (n == 0) return;
    }
}

void AtomicFileWriter::syncFolder() const {
    // Until the folder is on disk, a crash may keep neither the new file nor the old.
    const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && (::fsync(fd) == 0 || errno == EINVAL);  // EINVAL: it cannot be flushed
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced)
        throwError(error, "Cannot flush the folder " + folder.string() + ": the new " + target_.string() +
                              " may not outlast a crash");
}

void AtomicFileWriter::commit() {
    if (fd_ < 0) throwError(EBADF, "Cannot commit " + target_.string() + " twice or after a failure");
    if (inPlace_) {
        if (staging_ >= 0) sendStaged();
        const int fd = std::exchange(fd_, -1);
        release();
        if (::close(fd) != 0 && errno != EINTR) throwError(errno, "Cannot write " + target_.string());
        return;
    }
    if (::fsync(fd_) != 0) fail(errno);
    const int fd = std::exchange(fd_, -1);
    int error = 0;
    std::string what;
    if (::close(fd) != 0) {
        error = errno;
        what = "Cannot write " + target_.string();
    } else if (::rename(temporary_.c_str(), file_.c_str()) != 0) {
        error = errno;
        what = "Cannot replace " + target_.string();
    }
    if (error != 0) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        throwError(error, what);
    }
    syncFolder();
}

void writeFileAtomically(const fs::path& path, std::string_view bytes, FilePermissions permissions,
                         SpecialFiles special) {
    AtomicFileWriter writer(path, permissions, special);
    writer.write(bytes);
    writer.commit();
}

}  // namespace platform::sys
