#pragma once

// The contract of a vocabulary model: one pre-split word in, token strings out, and the mapping
// between tokens and ids. Every model is built by a throwing constructor
//     Model(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens)
// (the PreTrainedTokenizerModel contract) and never changes afterwards, so one model may serve any
// number of threads at once.

#include "KorbitCore/External/Hub/Config.hpp"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace korbit {

/// Hashing of std::string keys that also accepts std::string_view, so lookups build no key.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

/// Token text (UTF-8) -> id. Keys compare by their exact code units: no normalisation.
using TokenIdMap = std::unordered_map<std::string, int, TextHash, std::equal_to<>>;
/// The added-token table of a tokenizer: content -> id.
using AddedTokens = TokenIdMap;
/// A set of token texts, searchable with a std::string_view.
using TokenSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;

class TokenizingModel {
public:
    virtual ~TokenizingModel() = default;

    /// The token strings of one pre-split word.
    virtual std::vector<std::string> tokenize(std::string_view text) const = 0;
    std::vector<std::string> operator()(std::string_view text) const { return tokenize(text); }
    /// Appends the token strings of one pre-split word. Models override it to build no list per word.
    virtual void appendTokens(std::string_view text, std::vector<std::string>& tokens) const;

    virtual std::optional<int> convertTokenToId(std::string_view token) const = 0;
    std::vector<std::optional<int>> convertTokensToIds(std::span<const std::string> tokens) const;
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;
    std::vector<std::optional<std::string>> convertIdsToTokens(std::span<const int> ids) const;

    const std::optional<std::string>& bosToken() const { return bosToken_; }
    std::optional<int> bosTokenId() const { return bosTokenId_; }
    const std::optional<std::string>& eosToken() const { return eosToken_; }
    std::optional<int> eosTokenId() const { return eosTokenId_; }
    virtual std::optional<std::string> unknownToken() const { return unknownToken_; }
    std::optional<int> unknownTokenId() const { return unknownTokenId_; }
    /// Whether the tokenizer shrinks runs of unknown tokens to their first.
    bool fuseUnknownTokens() const { return fuseUnknownTokens_; }

    /// Appends the ids of the word's tokens, exactly as tokenize followed by convertTokenToId would
    /// give them, leaving out tokens without an id. Models override it to skip the token strings.
    virtual void appendIds(std::string_view text, std::vector<int>& ids) const;

protected:
    std::optional<std::string> bosToken_;
    std::optional<int> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<int> eosTokenId_;
    std::optional<std::string> unknownToken_;
    std::optional<int> unknownTokenId_;
    bool fuseUnknownTokens_ = false;
};

/// A special token of the tokenizer configuration: a string as it is, else the "content" of an
/// object when that is a string; otherwise absent.
std::optional<std::string> addedTokenAsString(const Config& config);

/// The id of `token` in `vocabulary`, absent when the token is absent or not there.
std::optional<int> idOf(const TokenIdMap& vocabulary, const std::optional<std::string>& token);

}  // namespace korbit
