#pragma once

#include <optional>
#include <string>

namespace korbit {

/// Where a model downloader looks for models and which repository it fetches them from.
/// Every field is given at construction.
struct ModelDownloadConfig {
    /// Cache base folder (a file-system path); absent selects the hub client's default.
    std::optional<std::string> downloadBase;
    /// Repository id, "owner/name".
    std::string modelRepo;
    /// Hub access token; absent lets the hub client look one up.
    std::optional<std::string> modelToken;
    /// A local folder holding models outside the cache (a file-system path).
    std::optional<std::string> modelFolder;
    bool useBackgroundSession = false;
    /// The hub endpoint, passed to the hub client unchanged.
    std::string endpoint;
    /// Branch, tag or commit used for listing and download.
    std::string revision;

    bool operator==(const ModelDownloadConfig&) const = default;
};

}  // namespace korbit
