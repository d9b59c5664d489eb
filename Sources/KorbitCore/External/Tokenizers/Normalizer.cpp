#include "KorbitCore/External/Tokenizers/Normalizer.hpp"

#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Platform/Text/Unicode.hpp"

namespace korbit {
namespace {

namespace text = platform::text;

bool flag(const Config& config, std::string_view key, bool fallback) {
    return config[key].boolean().value_or(fallback);
}

bool isAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<Normalizer> NormalizerFactory::fromConfig(const std::optional<Config>& config) {
    if (!config) return nullptr;
    std::optional<std::string> type = (*config)["type"].string();
    if (!type) return nullptr;
    const Config& c = *config;
    if (*type == "Sequence") return std::make_unique<NormalizerSequence>(c);
    if (*type == "Prepend") return std::make_unique<PrependNormalizer>(c);
    if (*type == "Replace") return std::make_unique<ReplaceNormalizer>(c);
    if (*type == "Lowercase") return std::make_unique<LowercaseNormalizer>(c);
    if (*type == "NFD") return std::make_unique<NFDNormalizer>(c);
    if (*type == "NFC") return std::make_unique<NFCNormalizer>(c);
    if (*type == "NFKD") return std::make_unique<NFKDNormalizer>(c);
    if (*type == "NFKC") return std::make_unique<NFKCNormalizer>(c);
    if (*type == "Bert" || *type == "BertNormalizer") return std::make_unique<BertNormalizer>(c);
    if (*type == "Precompiled") return std::make_unique<PrecompiledNormalizer>(c);
    if (*type == "StripAccents") return std::make_unique<StripAccentsNormalizer>(c);
    if (*type == "Strip") return std::make_unique<StripNormalizer>(c);
    throw TokenizerError::mismatchedConfig("Unsupported Normalizer type: " + *type);
}

// ---- StringReplacePattern ----

std::optional<StringReplacePattern> StringReplacePattern::from(const Config& config) {
    std::optional<std::string> replacement = config["content"].string();
    if (!replacement) return std::nullopt;
    const Config pattern = config["pattern"];
    StringReplacePattern result;
    result.replacement_ = std::move(*replacement);
    if (std::optional<std::string> literal = pattern["String"].string()) {
        result.pattern_ = std::move(*literal);
        return result;
    }
    if (std::optional<std::string> source = pattern["Regex"].string()) {
        try {
            result.regexp_.emplace(*source);
        } catch (const text::RegexError&) {
            throw TokenizerError::mismatchedConfig("Cannot build regexp from " + *source);
        }
        return result;
    }
    return std::nullopt;
}

std::string StringReplacePattern::replace(std::string_view input) const {
    if (regexp_) return regexp_->replaceAll(input, replacement_);
    return replacingOccurrences(input, pattern_, replacement_);
}

// ---- Members ----

NormalizerSequence::NormalizerSequence(const Config& config) {
    const Config::Array* members = config["normalizers"].array();
    if (!members) throw TokenizerError::mismatchedConfig("No normalizers in Sequence");
    for (const Config& member : *members) {
        if (auto normalizer = NormalizerFactory::fromConfig(member)) normalizers_.push_back(std::move(normalizer));
    }
}

std::string NormalizerSequence::normalize(std::string_view input) const {
    std::string current(input);
    for (const auto& normalizer : normalizers_) current = normalizer->normalize(current);
    return current;
}

PrependNormalizer::PrependNormalizer(const Config& config) : prepend_(config["prepend"].string().value_or("")) {}

std::string PrependNormalizer::normalize(std::string_view input) const {
    return prepend_ + std::string(input);
}

ReplaceNormalizer::ReplaceNormalizer(const Config& config) : pattern_(StringReplacePattern::from(config)) {}

std::string ReplaceNormalizer::normalize(std::string_view input) const {
    return pattern_ ? pattern_->replace(input) : std::string(input);
}

std::string LowercaseNormalizer::normalize(std::string_view input) const {
    return text::toLower(input);
}

std::string NFDNormalizer::normalize(std::string_view input) const {
    return text::normalize(input, text::NormalizationForm::NFD);
}

std::string NFCNormalizer::normalize(std::string_view input) const {
    return text::normalize(input, text::NormalizationForm::NFC);
}

std::string NFKDNormalizer::normalize(std::string_view input) const {
    return text::normalize(input, text::NormalizationForm::NFKD);
}

std::string NFKCNormalizer::normalize(std::string_view input) const {
    return text::normalize(input, text::NormalizationForm::NFKC);
}

// ---- Bert ----

BertNormalizer::BertNormalizer(const Config& config)
    : shouldCleanText_(flag(config, "cleanText", true)),
      shouldHandleChineseChars_(flag(config, "handleChineseChars", true)),
      shouldStripAccents_(false),
      shouldLowercase_(flag(config, "lowercase", true)) {
    shouldStripAccents_ = flag(config, "stripAccents", shouldLowercase_);
}

std::string BertNormalizer::normalize(std::string_view input) const {
    std::string out(input);
    if (shouldCleanText_) out = cleanText(out);
    if (shouldHandleChineseChars_) out = handleChineseChars(out);
    if (shouldStripAccents_) out = stripAccents(out);
    if (shouldLowercase_) out = text::toLower(out);
    return out;
}

std::string BertNormalizer::cleanText(std::string_view input) {
    // Tab and line feed are always characters of their own; CR LF is one character.
    std::string out;
    out.reserve(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        const char c = input[i];
        if (c == '\t' || c == '\n') {
            out.push_back(' ');
        } else if (c == '\r') {
            out.push_back(' ');
            if (i + 1 < input.size() && input[i + 1] == '\n') ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool BertNormalizer::isChineseChar(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2A6DF) ||
           (c >= 0x2A700 && c <= 0x2CEAF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x2F800 && c <= 0x2FA1F);
}

std::string BertNormalizer::handleChineseChars(std::string_view input) {
    if (isAscii(input)) return std::string(input);
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    std::string out;
    out.reserve(input.size() + 16);
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        std::string_view character = input.substr(bounds[k], bounds[k + 1] - bounds[k]);
        if (isChineseChar(text::firstScalar(character))) {
            out.push_back(' ');
            out.append(character);
            out.push_back(' ');
        } else {
            out.append(character);
        }
    }
    return out;
}

std::string BertNormalizer::stripAccents(std::string_view input) {
    std::u32string scalars = text::toUtf32(text::normalize(input, text::NormalizationForm::NFD));
    std::erase_if(scalars, [](char32_t c) { return c >= 0x300 && c <= 0x36F; });
    return text::fromUtf32(scalars);
}

// ---- Precompiled ----

std::string PrecompiledNormalizer::normalize(std::string_view input) const {
    std::u32string kept;
    bool sawTilde = false;
    for (char32_t c : text::toUtf32(input)) {
        if ((c >= 0x01 && c <= 0x08) || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F || c == 0x8F || c == 0x9F)
            continue;
        if (c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x1680 || (c >= 0x200B && c <= 0x200F) ||
            c == 0x2028 || c == 0x2029 || c == 0x2581 || c == 0xFEFF || c == 0xFFFD) {
            kept.push_back(U' ');
            continue;
        }
        if (c == 0xFF5E) sawTilde = true;
        kept.push_back(c);
    }
    const std::string output = text::fromUtf32(kept);
    if (!sawTilde) return text::normalize(output, text::NormalizationForm::NFKC);
    // NFKC would turn the fullwidth tilde into "~": normalise the pieces between tildes.
    const std::string tilde = "\xEF\xBD\x9E";
    std::string joined;
    for (const std::string& piece : split(output, SearchPattern::regularExpression(tilde), false)) {
        if (!joined.empty()) joined += tilde;
        joined += text::normalize(piece, text::NormalizationForm::NFKC);
    }
    return joined;
}

// ---- StripAccents and Strip ----

std::string StripAccentsNormalizer::normalize(std::string_view input) const {
    if (isAscii(input)) return std::string(input);
    std::u32string scalars = text::toUtf32(input);
    std::erase_if(scalars, [](char32_t c) { return text::isNonspacingMark(c); });
    return text::fromUtf32(scalars);
}

StripNormalizer::StripNormalizer(const Config& config)
    : leftStrip_(flag(config, "stripLeft", true)), rightStrip_(flag(config, "stripRight", true)) {}

std::string StripNormalizer::normalize(std::string_view input) const {
    // A character is whitespace when its first scalar is (so a CR LF pair is one).
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    std::size_t first = 0;
    std::size_t last = bounds.size() - 1;  // characters [first, last) are kept
    auto isSpace = [&](std::size_t k) {
        return text::isWhiteSpace(text::firstScalar(input.substr(bounds[k], bounds[k + 1] - bounds[k])));
    };
    if (leftStrip_) {
        while (first < last && isSpace(first)) ++first;
    }
    if (rightStrip_) {
        while (last > first && isSpace(last - 1)) --last;
    }
    return std::string(input.substr(bounds[first], bounds[last] - bounds[first]));
}

}  // namespace korbit
