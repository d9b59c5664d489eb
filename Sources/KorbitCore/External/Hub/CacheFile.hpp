#pragma once

// Opening the files of the hub client's cache by name without waiting on what stands there.

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace korbit {

/// Something other than a file where the cache keeps one, refused at once (EOPNOTSUPP): waiting on
/// it would hold the download for good. The message is "<doing> <path> (a named pipe, not a file)"
/// and the system's reason.
class NotAFileError : public std::system_error {
public:
    /// `mode` is what stands there (a stat's st_mode); `error` is the reason, when the system gave
    /// one of its own (a folder that is not empty: ENOTEMPTY).
    NotAFileError(const std::filesystem::path& path, std::string_view doing, unsigned mode, int error = EOPNOTSUPP);
};

/// Opens a file of the cache with `flags` without ever waiting (platform::sys::openWithoutWaiting):
/// what it opened is looked at before use. A file or a folder (whose use then fails as it would)
/// comes back as a descriptor, and so does a character device opened to write (written in place,
/// as the metadata writer does); -1 with errno set when the opening fails. A named pipe, a socket, a block device,
/// or a character device opened to read only (/dev/zero never ends), throws NotAFileError.
int openCacheFile(const std::filesystem::path& path, int flags, std::string_view doing = "Cannot open");

/// Throws NotAFileError when a named pipe, a socket or a block device stands at the path (links
/// followed), to say what it is before an opening that would not; nothing there, or anything else,
/// passes.
void refuseSpecialFile(const std::filesystem::path& path, std::string_view doing = "Cannot open");

/// The whole file, read as platform::sys::readFile reads it ("Cannot open <path>", "Cannot read
/// <path>"), but opened by openCacheFile (NotAFileError).
std::string readCacheFile(const std::filesystem::path& path);

}  // namespace korbit
