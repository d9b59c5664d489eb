#pragma once

// The Unigram vocabulary model: a word is segmented into the sequence of scored vocabulary pieces
// with the highest total score (Viterbi over a lattice of every piece found by a trie at every
// character). A position that no one-character piece starts gets an unknown node, so a path
// always exists.

#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"
#include "KorbitCore/External/Tokenizers/Trie.hpp"

#include <string>
#include <vector>

namespace korbit {

class UnigramTokenizer : public TokenizingModel {
public:
    struct SentencePieceToken {
        std::string token;
        float score;
    };

    /// Throws TokenizerError: missingVocab when "model"."vocab" is not an array; malformedVocab for
    /// an entry that is not [piece, ..., score], a missing or out-of-range "unk_id", or a piece
    /// listed twice. The added-token table is not used.
    UnigramTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens);

    std::vector<std::string> tokenize(std::string_view text) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;
    std::optional<std::string> unknownToken() const override { return unknownPiece_.token; }

    float unknownTokenScore() const { return unknownPiece_.score; }
    float minScore() const { return minScore_; }
    const std::vector<SentencePieceToken>& vocab() const { return vocab_; }
    const Trie& trie() const { return trie_; }

private:
    std::vector<SentencePieceToken> vocab_;
    SentencePieceToken unknownPiece_;
    float minScore_ = 999.0f;
    TokenIdMap tokensToIds_;
    Trie trie_;
};

/// The same model under the tokenizer class "T5Tokenizer".
class T5Tokenizer final : public UnigramTokenizer {
public:
    using UnigramTokenizer::UnigramTokenizer;
};

}  // namespace korbit
