#pragma once

// The pre-trained tokenizer of "LlamaTokenizer" repositories: with "legacy" false the text gets a
// leading "▁" and a Metaspace pre-tokenizer replaces the normalizer; whatever "legacy" says, a
// post-processor that is not a template is rebuilt from add_bos_token / add_eos_token.

#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"

#include <optional>

namespace korbit {

class LlamaPreTrainedTokenizer final : public PreTrainedTokenizer {
public:
    LlamaPreTrainedTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, bool strict);

    using PreTrainedTokenizer::tokenize;
    std::vector<std::string> tokenize(std::string_view text) const override;
    bool isLegacy() const { return isLegacy_; }

    /// A template post-processor built from add_bos_token / add_eos_token, or nothing when the
    /// configured one already is a template. Throws mismatchedConfig when a token asked for is missing.
    static std::optional<Config> maybeUpdatePostProcessor(const Config& tokenizerConfig, const Config& processorConfig);

private:
    static Config rewrittenData(const Config& tokenizerConfig, const Config& tokenizerData);

    bool isLegacy_;
};

}  // namespace korbit
