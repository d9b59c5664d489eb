#pragma once

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <filesystem>
#include <optional>

namespace tremolan {

/// The speech vocabulary over a general tokenizer. Fixed after construction; every operation may
/// run from several threads at once.
class WhisperTokenizerWrapper : public WhisperTokenizer {
public:
    /// Resolves the special tokens and the language tokens from the vocabulary. Never fails.
    WhisperTokenizerWrapper(korbit::TokenizerWrapper tokenizer,
                            std::optional<std::filesystem::path> tokenizerFolder = std::nullopt);

    std::vector<int> encode(std::string_view text) const override { return tokenizer_.encode(text); }
    std::string decode(std::span<const int> tokens) const override { return tokenizer_.decode(tokens); }
    std::optional<int> convertTokenToId(std::string_view token) const override {
        return tokenizer_.convertTokenToId(token);
    }
    std::optional<std::string> convertIdToToken(int id) const override { return tokenizer_.convertIdToToken(id); }
    const SpecialTokens& specialTokens() const override { return specialTokens_; }
    const std::set<int>& allLanguageTokens() const override { return allLanguageTokens_; }
    WordSplit splitToWordTokens(std::span<const int> tokenIds) const override;

    const korbit::TokenizerWrapper& tokenizer() const { return tokenizer_; }
    /// The folder the tokenizer came from, kept for the caller.
    const std::optional<std::filesystem::path>& tokenizerFolder() const { return tokenizerFolder_; }

private:
    /// The id of a text of the vocabulary; absent for a text the vocabulary lacks.
    std::optional<int> vocabularyId(std::string_view text) const;
    /// Groups ids so that each group decodes to complete characters; an incomplete tail is dropped.
    WordSplit splitTokensOnUnicode(std::span<const int> tokens) const;
    /// Joins the character groups into words at spaces, special tokens and lone punctuation.
    WordSplit splitTokensOnSpaces(std::span<const int> tokens) const;

    korbit::TokenizerWrapper tokenizer_;
    std::optional<std::filesystem::path> tokenizerFolder_;
    SpecialTokens specialTokens_;
    std::set<int> allLanguageTokens_;
};

}  // namespace tremolan
