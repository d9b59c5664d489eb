#pragma once

// Whole-file reads and writes with their failures reported.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace platform::sys {

/// Throws std::system_error of the errno value `error` with the message `what`.
[[noreturn]] void throwError(int error, const std::string& what);

/// What stands at a path, by a stat's st_mode, in a few words for a message: "a named pipe", "a
/// socket", "a block device", "a character device", "a folder", "a file" (a regular one), or
/// "something other than a file".
std::string nodeKind(unsigned mode);

/// Why what has this mode cannot serve where a file is read or kept: "a named pipe, not a file",
/// "a socket, not a file", "a folder, not a file", ... (nodeKind's words).
std::string notAFile(unsigned mode);

/// Writes every byte to the descriptor, retrying interrupted and short writes; false with errno
/// set on failure.
bool writeAll(int fd, const char* data, std::size_t size);

/// Asks the system to start writing the file's range [offset, offset + length) to disk now, without
/// waiting for it, so that a later flush finds little left to do. A hint: failures are ignored.
void startWriteBack(int fd, std::int64_t offset, std::int64_t length);

/// Appends everything the descriptor reads until its end to `bytes` (room for a regular file's
/// size made first), retrying interrupted reads; false with errno set on failure.
bool readAll(int fd, std::string& bytes);

/// What an opening that never waits found at a path.
struct OpenedNode {
    int fd = -1;      // the caller's to close; -1 when nothing was opened
    mode_t mode = 0;  // st_mode of what stands there, 0 where nothing could be learnt of it
    int error = 0;    // errno of a failed opening; 0 when opened, or when refused for its kind
};

/// Which kinds of file openWithoutWaiting opens.
enum class NodeKinds {
    /// Whatever the path leads to; a named pipe or a socket without its other end fails (ENXIO),
    /// its kind still said.
    any,
    /// A regular file only: anything else is never opened (a device may act on its opening, a pipe
    /// never ends), only named in `mode`.
    regularFilesOnly,
};

/// Opens the path with `flags` (and `created` as a new file's mode under O_CREAT) so that nothing
/// makes it wait: O_NONBLOCK for the opening, taken off again for a regular file or a device, whose
/// reads and writes wait as usual. What was opened decides its kind, not a look at it before.
OpenedNode openWithoutWaiting(const std::filesystem::path& path, int flags, NodeKinds kinds = NodeKinds::any,
                              mode_t created = 0600);

/// The whole file. Throws std::system_error ("Cannot open <path>" or "Cannot read <path>").
std::string readFile(const std::filesystem::path& path);

/// Creates or truncates the file and writes the bytes. Throws std::system_error ("Cannot write <path>").
void writeFile(const std::filesystem::path& path, std::string_view bytes);

/// The error of a file that cannot be made at `made` for the path asked for: "Cannot write
/// <asked>", or, when its folder is missing, "Cannot write <asked>: the folder <folder> does not
/// exist", as that is the usual cause.
std::system_error cannotCreateError(int error, const std::filesystem::path& asked, const std::filesystem::path& made);

}  // namespace platform::sys
