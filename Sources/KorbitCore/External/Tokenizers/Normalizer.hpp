#pragma once

// Normalizers rewrite each section of the input text before it is pre-tokenized. Built from the
// "normalizer" object of tokenizer.json by NormalizerFactory; immutable and thread-safe.

#include "KorbitCore/External/Hub/Config.hpp"
#include "Platform/Text/Regex.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

class Normalizer {
public:
    virtual ~Normalizer() = default;
    virtual std::string normalize(std::string_view text) const = 0;
    std::string operator()(std::string_view text) const { return normalize(text); }
};

/// Builds the normalizer a configuration describes; none for an absent configuration or a "type"
/// that is not a string. Throws TokenizerError::mismatchedConfig for an unknown type.
struct NormalizerFactory {
    static std::unique_ptr<Normalizer> fromConfig(const std::optional<Config>& config);
};

/// The replacement rule of the Replace normalizer and the Replace decoder.
class StringReplacePattern {
public:
    /// From "content" and "pattern" {"String": ...} or {"Regex": ...}; absent without a string
    /// content or a pattern. Throws mismatchedConfig "Cannot build regexp from <source>".
    static std::optional<StringReplacePattern> from(const Config& config);

    /// Every literal occurrence (String) or every match (Regex, the replacement being a template
    /// with "$1" and backslash escapes) replaced.
    std::string replace(std::string_view text) const;

private:
    std::optional<platform::text::Regex> regexp_;
    std::string pattern_;
    std::string replacement_;
};

class NormalizerSequence final : public Normalizer {
public:
    explicit NormalizerSequence(const Config& config);
    std::string normalize(std::string_view text) const override;

private:
    std::vector<std::unique_ptr<Normalizer>> normalizers_;
};

class PrependNormalizer final : public Normalizer {
public:
    explicit PrependNormalizer(const Config& config);
    std::string normalize(std::string_view text) const override;

private:
    std::string prepend_;
};

class ReplaceNormalizer final : public Normalizer {
public:
    explicit ReplaceNormalizer(const Config& config);
    std::string normalize(std::string_view text) const override;

private:
    std::optional<StringReplacePattern> pattern_;
};

class LowercaseNormalizer final : public Normalizer {
public:
    explicit LowercaseNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class NFDNormalizer final : public Normalizer {
public:
    explicit NFDNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class NFCNormalizer final : public Normalizer {
public:
    explicit NFCNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class NFKDNormalizer final : public Normalizer {
public:
    explicit NFKDNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class NFKCNormalizer final : public Normalizer {
public:
    explicit NFKCNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class BertNormalizer final : public Normalizer {
public:
    explicit BertNormalizer(const Config& config);
    std::string normalize(std::string_view text) const override;

    /// Tab, line feed and carriage return (a CR LF pair being one character) become one space.
    static std::string cleanText(std::string_view text);
    /// A space on each side of every character that starts with a CJK ideograph.
    static std::string handleChineseChars(std::string_view text);
    /// Canonical decomposition, then the combining diacritical marks U+0300-U+036F dropped.
    static std::string stripAccents(std::string_view text);
    /// Whether the scalar lies in one of the CJK ideograph blocks.
    static bool isChineseChar(char32_t scalar);

private:
    bool shouldCleanText_;
    bool shouldHandleChineseChars_;
    bool shouldStripAccents_;
    bool shouldLowercase_;
};

class PrecompiledNormalizer final : public Normalizer {
public:
    explicit PrecompiledNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

/// Drops every nonspacing mark (general category Mn). Files place it after a decomposing step,
/// so that accents come off their letters.
class StripAccentsNormalizer final : public Normalizer {
public:
    explicit StripAccentsNormalizer(const Config&) {}
    std::string normalize(std::string_view text) const override;
};

class StripNormalizer final : public Normalizer {
public:
    explicit StripNormalizer(const Config& config);
    std::string normalize(std::string_view text) const override;

private:
    bool leftStrip_;
    bool rightStrip_;
};

}  // namespace korbit
