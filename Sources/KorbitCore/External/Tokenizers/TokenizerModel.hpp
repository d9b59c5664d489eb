#pragma once

// The choice of a vocabulary model by tokenizer class, and the unknown-token reader shared by
// the models.

#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace korbit {

struct TokenizerModel {
    /// Builds one model class (the PreTrainedTokenizerModel constructor contract).
    using Constructor = std::function<std::unique_ptr<TokenizingModel>(
        const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens)>;

    /// The model table: tokenizer class name (exact case) -> model class.
    static const std::map<std::string, Constructor>& knownTokenizers();

    /// The model for the configuration's "tokenizer_class" (every "Fast" removed). Throws
    /// missingTokenizerClassInConfig without a class; for a class not in the table throws
    /// unsupportedTokenizer when `strict`, else prints a warning line and uses the byte-pair model.
    static std::unique_ptr<TokenizingModel> from(const Config& tokenizerConfig, const Config& tokenizerData,
                                                 const AddedTokens& addedTokens, bool strict);

    /// The configuration's unk_token: its "content" when that is a string, else the value itself
    /// when it is a string, else absent.
    static std::optional<std::string> unknownToken(const Config& tokenizerConfig);
};

/// Every occurrence of "Fast" removed from a tokenizer class name.
std::string withoutFast(std::string className);

}  // namespace korbit
