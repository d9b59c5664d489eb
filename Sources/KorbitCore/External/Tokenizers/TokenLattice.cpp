#include "KorbitCore/External/Tokenizers/TokenLattice.hpp"

#include <algorithm>
#include <sstream>

namespace korbit {

std::string TokenLatticeNode::description() const {
    std::ostringstream out;
    out << "TokenLatticeNode(tokenId: " << tokenId << ", startOffset: " << startOffset << ", length: " << length
        << ", score: " << score << ", prev: " << (prev >= 0) << ", backtraceScore: " << backtraceScore << ")";
    return out.str();
}

TokenLattice::TokenLattice(std::vector<std::string> characters, int bosTokenId, int eosTokenId)
    : characters_(std::move(characters)) {
    const std::size_t n = characters_.size();
    beginNodes_.resize(n + 1);
    endNodes_.resize(n + 1);
    nodes_.push_back(TokenLatticeNode{bosTokenId, 0, 0, 0, -1, 0});
    nodes_.push_back(TokenLatticeNode{eosTokenId, n, 0, 0, -1, 0});
    beginNodes_[n].push_back(1);
    endNodes_[0].push_back(0);
}

void TokenLattice::insert(std::size_t startOffset, std::size_t length, float score, int tokenId) {
    const auto number = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(TokenLatticeNode{tokenId, startOffset, length, score, -1, 0});
    beginNodes_[startOffset].push_back(number);
    endNodes_[startOffset + length].push_back(number);
}

std::vector<TokenLatticeNode> TokenLattice::viterbi() {
    const std::size_t n = characters_.size();
    if (beginNodes_[0].empty()) return {};
    for (std::size_t p = 0; p <= n; ++p) {
        for (std::int32_t r : beginNodes_[p]) {
            TokenLatticeNode& right = nodes_[static_cast<std::size_t>(r)];
            right.prev = -1;
            if (endNodes_[p].empty()) continue;
            // The first predecessor is taken; a later one only when strictly better (a NaN
            // candidate never wins). A node's fields are final once its start is passed, so
            // pointing at it is as good as copying it.
            std::int32_t best = -1;
            float bestScore = 0;
            for (std::int32_t l : endNodes_[p]) {
                const float candidate = nodes_[static_cast<std::size_t>(l)].backtraceScore + right.score;
                if (best < 0 || candidate > bestScore) {
                    best = l;
                    bestScore = candidate;
                }
            }
            right.prev = best;
            right.backtraceScore = bestScore;
        }
        if (p < n && beginNodes_[p + 1].empty()) return {};
    }
    const TokenLatticeNode& end = nodes_[static_cast<std::size_t>(beginNodes_[n].front())];
    if (end.prev < 0) return {};
    std::vector<TokenLatticeNode> path;
    for (std::int32_t k = end.prev; k >= 0 && nodes_[static_cast<std::size_t>(k)].prev >= 0;
         k = nodes_[static_cast<std::size_t>(k)].prev) {
        path.push_back(nodes_[static_cast<std::size_t>(k)]);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

std::vector<std::string> TokenLattice::tokens() {
    std::vector<std::string> out;
    for (const TokenLatticeNode& node : viterbi()) {
        std::string piece;
        for (std::size_t k = node.startOffset; k < node.startOffset + node.length; ++k) piece += characters_[k];
        out.push_back(std::move(piece));
    }
    return out;
}

}  // namespace korbit
