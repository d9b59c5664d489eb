#include "Velmora/Support/Paths.hpp"

#include "Velmora/Support/IsoDate.hpp"
#include "Velmora/Support/Log.hpp"

#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Sys/System.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace velmora {

const fs::path& Paths::root() {
    static const fs::path folder = [] {
        fs::path path = platform::sys::dataHome() / "Velmora";
        try {
            makeFolder(path);
        } catch (const std::system_error&) {
        }
        protect(path);
        return path;
    }();
    return folder;
}

void Paths::protect(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return;
    ::chmod(path.c_str(), S_ISDIR(info.st_mode) ? 0700 : 0600);
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
    // Private from its creation: no moment exists at which a new file is readable by others.
    platform::sys::writeFileAtomically(path, bytes, platform::sys::FilePermissions::ownerOnly,
                                       platform::sys::SpecialFiles::devicesOnly);
}

Paths::StoreRead Paths::readStoreFile(const fs::path& file, const std::string& failureLine) {
    StoreRead read;
    try {
        read.bytes = platform::sys::readFile(file);
    } catch (const std::system_error& error) {
        // Only nothing at all is a missing file: a link to nothing may lead to the user's file on
        // a disk that is not there now.
        std::error_code ec;
        const bool missing =
            error.code() == std::errc::no_such_file_or_directory && !fs::exists(fs::symlink_status(file, ec));
        if (!missing) {
            read.error = error.code().message();
            Log::app.error(failureLine + error.what());
        }
    }
    return read;
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
