#pragma once

// The byte-pair-encoding vocabulary model: a word's characters are merged by the ranked merge list
// (lowest rank first, every occurrence of the chosen pair in one left-to-right pass, until no pair
// has a rank); pieces outside the vocabulary become one "<0xNN>" token per UTF-8 byte.

#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

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
    void appendIds(std::string_view text, std::vector<int>& ids) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    /// Number of vocabulary entries (added tokens included).
    std::size_t vocabCount() const { return tokensToIds_.size(); }
    /// The rank of a merge, absent when the pair is not in the merge list.
    std::optional<int> rank(const BytePair& pair) const;
    /// The word's merged symbols joined by single spaces.
    std::string bpe(std::string_view token) const;
    /// The byte-level form of the text (each UTF-8 byte through the byte encoder table).
    std::string byteEncode(std::string_view text) const;
    /// One "<0xNN>" token per UTF-8 byte of the text.
    std::vector<std::string> hexaEncode(std::string_view text) const;

private:
    // Every string that takes part in a merge (both sides and the result) is interned as a
    // symbol number, so merging compares and hashes integers instead of texts.
    struct Merge {
        int rank;
        std::int32_t merged;
    };
    /// One symbol of a word being merged: the bytes [begin, end) of the word and its symbol
    /// number, -1 when the text takes part in no merge.
    struct Piece {
        std::uint32_t begin;
        std::uint32_t end;
        std::int32_t symbol;
    };

    std::int32_t intern(const std::string& text);
    std::int32_t symbolOf(std::string_view text) const;
    static std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
        return (std::uint64_t(std::uint32_t(a)) << 32) | std::uint32_t(b);
    }
    /// The merged symbols of a word, in order.
    void merge(std::string_view word, std::vector<Piece>& pieces) const;
    /// Calls emit(token text, id or -1) for the tokens of one merged symbol.
    template <class Emit>
    void emitSymbol(std::string_view word, const Piece& piece, Emit&& emit) const;

    TokenIdMap tokensToIds_;
    std::unordered_map<int, std::string> idsToTokens_;

    std::unordered_map<std::string, std::int32_t, TextHash, std::equal_to<>> symbols_;
    std::vector<std::int32_t> symbolIds_;  // vocabulary id of each symbol, -1 when it has none
    std::array<std::int32_t, 0x300> scalarSymbols_{};  // symbol of each one-scalar text below U+0300
    std::unordered_map<std::uint64_t, Merge> merges_;
    std::array<int, 256> byteFallbackIds_{};  // id of "<0xNN>", -1 when it has none
};

}  // namespace korbit
