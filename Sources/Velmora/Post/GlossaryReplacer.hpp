#pragma once

// The replacement rule of the glossary: heard variants become the canonical spelling.

#include "Velmora/Post/Term.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class GlossaryReplacer {
public:
    struct Result {
        std::string text;
        /// Replacements per term, in the terms' order.
        std::vector<std::int64_t> hits;
    };

    /// One pass from the start of the text. At each word start the longest variant (of any term)
    /// that follows, compared without regard to case, and ends at a word end is replaced by its
    /// term's canonical spelling; the pass goes on after it, so replaced text is never matched
    /// again. Word starts and ends are neighbours that are not letters or digits (or the text's
    /// ends). A match already spelt exactly as the canonical stays and is not counted. Terms
    /// with a blank spelling and blank variants take no part. The text is compared and returned
    /// in composed form (NFC) once something was replaced; otherwise it comes back unchanged.
    static Result apply(std::string_view text, const std::vector<Term>& terms);
};

}  // namespace velmora
