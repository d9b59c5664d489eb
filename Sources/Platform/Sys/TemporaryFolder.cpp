#include "Platform/Sys/TemporaryFolder.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace platform::sys {

namespace fs = std::filesystem;

namespace {

// The mark of a folder this program made: a file whose lock its run holds while it lives. It gets
// its name only once locked, so that no other run ever finds it unheld in a live run's folder.
constexpr const char* kMark = ".velmora-folder.lock";
constexpr const char* kMarkBeingMade = ".velmora-folder.lock.new";

/// Whether `name` in the folder `folder` is the very file or folder `fd` has open.
bool sameAt(int folder, const char* name, int fd) {
    struct stat named {
    }, held{};
    return ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

/// The names in the open folder, listed before anything is removed from it.
std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return names;
    DIR* const entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(entries);
    return names;
}

/// Removes what the open folder holds through its descriptor, so that no link is ever followed
/// and a subfolder renamed meanwhile takes nothing outside with it. Another thread of the process
/// may still be writing into it: what it adds between one pass and the next is removed by the next.
void removeContents(int folder, int depth = 0) {
    for (int pass = 0; pass < 10; ++pass) {
        bool all = true;
        for (const std::string& name : namesIn(folder)) {
            if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) continue;
            if ((errno == EISDIR || errno == EPERM) && depth < 64) {
                const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner >= 0) {
                    removeContents(inner, depth + 1);
                    ::close(inner);
                }
                if (::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) continue;
            }
            all = false;
        }
        if (all) return;
    }
}

/// The mark `name` in the open folder, opened and locked, when it is a regular file of the
/// caller's that no live run holds; -1 otherwise. Closing it lets the lock go.
int unheldMark(int folder, const char* name) {
    struct stat info {};
    // Looked at before it is opened: another user's file, or a device, is never opened.
    if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid())
        return -1;
    const int mark = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (mark >= 0 && ::flock(mark, LOCK_EX | LOCK_NB) == 0 && sameAt(folder, name, mark)) return mark;
    if (mark >= 0) ::close(mark);
    return -1;
}

/// Removes the caller's folder `name` (open as `folder`) that a run killed while it made it left
/// unmarked: empty, or holding only the mark being made, unlocked. Nothing else is ever removed
/// (rmdir removes no folder that holds anything); a live run that loses its folder so takes another.
void removeIfUnmarked(int parent, const std::string& name, int folder) {
    const std::vector<std::string> names = namesIn(folder);
    if (names.size() > 1 || (names.size() == 1 && names.front() != kMarkBeingMade)) return;
    if (!names.empty()) {
        const int mark = unheldMark(folder, kMarkBeingMade);
        if (mark < 0) return;
        ::unlinkat(folder, kMarkBeingMade, 0);
        ::close(mark);
    }
    if (sameAt(parent, name.c_str(), folder)) ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

/// Removes `name` in the open folder `parent` when it is an abandoned folder of this program's: the
/// caller's, with its mark in it, the caller's too, and the mark's lock free; or one left unmarked.
void removeIfAbandoned(int parent, const std::string& name) {
    const int folder = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    struct stat info {};
    if (::fstat(folder, &info) == 0 && info.st_uid == ::geteuid()) {
        if (const int mark = unheldMark(folder, kMark); mark >= 0) {
            // Held until the folder is gone: a run making a folder of this name meanwhile waits for
            // the lock, then finds its mark gone and takes another name.
            if (sameAt(parent, name.c_str(), folder)) {
                removeContents(folder);
                if (sameAt(parent, name.c_str(), folder)) ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
            }
            ::close(mark);
        } else {
            removeIfUnmarked(parent, name, folder);
        }
    }
    ::close(folder);
}

int openFolder(const fs::path& path, int flags) {
    return ::open(path.empty() ? "." : path.c_str(), flags | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

TemporaryFolder::TemporaryFolder(const fs::path& parent, const std::string& prefix) {
    removeAbandoned(parent, prefix);
    const std::string what = "Cannot make a folder in " + parent.string();
    parent_ = openFolder(parent, O_PATH);
    if (parent_ < 0) throwError(errno, what);
    // Made and listed as one step: an interruption never misses it.
    const auto listed = Interruption::lock();
    for (int attempt = 0;; ++attempt) {
        std::string made = (parent / (prefix + "XXXXXX")).string();
        if (::mkdtemp(made.data()) == nullptr) {
            const int error = errno;
            ::close(parent_);
            throwError(error, what);
        }
        path_ = made;
        name_ = path_.filename().string();
        const int error = markMade();
        if (error == 0) break;
        if (mark_ >= 0) ::close(mark_);
        if (fd_ >= 0) {
            ::unlinkat(fd_, kMarkBeingMade, 0);
            ::close(fd_);
        }
        mark_ = fd_ = -1;
        if (error != EEXIST) ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
        // Another run took it, not marked yet, for one a killed run left: another name.
        if (error == ENOENT && attempt < 100) continue;
        ::close(parent_);
        throwError(error, what);
    }
    Interruption::add(*this);
}

int TemporaryFolder::markMade() {
    fd_ = ::openat(parent_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) return errno;
    // Another user swapped it for a folder of theirs (in their own folder, under root's run).
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return errno;
    if (info.st_uid != ::geteuid()) {
        ::close(fd_);
        fd_ = -1;  // not ours to remove
        return EEXIST;
    }
    mark_ = ::openat(fd_, kMarkBeingMade, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (mark_ < 0) return errno;
    int locked = 0;
    while ((locked = ::flock(mark_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0 || ::renameat(fd_, kMarkBeingMade, fd_, kMark) != 0) return errno;
    return 0;
}

TemporaryFolder::~TemporaryFolder() {
    {
        const auto listed = Interruption::lock();
        Interruption::drop(*this);
        const std::lock_guard moving(moving_);
        if (!kept_) remove();
    }
    ::close(mark_);
    ::close(fd_);
    ::close(parent_);
}

void TemporaryFolder::keep() {
    const std::lock_guard moving(moving_);
    if (!kept_) ::unlinkat(fd_, kMark, 0);
    kept_ = true;
}

TemporaryFolder::Moving::Moving(TemporaryFolder& folder) : lock_(folder.moving_) {}

void TemporaryFolder::interrupted() noexcept {
    // A replacement under way ends first: the files it set aside are then of no use.
    const std::lock_guard moving(moving_);
    if (!kept_) remove();
}

void TemporaryFolder::remove() noexcept {
    removeContents(fd_);
    if (sameAt(parent_, name_.c_str(), fd_)) ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
}

void TemporaryFolder::removeAbandoned(const fs::path& parent, const std::string& prefix) {
    const int folder = openFolder(parent, O_RDONLY);
    if (folder < 0) return;
    for (const std::string& name : namesIn(folder))
        if (name.starts_with(prefix)) removeIfAbandoned(folder, name);
    ::close(folder);
}

}  // namespace platform::sys
