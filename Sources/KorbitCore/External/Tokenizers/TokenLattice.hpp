#pragma once

// The lattice of candidate pieces over a sentence's characters, and the Viterbi pass that picks
// the path of highest total score.

#include <cstdint>
#include <string>
#include <vector>

namespace korbit {

struct TokenLatticeNode {
    int tokenId = 0;
    std::size_t startOffset = 0;  // in characters
    std::size_t length = 0;       // in characters
    float score = 0;
    std::int32_t prev = -1;  // number of the predecessor node, -1 when none
    float backtraceScore = 0;

    std::string description() const;
};

class TokenLattice {
public:
    /// `characters` are the sentence's user-perceived characters, in order.
    TokenLattice(std::vector<std::string> characters, int bosTokenId, int eosTokenId);

    void insert(std::size_t startOffset, std::size_t length, float score, int tokenId);
    /// The best path's nodes in text order (begin and end nodes left out); empty when some
    /// position cannot be reached.
    std::vector<TokenLatticeNode> viterbi();
    /// The text of each node of the best path.
    std::vector<std::string> tokens();

    const std::vector<TokenLatticeNode>& nodes() const { return nodes_; }

private:
    std::vector<std::string> characters_;
    std::vector<TokenLatticeNode> nodes_;
    std::vector<std::vector<std::int32_t>> beginNodes_;
    std::vector<std::vector<std::int32_t>> endNodes_;
};

}  // namespace korbit
