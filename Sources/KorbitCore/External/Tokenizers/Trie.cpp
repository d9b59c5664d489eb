#include "KorbitCore/External/Tokenizers/Trie.hpp"

namespace korbit {

void Trie::insert(const Sequence& sequence) {
    std::int32_t current = 0;
    for (const std::string& character : sequence) {
        std::int32_t next = child(current, character);
        if (next < 0) {
            next = static_cast<std::int32_t>(nodes_.size());
            nodes_[static_cast<std::size_t>(current)].children.emplace(character, next);
            nodes_.emplace_back();
        }
        current = next;
    }
    nodes_[static_cast<std::size_t>(current)].isLeaf = true;
}

void Trie::append(const std::vector<Sequence>& sequences) {
    for (const Sequence& sequence : sequences) insert(sequence);
}

std::int32_t Trie::child(std::int32_t node, const std::string& character) const {
    const auto& children = nodes_[static_cast<std::size_t>(node)].children;
    auto it = children.find(character);
    return it == children.end() ? -1 : it->second;
}

std::optional<Trie::Sequence> LeavesWithCommonPrefixIterator::next() {
    while (!ended_ && position_ < text_.size()) {
        const std::string& character = text_[position_++];
        seq_.push_back(character);
        node_ = trie_.child(node_, character);
        if (node_ < 0) break;
        if (trie_.node(node_).isLeaf) return seq_;
    }
    ended_ = true;
    return std::nullopt;
}

}  // namespace korbit
