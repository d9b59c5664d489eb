#pragma once

// The glossary's file, "glossary.json": a pretty-printed JSON array of terms, one object each
// with the keys addedAt (ISO 8601, UTC, whole seconds), canonical, hint, hits, id (upper-case
// UUID) and variants, in that sorted order.

#include "Velmora/Post/Term.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

/// A file that is not a glossary; what() says where it went wrong.
class GlossaryFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class GlossaryFile {
public:
    static std::string encode(const std::vector<Term>& terms);

    /// Reads the array. A term needs its spelling; a missing id is made up, missing variants are
    /// none, a missing hint flag is on, missing hits are 0 and a missing date is `now`. A key of
    /// the wrong type, a malformed id or date, or anything but an array of objects throws
    /// GlossaryFileError.
    static std::vector<Term> decode(std::string_view json, std::chrono::sys_seconds now);

    /// Renames an unreadable file to "<name>.bad-<yyyyMMdd-HHmmss>" (UTC; "-2", "-3", ... when
    /// that is taken) beside it, owner-only, and returns the new path. Throws std::system_error.
    static std::filesystem::path keepAside(const std::filesystem::path& file, std::chrono::sys_seconds now);

    /// "2026-12-06T20:51:41Z".
    static std::string dateText(std::chrono::sys_seconds date);
    /// ISO 8601 with or without a fraction of a second and with "Z" or an offset; absent when
    /// malformed. Fractions are dropped.
    static std::optional<std::chrono::sys_seconds> parseDate(std::string_view text);
};

}  // namespace velmora
