#pragma once

// The WordPiece vocabulary model: a basic splitter cuts raw text into words (whitespace, then
// punctuation), and each word is split greedily into the longest vocabulary pieces, continuation
// pieces carrying "##".

#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

#include <string>
#include <unordered_map>
#include <vector>

namespace korbit {

/// Splits raw text into words: at horizontal whitespace, then around punctuation.
class BasicTokenizer {
public:
    explicit BasicTokenizer(bool doLowerCase) : doLowerCase_(doLowerCase) {}
    std::vector<std::string> tokenize(std::string_view text) const;

    bool doLowerCase() const { return doLowerCase_; }
    /// "[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]": kept whole and in their case.
    static const std::vector<std::string>& neverSplit();

private:
    bool doLowerCase_;
};

/// Splits one word into the longest vocabulary pieces from the left.
class WordpieceTokenizer {
public:
    explicit WordpieceTokenizer(const TokenIdMap& vocab) : vocab_(&vocab) {}
    std::vector<std::string> tokenize(std::string_view word) const;

    static constexpr std::string_view unkToken = "[UNK]";
    static constexpr std::size_t maxInputCharsPerWord = 100;

private:
    const TokenIdMap* vocab_;
};

class BertTokenizer : public TokenizingModel {
public:
    /// Throws TokenizerError::missingVocab when "model"."vocab" is not an object.
    BertTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens);
    BertTokenizer(const BertTokenizer&) = delete;  // the word splitter refers to the vocabulary
    BertTokenizer& operator=(const BertTokenizer&) = delete;

    std::vector<std::string> tokenize(std::string_view text) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    static constexpr std::size_t maxLen = 512;
    bool tokenizeChineseChars() const { return tokenizeChineseChars_; }
    /// A space before and after every character that starts with a CJK ideograph.
    static std::string tokenizeChineseCharsIfNeed(std::string_view text);

private:
    TokenIdMap vocab_;
    std::unordered_map<int, std::string> idsToTokens_;
    bool tokenizeChineseChars_;
    BasicTokenizer basicTokenizer_;
    WordpieceTokenizer wordpieceTokenizer_;
};

}  // namespace korbit
