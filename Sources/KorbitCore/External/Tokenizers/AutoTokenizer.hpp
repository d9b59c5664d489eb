#pragma once

// The front door of the tokenizer library: a hub repository or a folder of tokenizer files in, a
// ready tokenizer out.
//
//     korbit::TokenizerWrapper tokenizer = korbit::AutoTokenizerWrapper::fromModelFolder(folder, true);
//     korbit::TokenizerWrapper fetched = korbit::AutoTokenizerWrapper::fromPretrained("owner/name", hub, true);
//     std::vector<int> ids = tokenizer.encode("Hello world");
//     std::string text = tokenizer.decode(ids);

#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Tokenizers/Tokenizer.hpp"

#include <filesystem>
#include <functional>
#include <memory>

namespace korbit {

/// How many ids a vocabulary numbers from 0 without gaps, as the speech models' tokenizers do: the
/// first id that `known` says no to (searched below 2^24).
int countOfIds(const std::function<bool(int)>& known);

/// Holds one tokenizer and forwards its operations unchanged. Copies share the tokenizer, which
/// never changes, so a wrapper may be used from several threads at once.
class TokenizerWrapper {
public:
    std::vector<std::string> tokenize(std::string_view text) const { return impl_->tokenize(text); }
    std::vector<int> encode(std::string_view text) const { return impl_->encode(text); }
    std::vector<int> encode(std::string_view text, bool addSpecialTokens) const {
        return impl_->encode(text, addSpecialTokens);
    }
    std::string decode(std::span<const int> tokens) const { return impl_->decode(tokens); }
    std::string decode(std::span<const int> tokens, bool skipSpecialTokens) const {
        return impl_->decode(tokens, skipSpecialTokens);
    }
    std::optional<int> convertTokenToId(std::string_view token) const { return impl_->convertTokenToId(token); }
    std::vector<std::optional<int>> convertTokensToIds(std::span<const std::string> tokens) const {
        return impl_->convertTokensToIds(tokens);
    }
    std::optional<std::string> convertIdToToken(int id) const { return impl_->convertIdToToken(id); }
    std::vector<std::optional<std::string>> convertIdsToTokens(std::span<const int> ids) const {
        return impl_->convertIdsToTokens(ids);
    }
    std::optional<std::string> bosToken() const { return impl_->bosToken(); }
    std::optional<int> bosTokenId() const { return impl_->bosTokenId(); }
    std::optional<std::string> eosToken() const { return impl_->eosToken(); }
    std::optional<int> eosTokenId() const { return impl_->eosTokenId(); }
    std::optional<std::string> unknownToken() const { return impl_->unknownToken(); }
    std::optional<int> unknownTokenId() const { return impl_->unknownTokenId(); }

    /// The number of ids, counted as countOfIds does.
    int vocabularySize() const;

    /// The tokenizer held.
    const Tokenizer& impl() const { return *impl_; }

private:
    friend struct AutoTokenizerWrapper;
    explicit TokenizerWrapper(std::shared_ptr<const Tokenizer> impl) : impl_(std::move(impl)) {}

    std::shared_ptr<const Tokenizer> impl_;
};

struct AutoTokenizerWrapper {
    /// The tokenizer of a hub repository at revision "main": its tokenizer files are brought into
    /// the hub client's cache first. The class table chooses the tokenizer class ("Fast" removed),
    /// so "LlamaTokenizer" gets its own. Throws the loader's error (Hub::HubClientError, the
    /// cache's errors), TokenizerError::missingConfig without a tokenizer configuration, or the
    /// tokenizer's construction error.
    static TokenizerWrapper fromPretrained(const std::string& pretrained, const HubApiWrapper& hubApi, bool strict);

    /// The tokenizer of a folder holding tokenizer.json (and usually tokenizer_config.json). Always a
    /// plain PreTrainedTokenizer. Throws as fromPretrained does.
    static TokenizerWrapper fromModelFolder(const std::filesystem::path& modelFolder, const HubApiWrapper& hubApi,
                                            bool strict);
    /// The same without a hub client (reading a folder needs none).
    static TokenizerWrapper fromModelFolder(const std::filesystem::path& modelFolder, bool strict);
};

}  // namespace korbit
