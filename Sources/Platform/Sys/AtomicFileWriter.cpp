#include "Platform/Sys/AtomicFileWriter.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace platform::sys {
namespace {

// As many links as the kernel follows in one path.
constexpr int maxLinks = 40;

// The folder that lists this process's descriptors, under any of its names: /proc/self/fd,
// /dev/fd, /proc/thread-self/fd and /proc/<pid>/task/<tid>/fd all lead to one of these.
bool isOwnDescriptorFolder(const fs::path& folder) {
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) return false;
    const std::string resolved = real;
    std::free(real);
    const std::string own = "/proc/" + std::to_string(::getpid());
    if (resolved == own + "/fd") return true;
    const std::string tasks = own + "/task/";
    if (!resolved.starts_with(tasks) || !resolved.ends_with("/fd")) return false;
    const std::string tid = resolved.substr(tasks.size(), resolved.size() - tasks.size() - 3);
    return !tid.empty() && tid.find_first_not_of("0123456789") == std::string::npos;
}

// The number N when the path, or a link on its way, is this process's /proc/self/fd/N: such a
// link's text is no path to follow ("pipe:[7]", "/x/gone.txt (deleted)"), the descriptor is what
// the user named.
std::optional<int> ownDescriptorNamed(const fs::path& path) {
    fs::path at = path;
    for (int links = 0; links <= maxLinks; ++links) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return std::nullopt;
        const std::string name = at.filename().string();
        if (!name.empty() && name.size() < 10 && name.find_first_not_of("0123456789") == std::string::npos &&
            isOwnDescriptorFolder(at.parent_path()))
            return std::stoi(name);
        std::error_code ec;
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) return std::nullopt;
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return std::nullopt;
}

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

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

// Opens for writing the very file `probe` (an O_PATH descriptor) stands for, through its /proc
// link, so that nothing put at the name meanwhile is opened instead. Without /proc, by name, and
// only when that is still the same file.
int reopen(int probe, const struct stat& probed, const fs::path& name, int flags) {
    const std::string link = "/proc/self/fd/" + std::to_string(probe);
    while (true) {
        int fd = ::open(link.c_str(), flags);
        if (fd < 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
            fd = ::open(name.c_str(), flags);
            struct stat opened {};
            if (fd >= 0 && (::fstat(fd, &opened) != 0 || !sameFile(opened, probed))) {
                ::close(fd);
                errno = EAGAIN;  // something else took the name meanwhile
                return -1;
            }
        }
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// A descriptor from a non-blocking opening made blocking again, as a device is written.
int blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// The name of the temporary file beside `name`: hidden, the target's name kept as far as the
// folder's limit on names leaves room for it (cut where a character begins), six random letters.
std::string temporaryName(const std::string& name, std::mt19937_64& random) {
    static constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::size_t kept = std::min(name.size(), std::size_t{NAME_MAX} - 8);
    while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) --kept;
    std::string temporary = "." + name.substr(0, kept) + ".";
    for (int i = 0; i < 6; ++i) temporary += letters[random() % letters.size()];
    return temporary;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(fs::path target, FilePermissions permissions, SpecialFiles special)
    : target_(std::move(target)), file_(target_) {
    // What is written is decided by what the path opens to, not by a look at it before: a pipe put
    // in a file's place meanwhile must not be taken for a file, nor a file for a pipe.
    if (const std::optional<int> descriptor = ownDescriptorNamed(target_)) {
        writeThroughDescriptor(*descriptor, special);
        return;
    }
    const int probe = ::open(target_.c_str(), O_PATH | O_CLOEXEC);
    if (probe < 0) {
        if (errno == ELOOP)
            throwError(ELOOP, "Cannot write " + target_.string() + " (its symbolic links lead round in a loop)");
        // Nothing there yet (or a link to nothing): a new file. Any other reason shows at its making.
        file_ = endOfLinks(target_);
        createTemporary(permissions);
        return;
    }
    struct stat info {};
    const int error = ::fstat(probe, &info) == 0 ? 0 : errno;
    try {
        if (error != 0) throwError(error, "Cannot write " + target_.string());
        openProbed(probe, info, permissions, special);
    } catch (...) {
        ::close(probe);
        throw;
    }
    ::close(probe);
}

void AtomicFileWriter::writeThroughDescriptor(int descriptor, SpecialFiles special) {
    // As the program's own output is written: at the descriptor's place, appending where it
    // appends, the file never renamed or cut.
    struct stat info {};
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fstat(descriptor, &info) != 0) throwError(errno, "Cannot write " + target_.string());
    if ((flags & O_ACCMODE) == O_RDONLY)
        throwError(EBADF, "Cannot write " + target_.string() + " (descriptor " + std::to_string(descriptor) +
                              " is open for reading only)");
    if (S_ISDIR(info.st_mode)) throwError(EISDIR, "Cannot write " + target_.string());
    if (special == SpecialFiles::devicesOnly && !S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode))
        throwError(EOPNOTSUPP, "Cannot write " + target_.string() + " (" + nodeKind(info.st_mode) + ", not a file)");
    inPlace_ = true;
    fd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) throwError(errno, "Cannot write " + target_.string());
}

void AtomicFileWriter::openProbed(int probe, const struct stat& info, FilePermissions permissions,
                                  SpecialFiles special) {
    if (S_ISDIR(info.st_mode)) throwError(EISDIR, "Cannot replace " + target_.string());
    if (S_ISBLK(info.st_mode)) throwError(EOPNOTSUPP, "Cannot write " + target_.string() + " (a block device)");
    if (S_ISREG(info.st_mode)) {
        // A file that no name leads to (reached through another process's descriptor of a deleted
        // file) has nothing to rename over: it is written in place. One that another writer
        // replaced meanwhile is replaced in its turn, as it would have been a moment later.
        if (info.st_nlink > 0) {
            file_ = endOfLinks(target_);
            createTemporary(permissions);
            return;
        }
        inPlace_ = true;
        fd_ = reopen(probe, info, target_, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) throwError(errno, "Cannot write " + target_.string());
        return;
    }
    if (special == SpecialFiles::devicesOnly && !S_ISCHR(info.st_mode))
        throwError(EOPNOTSUPP, "Cannot write " + target_.string() + " (" + nodeKind(info.st_mode) + ", not a file)");
    inPlace_ = true;
    if (S_ISSOCK(info.st_mode)) {
        fd_ = connectTo(target_);
    } else {
        // No O_TRUNC: a device or a pipe has nothing to cut. A pipe's opening waits for a reader;
        // a device's must not wait where the application keeps its own files.
        const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (special == SpecialFiles::devicesOnly ? O_NONBLOCK : 0);
        fd_ = reopen(probe, info, target_, flags);
        if (fd_ >= 0) blocking(fd_);
    }
    if (fd_ < 0) throwError(errno, "Cannot write " + target_.string());
}

AtomicFileWriter::~AtomicFileWriter() {
    release();
}

void AtomicFileWriter::createTemporary(FilePermissions permissions) {
    const std::string name = file_.filename().string();
    if (name.empty() || name == "." || name == "..")
        throwError(EISDIR, "Cannot write " + target_.string() + " (it names a folder)");
    // Names are made in the folder's own descriptor, so that the temporary name's length counts
    // against the limit of a name, never of a path.
    const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
    folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) throw cannotCreateError(errno, target_, file_);

    struct stat old {};
    const bool replacing = ::fstatat(folder_, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    // A new output gets 0666 less the umask (and the folder's default ACL) from the kernel;
    // anything else is private while it is written and gets its mode below.
    const bool fromUmask = permissions == FilePermissions::inherited && !replacing;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; fd_ < 0; ++attempt) {
        std::string candidate = temporaryName(name, random);
        fd_ = ::openat(folder_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, fromUmask ? 0666 : 0600);
        if (fd_ >= 0) {
            temporary_ = std::move(candidate);
        } else if (errno != EEXIST || attempt == 100) {
            // The temporary file is how the write works, not what the caller asked for: every
            // message names the target.
            const int error = errno;
            release();
            throw cannotCreateError(error, target_, file_);
        }
    }
    if (fromUmask) return;
    mode_t mode = 0600;
    if (permissions == FilePermissions::inherited) mode = old.st_mode & 0777;  // new bytes do not inherit set-id bits
    if (replacing) {
        // The file stays its owner's whoever replaces it (root, say); only root gives a file away,
        // and anyone may give it one of their groups.
        struct stat made {};
        if (::fstat(fd_, &made) != 0) fail(errno);
        const bool sameOwners = made.st_uid == old.st_uid && made.st_gid == old.st_gid;
        if (!sameOwners && ::fchown(fd_, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(070);  // the old group's rights go to no other group
    }
    if (::fchmod(fd_, mode) != 0) fail(errno);
}

void AtomicFileWriter::release() {
    if (staging_ >= 0) ::close(staging_);
    staging_ = -1;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
    }
    if (folder_ >= 0) ::close(folder_);
    folder_ = -1;
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
    const int fd = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && (::fsync(fd) == 0 || errno == EINVAL);  // EINVAL: it cannot be flushed
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) {
        const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
        throwError(error, "Cannot flush the folder " + folder.string() + ": the new " + target_.string() +
                              " may not outlast a crash");
    }
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
    } else if (::renameat(folder_, temporary_.c_str(), folder_, file_.filename().c_str()) != 0) {
        error = errno;
        what = "Cannot replace " + target_.string();
    }
    if (error != 0) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        release();
        throwError(error, what);
    }
    temporary_.clear();
    try {
        syncFolder();
    } catch (...) {
        release();
        throw;
    }
    release();
}

bool namesStandardOutput(const fs::path& path) {
    const std::optional<int> descriptor = ownDescriptorNamed(path);
    if (!descriptor) return false;
    struct stat named {};
    struct stat output {};
    return ::fstat(*descriptor, &named) == 0 && ::fstat(STDOUT_FILENO, &output) == 0 && sameFile(named, output);
}

void writeFileAtomically(const fs::path& path, std::string_view bytes, FilePermissions permissions,
                         SpecialFiles special) {
    AtomicFileWriter writer(path, permissions, special);
    writer.write(bytes);
    writer.commit();
}

}  // namespace platform::sys
