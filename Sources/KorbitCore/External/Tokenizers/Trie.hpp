#pragma once

// A trie of character sequences (each character a user-perceived character held as its UTF-8
// text, compared by exact code units) that finds every stored sequence starting a text.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace korbit {

class Trie {
public:
    using Sequence = std::vector<std::string>;

    struct TrieNode {
        bool isLeaf = false;
        std::unordered_map<std::string, std::int32_t> children;  // character -> node number
    };

    Trie() : nodes_(1) {}

    /// Adds one sequence; an empty one marks the root.
    void insert(const Sequence& sequence);
    void append(const std::vector<Sequence>& sequences);

    const TrieNode& root() const { return nodes_.front(); }
    const TrieNode& node(std::int32_t number) const { return nodes_[static_cast<std::size_t>(number)]; }
    /// The child of a node for a character, -1 when there is none.
    std::int32_t child(std::int32_t node, const std::string& character) const;

private:
    std::vector<TrieNode> nodes_;
};

/// Yields, shortest first, every stored sequence that is a prefix of a text, stopping at the first
/// character that leaves the trie.
class LeavesWithCommonPrefixIterator {
public:
    LeavesWithCommonPrefixIterator(const Trie& trie, std::span<const std::string> text) : trie_(trie), text_(text) {}
    std::optional<Trie::Sequence> next();

private:
    const Trie& trie_;
    std::span<const std::string> text_;
    std::size_t position_ = 0;
    std::int32_t node_ = 0;
    Trie::Sequence seq_;
    bool ended_ = false;
};

}  // namespace korbit
