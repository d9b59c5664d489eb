#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korbit {

/// What the HEAD probe reports about a file on the hub (also `HubApi::FileMetadata`).
struct FileMetadata {
    /// "X-Repo-Commit", as received.
    std::optional<std::string> commitHash;
    /// "X-Linked-Etag", else "Etag", normalised.
    std::optional<std::string> etag;
    /// Where the content lives: the Location of a 302, else the reply's URL.
    std::string location;
    /// "X-Linked-Size", else "Content-Length".
    std::optional<std::int64_t> size;

    bool operator==(const FileMetadata&) const = default;
};

}  // namespace korbit
