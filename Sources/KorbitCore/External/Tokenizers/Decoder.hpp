#pragma once

// Decoders turn the token strings of a list of ids back into text pieces, which the tokenizer
// joins. Built from the "decoder" object of tokenizer.json by DecoderFactory; immutable and
// thread-safe.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Tokenizers/Normalizer.hpp"
#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korbit {

class Decoder {
public:
    virtual ~Decoder() = default;
    virtual std::vector<std::string> decode(std::vector<std::string> tokens) const = 0;
    std::vector<std::string> operator()(std::vector<std::string> tokens) const { return decode(std::move(tokens)); }
};

/// Builds the decoder a configuration describes; none for an absent configuration or a "type"
/// that is not a string. Throws TokenizerError::mismatchedConfig for an unknown type or a missing
/// required key. `addedTokens` reaches a top-level byte-level decoder only.
struct DecoderFactory {
    static std::unique_ptr<Decoder> fromConfig(const std::optional<Config>& config,
                                               const TokenSet* addedTokens = nullptr);
};

class DecoderSequence final : public Decoder {
public:
    explicit DecoderSequence(const Config& config);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;

private:
    std::vector<std::unique_ptr<Decoder>> decoders_;
};

class WordPieceDecoder final : public Decoder {
public:
    explicit WordPieceDecoder(const Config& config);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;

private:
    std::string cleanUp(const std::string& token) const;

    std::string prefix_;
    bool cleanup_;
    platform::text::Regex re_;
};

class ByteLevelDecoder final : public Decoder {
public:
    ByteLevelDecoder(const Config& config, TokenSet addedTokens);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;
    /// The tokens' characters mapped back to bytes, decoded as UTF-8 with one U+FFFD per maximal
    /// ill-formed subpart. A character outside the byte table keeps its own bytes.
    static std::string convertTokensToString(const std::vector<std::string>& tokens);

private:
    TokenSet addedTokens_;
};

class ReplaceDecoder final : public Decoder {
public:
    explicit ReplaceDecoder(const Config& config);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;

private:
    std::optional<StringReplacePattern> pattern_;
};

class ByteFallbackDecoder final : public Decoder {
public:
    explicit ByteFallbackDecoder(const Config&) {}
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;
    /// The byte a "<0xNN>" token stands for, or -1 for any other token.
    static int byteOf(std::string_view token);
};

class FuseDecoder final : public Decoder {
public:
    explicit FuseDecoder(const Config&) {}
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;
};

class StripDecoder final : public Decoder {
public:
    explicit StripDecoder(const Config& config);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;

private:
    std::string content_;
    std::int64_t start_;
    std::int64_t stop_;
};

class MetaspaceDecoder final : public Decoder {
public:
    explicit MetaspaceDecoder(const Config& config);
    std::vector<std::string> decode(std::vector<std::string> tokens) const override;

private:
    bool addPrefixSpace_;
    std::string replacement_;
};

}  // namespace korbit
