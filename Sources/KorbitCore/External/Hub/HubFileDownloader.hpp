#pragma once

#include "KorbitCore/External/Hub/HubApi.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace korbit {

/// Brings one file of a repository into the cache, or confirms that the cached copy is current
/// (also `HubApi::HubFileDownloader`). Every call probes the file with one HEAD request; a fetch
/// goes through the transfer engine into a partial file named by the file's entity tag, so that
/// an interrupted transfer of the same version resumes.
struct HubFileDownloader {
    /// Receives the fraction done (0 to 1) and the speed in bytes per second, when known.
    using ProgressHandler = std::function<void(double fraction, std::optional<double> speed)>;

    HubApi hub;
    Repo repo;
    std::string revision;
    std::filesystem::path repoDestination;
    std::filesystem::path repoMetadataDestination;
    std::string relativeFilename;
    std::optional<std::string> hfToken;
    std::optional<std::string> endpoint;
    bool backgroundSession = false;

    /// Returns the destination once the file there is current. A stop request cancels a running
    /// transfer (the partial file keeps its bytes).
    std::filesystem::path download(const ProgressHandler& progressHandler = {}, std::stop_token stop = {}) const;

    /// Creates the partial file's folder, and the partial file itself, empty, when it is missing;
    /// throws NotAFileError when a named pipe, a socket or a block device stands there.
    void prepareCacheDestination(const std::filesystem::path& incompleteDestination) const;

    /// The file's address on the hub; throws Hub::HubClientError::parseError for an endpoint
    /// that is no URL.
    std::string source() const;
    /// Whether a regular file (through links) stands at the destination; a folder, a named pipe, a
    /// socket or a device there is no download, and a fetch replaces it (a folder only when it is
    /// empty: one that holds anything fails the download, NotAFileError, before the transfer).
    bool downloaded() const;

    std::filesystem::path destination() const;
    std::filesystem::path metadataPath() const;
    /// The partial file for a version: the entity tag names it when it is a plain name of at
    /// most 128 letters, digits, ".", "_" or "-", else the SHA-256 of the tag does.
    std::filesystem::path incompleteDestination(const std::string& etag) const;

    /// Whether a listed name stays inside the repository folder: not empty, not absolute, no "."
    /// or ".." segment, no backslash and no NUL.
    static bool isSafeRelativeFilename(const std::string& name);
};

}  // namespace korbit
