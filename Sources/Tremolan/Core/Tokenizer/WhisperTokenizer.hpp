#pragma once

// What the decoder, the segmenter and the transcription task need of the speech vocabulary.

#include "Tremolan/Core/Tokenizer/SpecialTokens.hpp"

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tremolan {

/// Decoded ids grouped into words: wordTokens[i] are the ids whose text is words[i].
struct WordSplit {
    std::vector<std::string> words;
    std::vector<std::vector<int>> wordTokens;

    bool operator==(const WordSplit&) const = default;
};

class WhisperTokenizer {
public:
    virtual ~WhisperTokenizer() = default;
    virtual std::vector<int> encode(std::string_view text) const = 0;
    /// Keeps special tokens; bytes that form no complete character come out as U+FFFD.
    virtual std::string decode(std::span<const int> tokens) const = 0;
    virtual std::optional<int> convertTokenToId(std::string_view token) const = 0;
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;
    virtual const SpecialTokens& specialTokens() const = 0;
    /// The ids of every language token of the vocabulary.
    virtual const std::set<int>& allLanguageTokens() const = 0;
    /// Words for word-level timestamps: by whole characters for languages written without spaces,
    /// else at spaces, special tokens and single punctuation marks.
    virtual WordSplit splitToWordTokens(std::span<const int> tokenIds) const = 0;

    /// The ids' token texts quoted in a list, for log lines: ["<|startoftranscript|>", "<|en|>"]
    /// (an id outside the vocabulary gives "").
    std::string quotedTokenList(std::span<const int> tokenIds) const;
};

}  // namespace tremolan
