#pragma once

// The contract the rest of the system holds a tokenizer by: text in, token ids out, and back.
// Implementations are immutable once built and may be used from several threads at once; none of
// these operations throws.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

class Tokenizer {
public:
    virtual ~Tokenizer() = default;

    /// The token strings of the text, without special tokens.
    virtual std::vector<std::string> tokenize(std::string_view text) const = 0;
    /// encode(text, true).
    virtual std::vector<int> encode(std::string_view text) const { return encode(text, true); }
    virtual std::vector<int> encode(std::string_view text, bool addSpecialTokens) const = 0;
    std::vector<int> operator()(std::string_view text, bool addSpecialTokens = true) const {
        return encode(text, addSpecialTokens);
    }

    /// decode(tokens, false).
    virtual std::string decode(std::span<const int> tokens) const { return decode(tokens, false); }
    virtual std::string decode(std::span<const int> tokens, bool skipSpecialTokens) const = 0;

    virtual std::optional<int> convertTokenToId(std::string_view token) const = 0;
    std::vector<std::optional<int>> convertTokensToIds(std::span<const std::string> tokens) const;
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;
    std::vector<std::optional<std::string>> convertIdsToTokens(std::span<const int> ids) const;

    virtual std::optional<std::string> bosToken() const = 0;
    virtual std::optional<int> bosTokenId() const = 0;
    virtual std::optional<std::string> eosToken() const = 0;
    virtual std::optional<int> eosTokenId() const = 0;
    virtual std::optional<std::string> unknownToken() const = 0;
    virtual std::optional<int> unknownTokenId() const = 0;
};

}  // namespace korbit
