#pragma once

// Cuts a text at its added tokens. The cut is defined by one regular expression, the alternation
// of every added token's escaped content (longest first, "\s*" outside the group for lstrip and
// rstrip), and the text is split at its matches with the highest-numbered matching group kept.
// A literal matcher (a byte trie over the contents) finds exactly the matches of that expression
// without running it; the expression itself is used only when a content is empty.

#include "Platform/Text/Regex.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

class AddedTokenSplitter {
public:
    struct Entry {
        std::string content;
        bool lstrip = false;
        bool rstrip = false;
    };

    /// The entries in file order. No entries (or an expression that does not compile) give a
    /// splitter that leaves every text whole.
    explicit AddedTokenSplitter(std::vector<Entry> entries);

    /// The expression source, empty when there is none.
    const std::string& pattern() const { return pattern_; }
    bool active() const { return regex_.has_value(); }

    /// The sections of the text: the non-empty stretches between matches and the token of each
    /// match. Views into `text`.
    std::vector<std::string_view> split(std::string_view text) const;

    /// The content with every ASCII character other than a letter or digit escaped.
    static std::string escape(std::string_view content);

private:
    struct Node {
        std::vector<std::pair<unsigned char, std::int32_t>> children;  // sorted by byte
        std::vector<std::int32_t> alternatives;                        // contents ending here
    };
    struct Found {
        std::size_t begin;  // whole match
        std::size_t end;
        std::size_t tokenBegin;  // the group
        std::size_t tokenEnd;
    };

    std::int32_t child(std::int32_t node, unsigned char byte) const;
    /// The match that starts exactly at `p`, if any.
    std::optional<Found> matchAt(std::string_view text, std::size_t p) const;

    std::vector<Entry> alternatives_;  // in the expression's order
    std::string pattern_;
    std::optional<platform::text::Regex> regex_;
    bool literal_ = false;  // the trie reproduces the expression
    bool anyLstrip_ = false;
    std::vector<Node> trie_;
    std::vector<bool> startsMatch_;  // by first byte
};

}  // namespace korbit
