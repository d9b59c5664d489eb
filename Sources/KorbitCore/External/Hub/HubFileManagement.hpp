#pragma once

// File-manager operations of the hub client.

#include <filesystem>
#include <vector>

namespace korbit {

/// Regular, non-hidden files below the folder, recursively, without entering hidden folders
/// (so a repository's ".cache" metadata folder never appears). A folder that cannot be listed
/// gives an empty list; failing to read an item's type throws std::filesystem::filesystem_error.
std::vector<std::filesystem::path> getFileUrls(const std::filesystem::path& folder);

/// Throws NotAFileError ("Cannot put the downloaded file at <path> (a folder, not a file): Directory
/// not empty") when a folder that holds anything stands where a downloaded file goes (a link there
/// is not followed): it is no download, and not the client's to remove. Anything else passes.
void refuseFolderInPlaceOf(const std::filesystem::path& to);

/// Moves a finished file into place: a file, a link or an empty folder at the destination is
/// replaced, and the destination's folders are created. The file's data reach the disk before it
/// is moved, and a file is replaced in one step, so the destination never holds a partial file.
/// Throws std::filesystem::filesystem_error; NotAFileError when a named pipe, a socket or a device
/// stands at `from` (it is neither waited on nor moved), or a folder that cannot be removed (one
/// that holds anything) at `to`, as refuseFolderInPlaceOf says it. (`percentEncoded` is accepted
/// for the callers' sake: paths here are never percent-encoded.)
void moveDownloadedFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        bool percentEncoded = false);

}  // namespace korbit
