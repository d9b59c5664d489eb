#include "Platform/Sys/AtomicFileWriter.hpp"

#include "Platform/Sys/ExtendedAttributes.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Sys/Interruption.hpp"
#include "Platform/Sys/StandardDescriptors.hpp"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace platform::sys {

void (*afterProbeForTests)() = nullptr;

namespace {

// As many links as the kernel follows in one path.
constexpr int maxLinks = 40;

// A descriptor closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::string procPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

bool procMounted() {
    return ::access("/proc/self/fd", F_OK) == 0;
}

bool isNumber(std::string_view text) {
    return !text.empty() && text.size() < 10 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A loop, or a chain longer than the kernel follows: said in the kernel's words.
[[noreturn]] void throwLoop(const fs::path& target) {
    throwError(ELOOP, "Cannot write " + target.string());
}

// The process whose descriptors the folder lists, when it is a /proc/<pid>/fd or a
// /proc/<pid>/task/<tid>/fd (under any name: /dev/fd, /proc/self/fd, /proc/thread-self/fd); 0
// for any other folder.
pid_t descriptorsOf(int folder) {
    struct statfs system {};
    if (::fstatfs(folder, &system) != 0 || system.f_type != PROC_SUPER_MAGIC) return 0;
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(procPath(folder).c_str(), buffer, sizeof buffer);
    if (size <= 0 || static_cast<std::size_t>(size) == sizeof buffer) return 0;
    std::string_view at(buffer, static_cast<std::size_t>(size));
    const auto lastPart = [&at] {
        const std::size_t slash = at.rfind('/');
        const std::string_view part = at.substr(slash + 1);
        at = at.substr(0, slash == std::string_view::npos ? 0 : slash);
        return part;
    };
    if (lastPart() != "fd") return 0;
    std::string_view id = lastPart();
    if (isNumber(id) && at.ends_with("/task")) {
        lastPart();
        id = lastPart();
    }
    return isNumber(id) ? static_cast<pid_t>(std::stoi(std::string(id))) : 0;
}

// Whether the process is this one: the group's leader, or one of its threads.
bool isThisProcess(pid_t pid) {
    return pid == ::getpid() || ::access(("/proc/self/task/" + std::to_string(pid)).c_str(), F_OK) == 0;
}

// Where a path leads: the folder and name of its end, and what stands there.
struct End {
    Descriptor folder;       // the end's folder (O_PATH)
    std::string name;        // the end's name in it
    fs::path shown;          // that place as a path, as far as it can be told: for messages
    Descriptor probe;        // what stands there (O_PATH), not open when nothing does
    struct stat info {};     // its kind, mode and owners
    int ownDescriptor = -1;  // the process's own descriptor the path names
    bool entry = false;      // reached through another process's descriptor's entry
};

// Walks the path as the kernel would for this caller, and no further. The kernel resolves each
// folder part; the last name is looked at without following it. A link there is followed by
// reading it, one at a time, and only once the kernel agreed to follow it (a link of another
// user's in a shared sticky folder is not, with fs.protected_symlinks), so that its file is
// replaced in its own folder and the link stays. A descriptor's entry in /proc is no link to read
// ("pipe:[7]", "/x/h1.txt (deleted)"): it is the end. Any failure but "nothing there" is the
// write's.
End locate(const fs::path& target) {
    const std::string cannot = "Cannot write " + target.string();
    if (target.native().size() >= PATH_MAX) throwError(ENAMETOOLONG, cannot);
    End end;
    end.shown = target;
    fs::path rest = target;  // what is left to walk, from end.folder (the working folder at first)
    for (int links = 0;; ++links) {
        end.name = rest.filename().string();
        if (end.name.empty() || end.name == "." || end.name == "..")
            throwError(EISDIR, cannot + " (it names a folder)");
        // "<folder>/.": a link at the folder part's end is followed as the kernel follows it in the
        // whole path, as an intermediate link (fs.protected_symlinks guards a path's last name only).
        const fs::path folderPart = (rest.has_parent_path() ? rest.parent_path() : fs::path(".")) / ".";
        const int from = end.folder.get() >= 0 ? end.folder.get() : AT_FDCWD;
        Descriptor folder(::openat(from, folderPart.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0) {
            if (errno == ELOOP) throwLoop(target);
            throw cannotCreateError(errno, target, end.shown);
        }
        end.folder = std::move(folder);
        const int probe = ::openat(end.folder.get(), end.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        end.probe.reset(probe);
        const pid_t descriptors = descriptorsOf(end.folder.get());
        if (probe < 0) {
            if (error == ENOENT && descriptors == 0) return end;  // nothing there: a new file
            throwError(error, cannot);
        }
        if (afterProbeForTests != nullptr) afterProbeForTests();
        if (::fstat(end.probe.get(), &end.info) != 0) throwError(errno, cannot);
        if (!S_ISLNK(end.info.st_mode)) return end;
        if (descriptors != 0) {
            if (isThisProcess(descriptors) && isNumber(end.name)) {
                end.ownDescriptor = std::stoi(end.name);
                return end;
            }
            // The entry itself, as the kernel opens it.
            end.entry = true;
            const int entry = ::openat(end.folder.get(), end.name.c_str(), O_PATH | O_CLOEXEC);
            if (entry < 0) throwError(errno, cannot);
            end.probe.reset(entry);
            if (::fstat(entry, &end.info) != 0) throwError(errno, cannot);
            return end;
        }
        if (links == maxLinks) throwLoop(target);
        // The kernel's word on following it (it follows the rest of the chain too); one that leads
        // to nothing is followed, to make the file it names.
        const int followed = ::openat(end.folder.get(), end.name.c_str(), O_PATH | O_CLOEXEC);
        if (followed >= 0) {
            ::close(followed);
        } else if (errno == ELOOP) {
            throwLoop(target);
        } else if (errno != ENOENT) {
            throwError(errno, cannot);
        }
        char text[PATH_MAX];
        const ssize_t size = ::readlinkat(end.folder.get(), end.name.c_str(), text, sizeof text);
        if (size < 0 && errno == EINVAL) {
            rest = end.name;  // no longer a link: looked at again
            continue;
        }
        if (size <= 0 || static_cast<std::size_t>(size) == sizeof text)
            throwError(size < 0 ? errno : ENAMETOOLONG, cannot);
        rest = std::string(text, static_cast<std::size_t>(size));
        end.shown = rest.is_absolute() ? rest : end.shown.parent_path() / rest;
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int connectTo(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
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

// A descriptor from a non-blocking opening made blocking again, as a device is written.
int blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Opens for writing the very file `probe` (an O_PATH descriptor of another process's descriptor's
// entry) stands for, through its /proc link; where it must not wait, without waiting.
int reopen(int probe, int flags, bool wait) {
    const std::string link = procPath(probe);
    if (!wait) {
        const OpenedNode node = openWithoutWaiting(link, flags);
        errno = node.error;
        return node.fd;
    }
    int fd = -1;
    do fd = ::open(link.c_str(), flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether the file is one that an opening of this writer's with O_CREAT and mode 0 made where the
// file it looked at went away meanwhile: empty, the caller's, one name, no permission bits.
bool madeByTheOpening(const struct stat& opened) {
    return S_ISREG(opened.st_mode) && (opened.st_mode & 07777) == 0 && opened.st_size == 0 && opened.st_nlink == 1 &&
           opened.st_uid == ::geteuid();
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
    // What is written is decided by what the path leads to, not by a look at it before: a pipe put
    // in a file's place meanwhile must not be taken for a file, nor a file for a pipe.
    End end = locate(target_);
    if (end.ownDescriptor >= 0) {
        writeThroughDescriptor(end.ownDescriptor, special);
        return;
    }
    file_ = end.shown;
    name_ = end.name;
    folder_ = end.folder.release();
    try {
        if (end.probe.get() < 0) {
            createTemporary(permissions, nullptr, -1);
        } else {
            openEnd(end.probe.get(), end.info, end.entry, permissions, special);
        }
    } catch (...) {
        release();
        throw;
    }
}

void AtomicFileWriter::writeThroughDescriptor(int descriptor, SpecialFiles special) {
    // As the program's own output is written: at the descriptor's place, appending where it
    // appends, the file never renamed or cut.
    struct stat info {};
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fstat(descriptor, &info) != 0) throwError(errno, "Cannot write " + target_.string());
    // A standard descriptor the program was started without is held by a stand-in that refuses
    // writes: said as for the closed descriptor it stands for.
    if (wasClosedAtStart(descriptor)) throwError(EBADF, "Cannot write " + target_.string());
    if ((flags & O_ACCMODE) == O_RDONLY)
        throwError(EBADF, "Cannot write " + target_.string() + " (descriptor " + std::to_string(descriptor) +
                              " is open for reading only)");
    if (S_ISDIR(info.st_mode)) throwError(EISDIR, "Cannot write " + target_.string());
    if (special == SpecialFiles::devicesOnly && !S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode))
        throwError(EOPNOTSUPP, "Cannot write " + target_.string() + " (" + notAFile(info.st_mode) + ")");
    inPlace_ = true;
    fd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) throwError(errno, "Cannot write " + target_.string());
}

void AtomicFileWriter::openEnd(int probe, const struct stat& info, bool entry, FilePermissions permissions,
                               SpecialFiles special) {
    const std::string cannot = "Cannot write " + target_.string();
    if (S_ISDIR(info.st_mode)) throwError(EISDIR, "Cannot replace " + target_.string());
    if (S_ISBLK(info.st_mode)) throwError(EOPNOTSUPP, cannot + " (a block device)");
    if (special == SpecialFiles::devicesOnly && !S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode))
        throwError(EOPNOTSUPP, cannot + " (" + notAFile(info.st_mode) + ")");
    if (entry) {
        // Another process's descriptor is opened itself, as a shell's redirection opens it. Its file
        // has no name of its own to rename over (it may have none at all): written in place, from
        // its start. A device or pipe has nothing to cut; a pipe's opening waits for its reader.
        inPlace_ = true;
        if (S_ISSOCK(info.st_mode)) {
            fd_ = connectTo(procPath(probe));
        } else {
            const bool file = S_ISREG(info.st_mode);
            fd_ = reopen(probe, O_WRONLY | O_NOCTTY | O_CLOEXEC | (file ? O_TRUNC : 0),
                         file || special != SpecialFiles::devicesOnly);
        }
        if (fd_ < 0) throwError(errno, cannot);
        return;
    }
    // The kernel is asked as a shell's redirection asks it, whatever stands there: an opening for
    // writing with O_CREAT, never cutting. It refuses what the caller may not write (a mode, an
    // access list, a read-only file system) and, in a sticky world-writable folder, another user's
    // socket or device, and with fs.protected_regular and fs.protected_fifos their file or pipe.
    // What is written in place is written through that opening: a pipe's waits for its reader as
    // the shell's does, a device's too, unless the application keeps the file for itself. A socket
    // the kernel allows answers ENXIO, and is then connected to.
    const bool waits = special == SpecialFiles::writeInPlace && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
    Descriptor asked;
    do
        asked.reset(::openat(folder_, name_.c_str(),
                             O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | (waits ? 0 : O_NONBLOCK), 0));
    while (asked.get() < 0 && errno == EINTR);
    if (asked.get() < 0) {
        if (errno == ENXIO && S_ISSOCK(info.st_mode)) {
            inPlace_ = true;
            fd_ = connectTo(procPath(probe));
            if (fd_ < 0 && errno == ENOENT && !procMounted()) fd_ = connectTo(file_.string());
            if (fd_ < 0) throwError(errno, cannot);
            return;
        }
        throwError(errno == ELOOP ? EAGAIN : errno, cannot);  // ELOOP: a link put at the name meanwhile
    }
    struct stat opened {};
    if (::fstat(asked.get(), &opened) != 0) throwError(errno, cannot);
    if (!sameFile(opened, info)) {
        // Something changed at the name since the walk looked. Where the file went away, the
        // opening made an empty one, which nobody asked for: it goes (while the name still holds
        // it), and the write makes a new file. A file put there meanwhile is replaced in its turn;
        // anything else is refused.
        if (madeByTheOpening(opened)) {
            struct stat there {};
            if (::fstatat(folder_, name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(there, opened))
                ::unlinkat(folder_, name_.c_str(), 0);
            asked.reset();
            createTemporary(permissions, nullptr, -1);
            return;
        }
        if (!S_ISREG(opened.st_mode) || !S_ISREG(info.st_mode)) throwError(EAGAIN, cannot);
    }
    if (S_ISREG(opened.st_mode)) {
        createTemporary(permissions, &opened, asked.get());
        return;
    }
    inPlace_ = true;
    fd_ = blocking(asked.release());
}

AtomicFileWriter::~AtomicFileWriter() {
    release();
}

void AtomicFileWriter::createTemporary(FilePermissions permissions, const struct stat* old, int oldFile) {
    // A new output gets 0666 less the umask (and the folder's default ACL) from the kernel;
    // anything else is private while it is written and gets its mode below.
    const bool fromUmask = permissions == FilePermissions::inherited && old == nullptr;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; fd_ < 0; ++attempt) {
        // Names are made in the folder's own descriptor, so that the temporary name's length
        // counts against the limit of a name, never of a path.
        std::string candidate = temporaryName(name_, random);
        // Listed as it is made: an interruption removes it (Interruption::install).
        fd_ = Interruption::createFile(folder_, candidate, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                       fromUmask ? 0666 : 0600);
        if (fd_ >= 0) {
            temporary_ = std::move(candidate);
        } else if (errno != EEXIST || attempt == 100) {
            // The temporary file is how the write works, not what the caller asked for: every
            // message names the target.
            throw cannotCreateError(errno, target_, file_);
        }
    }
    if (fromUmask) return;
    if (old != nullptr) {
        // The file stays its owner's whoever replaces it (root, say); only root gives a file away,
        // and anyone may give it one of their groups.
        struct stat made {};
        if (::fstat(fd_, &made) != 0) fail(errno);
        bool groupKept = made.st_gid == old->st_gid;
        if (made.st_uid != old->st_uid || !groupKept)
            groupKept =
                ::fchown(fd_, old->st_uid, old->st_gid) == 0 || ::fchown(fd_, static_cast<uid_t>(-1), old->st_gid) == 0;
        // Its extended attributes stay too, as a copy that keeps all keeps them, and its access:
        // its list or none, never what the folder's default list gave the temporary file.
        copyExtendedAttributes(oldFile, fd_);
        if (permissions == FilePermissions::inherited) {
            if (!copyAccess(oldFile, fd_, groupKept)) fail(errno);
            return;
        }
    }
    // The user's private data: 0600, and no list for anyone else, whatever the folder's default.
    if (!restrictAccess(fd_, 0600)) fail(errno);
}

void AtomicFileWriter::release() {
    if (staging_ >= 0) ::close(staging_);
    staging_ = -1;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!temporary_.empty()) Interruption::removeFile(folder_, temporary_);
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
    } else if (Interruption::renameFile(folder_, temporary_, name_) != 0) {
        error = errno;
        what = "Cannot replace " + target_.string();
    }
    if (error != 0) {
        Interruption::removeFile(folder_, temporary_);
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
    try {
        const End end = locate(path);
        struct stat named {};
        struct stat output {};
        return end.ownDescriptor >= 0 && ::fstat(end.ownDescriptor, &named) == 0 &&
               ::fstat(STDOUT_FILENO, &output) == 0 && sameFile(named, output);
    } catch (const std::system_error&) {
        return false;
    }
}

void writeFileAtomically(const fs::path& path, std::string_view bytes, FilePermissions permissions,
                         SpecialFiles special) {
    AtomicFileWriter writer(path, permissions, special);
    writer.write(bytes);
    writer.commit();
}

}  // namespace platform::sys
