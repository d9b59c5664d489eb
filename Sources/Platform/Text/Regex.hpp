#pragma once

// Regular expressions in ICU syntax (\p{L}, \uXXXX, look-ahead, ...), compiled without flags and
// searched in UTF-8 texts; every position and range is a byte offset into the text.
//
//     platform::text::Regex re("\\s+(?!\\S)|\\s+");
//     for (const auto& m : re.searchAll(text)) use(text.substr(m.begin(), m.length()));
//
// A compiled expression is immutable and may be used from several threads at once.

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

/// An expression that does not compile; what() names the engine's reason and the offset.
class RegexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Regex {
public:
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t length() const { return end - begin; }
        bool operator==(const Range&) const = default;
    };
    struct Match {
        /// groups[0] is the whole match; a group that took no part in the match is absent.
        std::vector<std::optional<Range>> groups;
        std::size_t begin() const { return groups[0]->begin; }
        std::size_t end() const { return groups[0]->end; }
        std::size_t length() const { return groups[0]->length(); }
        Range range() const { return *groups[0]; }
    };

    /// Compiles the expression; throws RegexError when it does not compile. An empty expression
    /// is refused too, as the platform's expressions refuse it.
    explicit Regex(std::string_view pattern);

    const std::string& pattern() const { return source_; }
    /// Number of capture groups, group 0 not counted.
    std::size_t groupCount() const;

    /// The leftmost match inside text[from, end); the search sees only that part of the text, and
    /// its start acts as the text's start for anchors.
    std::optional<Match> firstMatch(std::string_view text, std::size_t from = 0) const;

    /// Successive searches with firstMatch: each starts at the end of the previous match, or, after
    /// an empty match, one whole user-perceived character (grapheme cluster) after its start.
    std::vector<Match> searchAll(std::string_view text) const;

    /// Every match of one pass over the whole text as the engine iterates (after an empty match it
    /// moves one code point on; look-behind sees the text before the search position).
    std::vector<Match> allMatches(std::string_view text) const;

    /// Replaces every match (one pass as in allMatches) by the template, in which "$n" is group n
    /// and a backslash takes the next character literally.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;

private:
    struct Compiled;
    std::string source_;
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform::text
