#pragma once

#include <chrono>
#include <string>

namespace korbit {

/// A cached file's parsed metadata file (also `HubApi::LocalDownloadFileMetadata`).
struct LocalDownloadFileMetadata {
    using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

    std::string commitHash;
    std::string etag;
    /// The metadata file's name with every ".metadata" removed.
    std::string filename;
    /// When the metadata was written.
    Date timestamp;
};

}  // namespace korbit
