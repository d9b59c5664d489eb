#pragma once

// File-manager operations of the hub client.

#include <filesystem>
#include <vector>

namespace korbit {

/// Regular, non-hidden files below the folder, recursively, without entering hidden folders
/// (so a repository's ".cache" metadata folder never appears). A folder that cannot be listed
/// gives an empty list; failing to read an item's type throws std::filesystem::filesystem_error.
std::vector<std::filesystem::path> getFileUrls(const std::filesystem::path& folder);

/// Moves a finished file into place: whatever is at the destination is replaced, and the
/// destination's folders are created. The file's data reach the disk before it is moved, and
/// a file is replaced in one step, so the destination never holds a partial file. Throws
/// std::filesystem::filesystem_error, or NotAFileError when a named pipe, a socket or a device
/// stands at `from` (it is neither waited on nor moved). (`percentEncoded` is accepted for the
/// callers' sake: paths here are never percent-encoded.)
void moveDownloadedFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        bool percentEncoded = false);

}  // namespace korbit
