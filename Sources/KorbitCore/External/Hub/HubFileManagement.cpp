#include "KorbitCore/External/Hub/HubFileManagement.hpp"

#include "KorbitCore/External/Hub/CacheFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace korbit {
namespace {

constexpr std::string_view kPlacing = "Cannot put the downloaded file at";

// The st_mode of a folder standing at the path itself (a link not followed), else 0.
mode_t folderAt(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
    return info.st_mode;
}

bool isHidden(const fs::path& path) {
    std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

void syncFile(const fs::path& path) {
    int fd = openCacheFile(path, O_RDONLY, "Cannot move");
    if (fd < 0) return;
    ::fdatasync(fd);
    ::close(fd);
}

}  // namespace

std::vector<fs::path> getFileUrls(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return files;
    for (fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& entry = *it;
        if (isHidden(entry.path())) {
            if (entry.is_directory()) it.disable_recursion_pending();
            continue;
        }
        // symlink_status would skip links to files; a cached file reached through a link counts.
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    return files;
}

void refuseFolderInPlaceOf(const fs::path& to) {
    const mode_t folder = folderAt(to);
    if (folder == 0) return;
    // Where the folder cannot be listed the move's own removal decides.
    std::error_code ec;
    if (fs::is_empty(to, ec) || ec) return;
    throw NotAFileError(to, kPlacing, folder, ENOTEMPTY);
}

void moveDownloadedFile(const fs::path& from, const fs::path& to, bool) {
    syncFile(from);
    // Only an empty folder makes room for the file: rmdir removes nothing else, also when something
    // is put into the folder meanwhile. What a folder holds is not the client's to judge.
    if (const mode_t folder = folderAt(to); folder != 0 && ::rmdir(to.c_str()) != 0) {
        const int error = errno;
        if (error != ENOENT) throw NotAFileError(to, kPlacing, folder, error);
    }
    if (to.has_parent_path()) fs::create_directories(to.parent_path());
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec == std::errc::cross_device_link) {
        // Another file system: copy next to the destination, then replace it in one step.
        fs::path staging = to;
        staging += ".moving";
        fs::copy_file(from, staging, fs::copy_options::overwrite_existing);
        syncFile(staging);
        fs::rename(staging, to);
        fs::remove(from);
        return;
    }
    if (ec) throw fs::filesystem_error("cannot move the downloaded file", from, to, ec);
}

}  // namespace korbit
