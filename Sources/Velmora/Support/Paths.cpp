#include "Velmora/Support/Paths.hpp"

#include "Velmora/Support/FileKind.hpp"
#include "Velmora/Support/IsoDate.hpp"
#include "Velmora/Support/Log.hpp"

#include "Platform/Log/SystemLog.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Sys/System.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace velmora {

namespace {

// What stands where a folder should, in the words of the application's log.
std::string kindInRussian(mode_t mode) {
    if (S_ISREG(mode)) return "файл";
    if (S_ISFIFO(mode)) return "именованный канал";
    if (S_ISSOCK(mode)) return "сокет";
    if (S_ISBLK(mode)) return "блочное устройство";
    if (S_ISCHR(mode)) return "символьное устройство";
    return "не папка";
}

}  // namespace

const fs::path& Paths::root() {
    static const fs::path folder = [] {
        fs::path path = platform::sys::dataHome() / "Velmora";
        try {
            makeFolder(path);
        } catch (const std::system_error&) {
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
            // Something of the user's stands at the folder's name: it is said, and left as it is.
            // Straight to the system log: the log file would be in this folder.
            platform::log::Logger(std::string(Log::subsystem), std::string(Log::app.systemName()))
                .log(platform::log::LogType::error, "папка данных " + path.string() + " недоступна: на её месте " +
                                                        kindInRussian(info.st_mode) +
                                                        "; файлы приложения не сохранятся");
        } else {
            protect(path);
        }
        return path;
    }();
    return folder;
}

void Paths::protect(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) return;
    // Should a link have taken its place since, it is refused rather than followed.
    ::fchmodat(AT_FDCWD, path.c_str(), S_ISDIR(info.st_mode) ? 0700 : 0600, AT_SYMLINK_NOFOLLOW);
}

void Paths::makeFolder(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path path = folder; !path.empty(); path = path.parent_path()) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) break;
        missing.push_back(path);
        if (path == path.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // mkdir applies the umask, which can only take bits away from 0700.
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), "Cannot create the folder " + it->string());
    }
}

void Paths::writeFile(const fs::path& path, std::string_view bytes) {
    // A file reached through a link is the user's, kept where they chose: it keeps its mode and
    // owner, as a program's output does. Any other is private from its creation: no moment exists
    // at which a new file is readable by others.
    struct stat here {};
    struct stat there {};
    const bool linkedFile = ::lstat(path.c_str(), &here) == 0 && S_ISLNK(here.st_mode) &&
                            ::stat(path.c_str(), &there) == 0 && S_ISREG(there.st_mode);
    platform::sys::writeFileAtomically(
        path, bytes, linkedFile ? platform::sys::FilePermissions::inherited : platform::sys::FilePermissions::ownerOnly,
        platform::sys::SpecialFiles::devicesOnly);
}

namespace {

std::string reasonOf(int error) {
    return std::generic_category().message(error);
}

// Why the opening failed: what stands there when it is no file (a pipe without a reader and a
// socket fail with "No such device or address"), else the system's reason.
std::string openingFailure(const platform::sys::OpenedNode& node) {
    if (node.mode != 0 && notAFile(node.mode)) return *notAFile(node.mode);
    return reasonOf(node.error);
}

}  // namespace

Paths::FileRead Paths::readFile(const fs::path& file) {
    FileRead read;
    // Nothing but a file is opened: a device may do something on its opening.
    const platform::sys::OpenedNode node =
        platform::sys::openWithoutWaiting(file, O_RDONLY, platform::sys::NodeKinds::regularFilesOnly);
    if (node.error != 0) {
        // Only nothing at all is a missing file: a link to nothing may lead to the user's file on
        // a disk that is not there now.
        struct stat link {};
        if (node.error != ENOENT || ::lstat(file.c_str(), &link) == 0) read.error = openingFailure(node);
        return read;
    }
    if (node.fd < 0) {
        read.device = S_ISCHR(node.mode);
        read.error = notAFile(node.mode);
        return read;
    }
    std::string bytes;
    const bool whole = platform::sys::readAll(node.fd, bytes);
    if (!whole) read.error = reasonOf(errno);
    ::close(node.fd);
    if (whole) read.bytes = std::move(bytes);
    return read;
}

Paths::StoreRead Paths::readStoreFile(const fs::path& file, const std::string& failureLine) {
    FileRead read = readFile(file);
    if (read.error) Log::app.error(failureLine + "Cannot read " + file.string() + ": " + *read.error);
    return {std::move(read.bytes), std::move(read.error)};
}

Paths::Appending Paths::openToAppend(const fs::path& file, bool alsoRead) {
    Appending opened;
    const platform::sys::OpenedNode node =
        platform::sys::openWithoutWaiting(file, (alsoRead ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT);
    if (node.fd < 0) {
        opened.error = openingFailure(node);
        return opened;
    }
    opened.error = notAFile(node.mode);
    if (opened.error) {
        ::close(node.fd);
        return opened;
    }
    if (S_ISCHR(node.mode)) {
        opened.device = true;
    } else if ((node.mode & 07777) != 0600) {
        // Private, when it is the file at the path itself: one reached through a link is the user's.
        struct stat info {};
        struct stat here {};
        if (::fstat(node.fd, &info) == 0 && ::lstat(file.c_str(), &here) == 0 && S_ISREG(here.st_mode) &&
            here.st_dev == info.st_dev && here.st_ino == info.st_ino)
            ::fchmod(node.fd, 0600);
    }
    opened.fd = node.fd;
    return opened;
}

std::optional<fs::path> Paths::moveAside(const fs::path& file, std::chrono::system_clock::time_point now) {
    std::string stamp = IsoDate::format(now);
    std::erase(stamp, ':');
    fs::path aside = file;
    aside += ".bad-" + stamp;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(aside, ec)); ++n) {
        aside = file;
        aside += ".bad-" + stamp + "-" + std::to_string(n);
    }
    if (std::rename(file.c_str(), aside.c_str()) != 0) {
        if (errno == ENOENT) return std::nullopt;
        throw std::system_error(errno, std::generic_category(), "Cannot move " + file.string() + " aside");
    }
    protect(aside);
    return aside;
}

}  // namespace velmora
