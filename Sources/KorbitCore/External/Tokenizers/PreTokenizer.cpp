#include "KorbitCore/External/Tokenizers/PreTokenizer.hpp"

#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"
#include "KorbitCore/External/Tokenizers/ByteLevelPattern.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"

namespace korbit {
namespace {

constexpr std::string_view kPunctuation =
    "[^\\p{P}\\u0021-\\u002F\\u003A-\\u0040\\u005B-\\u0060\\u007B-\\u007E]+|[\\p{P}\\u0021-\\u002F\\u003A-"
    "\\u0040\\u005B-\\u0060\\u007B-\\u007E]+";
constexpr std::string_view kBert =
    "[^\\s\\p{P}\\u0021-\\u002F\\u003A-\\u0040\\u005B-\\u0060\\u007B-\\u007E]+|[\\p{P}\\u0021-\\u002F\\u003A-"
    "\\u0040\\u005B-\\u0060\\u007B-\\u007E]";
constexpr std::string_view kWhitespace = "\\S+";
constexpr std::string_view kDigits = "[^\\d]+|\\d+";
constexpr std::string_view kIndividualDigits = "[^\\d]+|\\d";

bool flag(const Config& config, std::string_view key, bool fallback) {
    return config[key].boolean().value_or(fallback);
}

}  // namespace

void PreTokenizer::appendPieces(std::string_view text, PreTokenizerOptions options, TextPieces& pieces) const {
    for (const std::string& piece : preTokenize(text, options)) pieces.push_back(piece);
}

std::vector<std::string> PreTokenizer::preTokenize(const std::vector<std::string>& texts,
                                                   PreTokenizerOptions options) const {
    std::vector<std::string> pieces;
    for (const std::string& text : texts) {
        std::vector<std::string> part = preTokenize(std::string_view(text), options);
        pieces.insert(pieces.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    }
    return pieces;
}

std::unique_ptr<PreTokenizer> PreTokenizerFactory::fromConfig(const std::optional<Config>& config) {
    if (!config) return nullptr;
    std::optional<std::string> type = (*config)["type"].string();
    if (!type) return nullptr;
    if (*type == "Sequence") return std::make_unique<PreTokenizerSequence>(*config);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelPreTokenizer>(*config);
    if (*type == "Punctuation") return std::make_unique<PunctuationPreTokenizer>(*config);
    if (*type == "Digits") return std::make_unique<DigitsPreTokenizer>(*config);
    if (*type == "Split") return std::make_unique<SplitPreTokenizer>(*config);
    if (*type == "Whitespace" || *type == "WhitespaceSplit") return std::make_unique<WhitespacePreTokenizer>(*config);
    if (*type == "Metaspace") return std::make_unique<MetaspacePreTokenizer>(*config);
    if (*type == "BertPreTokenizer") return std::make_unique<BertPreTokenizer>(*config);
    throw TokenizerError::mismatchedConfig("Unsupported PreTokenizer type: " + *type);
}

// ---- Sequence ----

PreTokenizerSequence::PreTokenizerSequence(const Config& config) {
    const Config::Array* members = config["pretokenizers"].array();
    if (!members) throw TokenizerError::mismatchedConfig("No pretokenizers in Sequence");
    for (const Config& member : *members) {
        if (auto preTokenizer = PreTokenizerFactory::fromConfig(member))
            preTokenizers_.push_back(std::move(preTokenizer));
    }
}

std::vector<std::string> PreTokenizerSequence::preTokenize(std::string_view text, PreTokenizerOptions options) const {
    std::vector<std::string> pieces{std::string(text)};
    for (const auto& member : preTokenizers_) pieces = (*member)(pieces, options);
    return pieces;
}

// ---- ByteLevel ----

ByteLevelPreTokenizer::ByteLevelPreTokenizer(const Config& config)
    : addPrefixSpace_(flag(config, "addPrefixSpace", false)),
      trimOffsets_(flag(config, "trimOffsets", true)),
      useRegex_(flag(config, "useRegex", true)) {}

std::string_view ByteLevelPreTokenizer::RE() {
    return ByteLevelPattern::source;
}

std::vector<std::string> ByteLevelPreTokenizer::preTokenize(std::string_view text, PreTokenizerOptions options) const {
    TextPieces pieces;
    appendPieces(text, options, pieces);
    return pieces.strings();
}

void ByteLevelPreTokenizer::appendPieces(std::string_view text, PreTokenizerOptions, TextPieces& pieces) const {
    // The prefix space goes in front of the text, once: putting one before every piece would
    // insert spaces the text never had ("a,b" would come back as "a , b").
    std::string prefixed;
    if (addPrefixSpace_ && !text.starts_with(' ') && (!text.empty() || !useRegex_)) {
        prefixed.reserve(text.size() + 1);
        prefixed.push_back(' ');
        prefixed.append(text);
        text = prefixed;
    }
    if (!useRegex_) {
        appendByteLevel(pieces.buffer(), text);
        pieces.endPiece();
        return;
    }
    ByteLevelPattern::forEachPiece(text, [&](std::size_t begin, std::size_t end) {
        appendByteLevel(pieces.buffer(), text.substr(begin, end - begin));
        pieces.endPiece();
    });
}

// ---- Members that keep the matches of one expression ----

RegexPreTokenizer::RegexPreTokenizer(std::string_view expression) : regex_(expression) {}

std::vector<std::string> RegexPreTokenizer::preTokenize(std::string_view text, PreTokenizerOptions) const {
    std::vector<std::string> pieces;
    for (const auto& match : regex_.searchAll(text)) pieces.emplace_back(text.substr(match.begin(), match.length()));
    return pieces;
}

PunctuationPreTokenizer::PunctuationPreTokenizer(const Config&) : RegexPreTokenizer(kPunctuation) {}

DigitsPreTokenizer::DigitsPreTokenizer(const Config& config)
    : RegexPreTokenizer(flag(config, "individualDigits", false) ? kIndividualDigits : kDigits) {}

WhitespacePreTokenizer::WhitespacePreTokenizer(const Config&) : RegexPreTokenizer(kWhitespace) {}

BertPreTokenizer::BertPreTokenizer(const Config&) : RegexPreTokenizer(kBert) {}

// ---- Split ----

std::optional<StringSplitPattern> StringSplitPattern::from(const Config& config) {
    Config pattern = config["pattern"];
    if (std::optional<std::string> literal = pattern["String"].string())
        return StringSplitPattern{Kind::string, *literal};
    if (std::optional<std::string> source = pattern["Regex"].string()) return StringSplitPattern{Kind::regexp, *source};
    return std::nullopt;
}

SplitPreTokenizer::SplitPreTokenizer(const Config& config)
    : pattern_(StringSplitPattern::from(config)), invert_(flag(config, "invert", false)) {
    if (pattern_) {
        search_ = pattern_->kind == StringSplitPattern::Kind::regexp ? SearchPattern::regularExpression(pattern_->text)
                                                                     : SearchPattern::literal(pattern_->text);
    }
}

std::vector<std::string> SplitPreTokenizer::preTokenize(std::string_view text, PreTokenizerOptions) const {
    if (!pattern_) return {std::string(text)};
    if (pattern_->kind == StringSplitPattern::Kind::regexp) return split(text, *search_, true);
    return split(text, *search_, !invert_);
}

// ---- Metaspace ----

MetaspacePreTokenizer::MetaspacePreTokenizer(const Config& config)
    : addPrefixSpace_(flag(config, "addPrefixSpace", false)),
      replacement_(config["replacement"].string().value_or(" ")),
      stringReplacement_(config["strRep"].string().value_or(replacement_)),
      prependScheme_(PrependScheme::always) {
    std::optional<std::string> scheme = config["prependScheme"].string();
    if (scheme == "first") prependScheme_ = PrependScheme::first;
    if (scheme == "never") prependScheme_ = PrependScheme::never;
}

std::vector<std::string> MetaspacePreTokenizer::preTokenize(std::string_view text, PreTokenizerOptions options) const {
    std::string replaced = replacingOccurrences(text, " ", stringReplacement_);
    std::string prefix;
    if (addPrefixSpace_ && !std::string_view(replaced).starts_with(replacement_)) {
        if (prependScheme_ == PrependScheme::always ||
            (prependScheme_ == PrependScheme::first && options.contains(PreTokenizerOption::firstSection))) {
            prefix = stringReplacement_;
        }
    }
    // The replacement is searched as text: a replacement such as "." must not act as a pattern.
    return split(prefix + replaced, SearchPattern::literal(replacement_), SplitDelimiterBehavior::mergedWithNext);
}

}  // namespace korbit
