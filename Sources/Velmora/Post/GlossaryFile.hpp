#pragma once

// The glossary's file, "glossary.json": a pretty-printed JSON array of terms, one object each
// with the keys addedAt (ISO 8601, UTC, whole seconds), canonical, hint, hits, id (upper-case
// UUID) and variants, in that sorted order.

#include "Velmora/Post/Term.hpp"

#include <chrono>
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
};

}  // namespace velmora
