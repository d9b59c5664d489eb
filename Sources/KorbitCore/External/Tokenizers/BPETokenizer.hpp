#pragma once

// The byte-pair-encoding vocabulary model: a word's characters are merged by the ranked merge list
// (lowest rank first, every occurrence of the chosen pair in one left-to-right pass, until no pair
// has a rank); pieces outside the vocabulary become one "<0xNN>" token per UTF-8 byte.

#include "KorbitCore/External/Tokenizers/MergeTable.hpp"
#include "KorbitCore/External/Tokenizers/StringTable.hpp"
#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"
#include "KorbitCore/External/Tokenizers/WordCache.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korbit {

/// A left and a right symbol of one merge.
struct BytePair {
    std::string a;
    std::string b;
    bool operator==(const BytePair&) const = default;
};

class BPETokenizer : public TokenizingModel {
public:
    /// Throws TokenizerError: mismatchedConfig without a merge list, missingVocab without a
    /// vocabulary object, malformedVocab for a merge of fewer than two symbols.
    BPETokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens);

    std::vector<std::string> tokenize(std::string_view text) const override;
    void appendTokens(std::string_view text, std::vector<std::string>& tokens) const override;
    void appendIds(std::string_view text, std::vector<int>& ids) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    /// Number of vocabulary entries (added tokens included).
    std::size_t vocabCount() const { return vocabCount_; }
    /// The rank of a merge, absent when the pair is not in the merge list.
    std::optional<int> rank(const BytePair& pair) const;
    /// The word's merged symbols joined by single spaces.
    std::string bpe(std::string_view token) const;
    /// The byte-level form of the text (each UTF-8 byte through the byte encoder table).
    std::string byteEncode(std::string_view text) const;
    /// One "<0xNN>" token per UTF-8 byte of the text.
    std::vector<std::string> hexaEncode(std::string_view text) const;

private:
    /// One symbol of a word being merged: the bytes [begin, end) of the word and its symbol number
    /// (-1 when the text is no known symbol).
    struct Piece {
        std::uint32_t begin;
        std::uint32_t end;
        std::int32_t symbol;
    };

    std::int32_t symbolOf(std::string_view text) const;
    /// The vocabulary id of the token, absent when it is not in the vocabulary.
    std::optional<int> convertTokenToIdIfKnown(std::string_view token) const;
    std::int32_t rankOf(std::int32_t a, std::int32_t b) const;
    /// The merged symbols of a word, in order.
    void merge(std::string_view word, std::vector<Piece>& pieces) const;
    /// The merge rounds on a word's pieces, with the rank of the pair each piece starts: by scanning
    /// for short words, by a queue for long ones.
    void mergeShort(std::vector<Piece>& pieces, std::vector<std::int32_t>& ranks) const;
    void mergeLong(std::vector<Piece>& pieces, std::vector<std::int32_t>& ranks) const;
    /// Calls emit(token text, id, byte) for the tokens of one merged symbol (the id is the minimum
    /// int when the token has none); the text is empty for a byte-fallback token of `byte`.
    template <class Emit>
    void emitSymbol(std::string_view word, const Piece& piece, Emit&& emit) const;

    // Every text of the vocabulary and of the merge list (both sides and the result) is a symbol,
    // so merging compares and hashes integers instead of texts.
    StringTable symbols_;
    std::vector<std::int32_t> idOfSymbol_;                    // vocabulary id of each symbol
    std::vector<std::int32_t> symbolOfId_;                    // dense ids -> symbol, -1 when none
    std::unordered_map<int, std::int32_t> symbolOfSparseId_;  // ids outside the dense range
    std::array<std::int32_t, 0x300> scalarSymbols_{};         // symbol of each one-scalar text below U+0300
    // The rank of each pair of characters below U+0144, which covers the byte-level alphabet, so
    // that a word's first pairs are looked up without hashing.
    static constexpr char32_t kPairTableEnd = 0x144;
    std::vector<std::int32_t> characterPairRanks_;
    std::size_t vocabCount_ = 0;
    MergeTable merges_;
    std::array<int, 256> byteFallbackIds_{};  // id of each "<0xNN>" token
    WordCache cache_;
};

}  // namespace korbit
