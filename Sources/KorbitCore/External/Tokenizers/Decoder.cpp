#include "KorbitCore/External/Tokenizers/Decoder.hpp"

#include "KorbitCore/Extensions/StringExtensions.hpp"
#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"
#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Platform/Text/Unicode.hpp"

namespace korbit {
namespace {

namespace text = platform::text;

constexpr std::string_view kWordPieceCleanup = "\\s(\\.|\\?|\\!|\\,|'\\s|n't|'m|'s|'ve|'re)";

}  // namespace

std::unique_ptr<Decoder> DecoderFactory::fromConfig(const std::optional<Config>& config, const TokenSet* addedTokens) {
    if (!config) return nullptr;
    std::optional<std::string> type = (*config)["type"].string();
    if (!type) return nullptr;
    const Config& c = *config;
    if (*type == "Sequence") return std::make_unique<DecoderSequence>(c);
    if (*type == "WordPiece") return std::make_unique<WordPieceDecoder>(c);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelDecoder>(c, addedTokens ? *addedTokens : TokenSet{});
    if (*type == "Replace") return std::make_unique<ReplaceDecoder>(c);
    if (*type == "ByteFallback") return std::make_unique<ByteFallbackDecoder>(c);
    if (*type == "Fuse") return std::make_unique<FuseDecoder>(c);
    if (*type == "Strip") return std::make_unique<StripDecoder>(c);
    if (*type == "Metaspace") return std::make_unique<MetaspaceDecoder>(c);
    throw TokenizerError::mismatchedConfig("Unsupported Decoder type: " + *type);
}

// ---- Sequence ----

DecoderSequence::DecoderSequence(const Config& config) {
    const Config::Array* members = config["decoders"].array();
    if (!members) throw TokenizerError::mismatchedConfig("No decoders in Sequence");
    for (const Config& member : *members) {
        if (auto decoder = DecoderFactory::fromConfig(member)) decoders_.push_back(std::move(decoder));
    }
}

std::vector<std::string> DecoderSequence::decode(std::vector<std::string> tokens) const {
    for (const auto& decoder : decoders_) tokens = decoder->decode(std::move(tokens));
    return tokens;
}

// ---- WordPiece ----

WordPieceDecoder::WordPieceDecoder(const Config& config)
    : prefix_([&] {
          std::optional<std::string> prefix = config["prefix"].string();
          if (!prefix) throw TokenizerError::mismatchedConfig("Missing `prefix` configuration for WordPieceDecoder.");
          return *prefix;
      }()),
      cleanup_(config["cleanup"].boolean().value_or(false)),
      re_(kWordPieceCleanup) {}

std::string WordPieceDecoder::cleanUp(const std::string& token) const {
    return replacingOccurrences(re_.replaceAll(token, "$1"), " do not", " don't");
}

std::vector<std::string> WordPieceDecoder::decode(std::vector<std::string> tokens) const {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::string& token = tokens[i];
        if (i > 0) {
            if (token.starts_with(prefix_)) {
                token.erase(0, prefix_.size());
            } else {
                token.insert(0, 1, ' ');
            }
        }
        if (cleanup_) token = cleanUp(token);
    }
    return tokens;
}

// ---- ByteLevel ----

ByteLevelDecoder::ByteLevelDecoder(const Config&, TokenSet addedTokens) : addedTokens_(std::move(addedTokens)) {}

std::string ByteLevelDecoder::convertTokensToString(const std::vector<std::string>& tokens) {
    std::string bytes;
    for (const std::string& token : tokens) {
        std::size_t i = 0;
        while (i < token.size()) {
            const unsigned char lead = static_cast<unsigned char>(token[i]);
            std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            length = std::min(length, token.size() - i);
            char32_t scalar = lead;
            if (length == 2) scalar = (char32_t(lead & 0x1F) << 6) | (static_cast<unsigned char>(token[i + 1]) & 0x3F);
            int byte = length <= 2 ? byteForScalar(scalar) : -1;
            if (byte >= 0) {
                bytes.push_back(static_cast<char>(byte));
            } else {
                bytes.append(token, i, length);
            }
            i += length;
        }
    }
    return text::isValidUtf8(bytes) ? bytes : text::repairUtf8(bytes);
}

std::vector<std::string> ByteLevelDecoder::decode(std::vector<std::string> tokens) const {
    std::vector<std::string> out;
    std::vector<std::string> run;
    for (std::string& token : tokens) {
        if (addedTokens_.contains(token)) {
            if (!run.empty()) {
                out.push_back(convertTokensToString(run));
                run.clear();
            }
            out.push_back(std::move(token));
        } else {
            run.push_back(std::move(token));
        }
    }
    if (!run.empty()) out.push_back(convertTokensToString(run));
    return out;
}

// ---- Replace ----

ReplaceDecoder::ReplaceDecoder(const Config& config) : pattern_(StringReplacePattern::from(config)) {}

std::vector<std::string> ReplaceDecoder::decode(std::vector<std::string> tokens) const {
    if (!pattern_) return tokens;
    for (std::string& token : tokens) token = pattern_->replace(token);
    return tokens;
}

// ---- ByteFallback ----

int ByteFallbackDecoder::byteOf(std::string_view token) {
    if (token.size() != 6 || !token.starts_with("<0x") || token[5] != '>') return -1;
    const char a = token[3];
    const char b = token[4];
    // The field parses as a signed base-16 integer: "+A" is 10, "-0" is 0, "-A" is no byte.
    if (a == '+') return text::hexDigitValue(b);
    if (a == '-') return text::hexDigitValue(b) == 0 ? 0 : -1;
    if (text::hexDigitValue(a) < 0 || text::hexDigitValue(b) < 0) return -1;
    return text::hexDigitValue(a) * 16 + text::hexDigitValue(b);
}

std::vector<std::string> ByteFallbackDecoder::decode(std::vector<std::string> tokens) const {
    std::vector<std::string> out;
    std::string pending;
    auto flush = [&] {
        if (pending.empty()) return;
        out.push_back(text::repairUtf8(pending));
        pending.clear();
    };
    for (std::string& token : tokens) {
        const int byte = byteOf(token);
        if (byte >= 0) {
            pending.push_back(static_cast<char>(byte));
            continue;
        }
        flush();
        out.push_back(std::move(token));
    }
    flush();
    return out;
}

// ---- Fuse ----

std::vector<std::string> FuseDecoder::decode(std::vector<std::string> tokens) const {
    std::string joined;
    for (const std::string& token : tokens) joined += token;
    return {joined};
}

// ---- Strip ----

StripDecoder::StripDecoder(const Config& config) {
    std::optional<std::string> content = config["content"].string();
    if (!content)
        throw TokenizerError::mismatchedConfig("Incorrect StripDecoder configuration: can't parse `content`.");
    std::optional<std::int64_t> start = config["start"].integer();
    if (!start) throw TokenizerError::mismatchedConfig("Incorrect StripDecoder configuration: can't parse `start`.");
    std::optional<std::int64_t> stop = config["stop"].integer();
    if (!stop) throw TokenizerError::mismatchedConfig("Incorrect StripDecoder configuration: can't parse `stop`.");
    content_ = std::move(*content);
    start_ = *start;
    stop_ = *stop;
}

std::vector<std::string> StripDecoder::decode(std::vector<std::string> tokens) const {
    for (std::string& token : tokens) {
        token = trimmingFromEnd(trimmingFromStart(token, content_, static_cast<long>(start_)), content_,
                                static_cast<long>(stop_));
    }
    return tokens;
}

// ---- Metaspace ----

MetaspaceDecoder::MetaspaceDecoder(const Config& config)
    : addPrefixSpace_(config["addPrefixSpace"].boolean().value_or(false)),
      replacement_(config["replacement"].string().value_or("_")) {}

std::vector<std::string> MetaspaceDecoder::decode(std::vector<std::string> tokens) const {
    for (std::string& token : tokens) token = replacingOccurrences(token, replacement_, " ");
    if (addPrefixSpace_ && !tokens.empty() && tokens.front().starts_with(' ')) tokens.front().erase(0, 1);
    return tokens;
}

}  // namespace korbit
