#pragma once

// Pre-tokenizers cut one section of normalized text into the pieces the vocabulary model encodes
// one by one. Built from the "pre_tokenizer" object of tokenizer.json by PreTokenizerFactory;
// immutable, so one instance may serve several threads.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCore/External/Tokenizers/TextPieces.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

enum class PreTokenizerOption : unsigned { firstSection = 1 };

/// A set of PreTokenizerOption values.
class PreTokenizerOptions {
public:
    PreTokenizerOptions() = default;
    PreTokenizerOptions(std::initializer_list<PreTokenizerOption> options) {
        for (PreTokenizerOption option : options) insert(option);
    }
    bool contains(PreTokenizerOption option) const { return (bits_ & static_cast<unsigned>(option)) != 0; }
    void insert(PreTokenizerOption option) { bits_ |= static_cast<unsigned>(option); }
    bool empty() const { return bits_ == 0; }

private:
    unsigned bits_ = 0;
};

class PreTokenizer {
public:
    virtual ~PreTokenizer() = default;
    virtual std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const = 0;
    /// Appends the pieces preTokenize gives. The tokenizer's own road calls this; a pre-tokenizer
    /// that sees every text overrides it to write its pieces straight into the list.
    virtual void appendPieces(std::string_view text, PreTokenizerOptions options, TextPieces& pieces) const;
    /// Each text pre-tokenized in order, the pieces concatenated.
    std::vector<std::string> preTokenize(const std::vector<std::string>& texts, PreTokenizerOptions options) const;
    std::vector<std::string> operator()(const std::vector<std::string>& texts, PreTokenizerOptions options = {}) const {
        return preTokenize(texts, options);
    }
    std::vector<std::string> operator()(std::string_view text, PreTokenizerOptions options = {}) const {
        return preTokenize(text, options);
    }
};

/// Builds the pre-tokenizer a configuration describes; none for an absent configuration or a
/// "type" that is not a string. Throws TokenizerError::mismatchedConfig for an unknown type.
struct PreTokenizerFactory {
    static std::unique_ptr<PreTokenizer> fromConfig(const std::optional<Config>& config);
};

class PreTokenizerSequence final : public PreTokenizer {
public:
    explicit PreTokenizerSequence(const Config& config);
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const override;

private:
    std::vector<std::unique_ptr<PreTokenizer>> preTokenizers_;
};

class ByteLevelPreTokenizer final : public PreTokenizer {
public:
    explicit ByteLevelPreTokenizer(const Config& config);
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const override;
    void appendPieces(std::string_view text, PreTokenizerOptions options, TextPieces& pieces) const override;

    bool addPrefixSpace() const { return addPrefixSpace_; }
    bool trimOffsets() const { return trimOffsets_; }
    bool useRegex() const { return useRegex_; }
    /// The byte-level expression (no key changes it).
    static std::string_view RE();

private:
    bool addPrefixSpace_;
    bool trimOffsets_;
    bool useRegex_;
};

/// The members that keep the texts of the successive matches of one fixed expression.
class RegexPreTokenizer : public PreTokenizer {
public:
    explicit RegexPreTokenizer(std::string_view expression);
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const override;
    const std::string& re() const { return regex_.pattern(); }

private:
    platform::text::Regex regex_;
};

class PunctuationPreTokenizer final : public RegexPreTokenizer {
public:
    explicit PunctuationPreTokenizer(const Config& config);
};

class DigitsPreTokenizer final : public RegexPreTokenizer {
public:
    explicit DigitsPreTokenizer(const Config& config);
};

class WhitespacePreTokenizer final : public RegexPreTokenizer {
public:
    explicit WhitespacePreTokenizer(const Config& config);
};

class BertPreTokenizer final : public RegexPreTokenizer {
public:
    explicit BertPreTokenizer(const Config& config);
};

/// A Split pattern: a regular-expression source or a literal separator.
struct StringSplitPattern {
    enum class Kind { regexp, string };
    Kind kind;
    std::string text;
    static std::optional<StringSplitPattern> from(const Config& config);
};

class SplitPreTokenizer final : public PreTokenizer {
public:
    explicit SplitPreTokenizer(const Config& config);
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const override;

private:
    std::optional<StringSplitPattern> pattern_;
    std::optional<SearchPattern> search_;
    bool invert_;
};

class MetaspacePreTokenizer final : public PreTokenizer {
public:
    enum class PrependScheme { first, never, always };

    explicit MetaspacePreTokenizer(const Config& config);
    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const override;

    const std::string& replacement() const { return replacement_; }
    PrependScheme prependScheme() const { return prependScheme_; }

private:
    bool addPrefixSpace_;
    std::string replacement_;
    std::string stringReplacement_;
    PrependScheme prependScheme_;
};

}  // namespace korbit
