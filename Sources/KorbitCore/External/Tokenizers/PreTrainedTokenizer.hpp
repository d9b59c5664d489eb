#pragma once

// The complete tokenizer built from a repository's tokenizer_config.json and tokenizer.json: added
// tokens cut out of the text, then per section the normalizer, the pre-tokenizer and the
// vocabulary model chosen by tokenizer class; the post-processor adds special tokens, the decoder
// turns ids back into text. Immutable once built; safe to share between threads.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Tokenizers/AddedTokenSplitter.hpp"
#include "KorbitCore/External/Tokenizers/Decoder.hpp"
#include "KorbitCore/External/Tokenizers/Normalizer.hpp"
#include "KorbitCore/External/Tokenizers/PostProcessor.hpp"
#include "KorbitCore/External/Tokenizers/PreTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/Tokenizer.hpp"
#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace korbit {

class PreTrainedTokenizer : public Tokenizer {
public:
    /// Builds the tokenizer; throws TokenizerError (a stage's or the model's configuration fault,
    /// the class choice) and builds nothing then. `strict` refuses a class the model table lacks.
    PreTrainedTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, bool strict);

    using Tokenizer::decode;
    using Tokenizer::encode;

    std::vector<std::string> tokenize(std::string_view text) const override;
    std::vector<int> encode(std::string_view text, bool addSpecialTokens) const override;
    std::string decode(std::span<const int> tokens, bool skipSpecialTokens) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override {
        return model_->convertTokenToId(token);
    }
    std::optional<std::string> convertIdToToken(int id) const override { return model_->convertIdToToken(id); }

    std::optional<std::string> bosToken() const override { return model_->bosToken(); }
    std::optional<int> bosTokenId() const override { return model_->bosTokenId(); }
    std::optional<std::string> eosToken() const override { return model_->eosToken(); }
    std::optional<int> eosTokenId() const override { return model_->eosTokenId(); }
    std::optional<std::string> unknownToken() const override { return model_->unknownToken(); }
    std::optional<int> unknownTokenId() const override { return model_->unknownTokenId(); }
    bool fuseUnknownTokens() const { return model_->fuseUnknownTokens(); }

    // The stages, each applied as the tokenizer applies it (unchanged without the stage).
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const;
    std::string normalize(std::string_view text) const;
    std::vector<std::string> postProcess(std::vector<std::string> tokens, bool addSpecialTokens) const;
    std::vector<std::string> decodeTokens(std::vector<std::string> tokens) const;
    /// The ten literal clean-up replacements (" ." -> "." ...) when clean-up is on.
    std::string cleanUp(std::string text) const;
    /// Runs of unknown tokens shrunk to their first, when the model asks for it.
    std::vector<std::string> fuseUnknown(std::vector<std::string> tokens) const;

    const TokenizingModel& model() const { return *model_; }
    const TokenSet& addedTokens() const { return addedTokens_; }
    const std::unordered_map<std::string, int>& specialTokens() const { return specialTokens_; }
    const Config& tokenizerConfig() const { return tokenizerConfig_; }
    bool cleanUpTokenizationSpaces() const { return cleanUpTokenizationSpaces_; }
    /// The added-token expression, empty when there is none.
    const std::string& addedTokensPattern() const { return splitter_->pattern(); }

protected:
    /// Whether encode may take its road straight to ids (a subclass that changes tokenize says no).
    void setIdRoadAllowed(bool allowed) { idRoadAllowed_ = allowed; }

private:
    /// The sections of the text between (and including) its added tokens.
    std::vector<std::string_view> sections(std::string_view text) const;
    /// The section normalized (into `normalized` when a normalizer changes it) and pre-tokenized.
    void cutSection(std::string_view section, bool first, std::string& normalized, TextPieces& pieces) const;
    void encodeSection(std::string_view section, bool first, std::string& normalized, TextPieces& pieces,
                       std::vector<int>& ids) const;
    /// fuseUnknown on the tokens from `start` on.
    void fuseUnknownFrom(std::vector<std::string>& tokens, std::size_t start) const;

    std::unique_ptr<TokenizingModel> model_;
    TokenSet addedTokens_;
    std::unordered_map<std::string, int> specialTokens_;
    std::unordered_set<int> specialTokenIds_;
    std::unique_ptr<AddedTokenSplitter> splitter_;
    std::unique_ptr<PreTokenizer> preTokenizer_;
    std::unique_ptr<Normalizer> normalizer_;
    std::unique_ptr<PostProcessor> postProcessor_;
    std::unique_ptr<Decoder> decoder_;
    Config tokenizerConfig_;
    bool cleanUpTokenizationSpaces_ = true;
    bool idRoadAllowed_ = true;
};

}  // namespace korbit
