#pragma once

// The text searches and splits shared by the pre-tokenizers, the normalizers and the pre-trained
// tokenizer. Texts are UTF-8; a literal pattern matches exact code units; after an empty match a
// search moves on by one whole user-perceived character.

#include "Platform/Text/Regex.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace korbit {

using TextRange = platform::text::Regex::Range;

/// What a search looks for: a literal text, or a regular expression (one that does not compile
/// never matches, as the platform's search reports no match for it).
class SearchPattern {
public:
    static SearchPattern literal(std::string text);
    static SearchPattern regularExpression(std::string_view source);

    /// The leftmost match in text[from, end), the search seeing only that part.
    std::optional<TextRange> find(std::string_view text, std::size_t from) const;
    /// Successive matches from the start of the text (`String.ranges(of:options:)`).
    std::vector<TextRange> ranges(std::string_view text) const;

private:
    SearchPattern() = default;
    std::string literal_;
    std::optional<platform::text::Regex> regex_;
    bool isRegex_ = false;
};

enum class SplitDelimiterBehavior { removed, isolated, mergedWithPrevious, mergedWithNext };

/// The text cut at every match of the separator, empty pieces omitted; each separator is kept as
/// its own piece when `includeSeparators` (an empty separator match gives no piece).
std::vector<std::string> split(std::string_view text, const SearchPattern& separator, bool includeSeparators);

/// The text cut at every match of the separator with the given delimiter behaviour.
std::vector<std::string> split(std::string_view text, const SearchPattern& separator, SplitDelimiterBehavior behavior);

/// The text cut at every match of a compiled expression (one pass over the whole text): the
/// non-empty stretches between matches and, for each match, the text of its highest-numbered
/// group that took part (group 0 when no other did). No match gives the whole text.
std::vector<std::string> split(std::string_view text, const platform::text::Regex& separator);

/// Every occurrence of `target` replaced by `replacement` (exact code units; an empty target
/// changes nothing).
std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement);

}  // namespace korbit
