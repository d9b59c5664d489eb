#include "KorbitCore/External/Tokenizers/BertTokenizer.hpp"

#include "KorbitCore/External/Tokenizers/Normalizer.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Platform/Text/Unicode.hpp"

#include <algorithm>

namespace korbit {
namespace {

namespace text = platform::text;

bool isPunctuationCharacter(std::string_view character) {
    std::u32string scalars = text::toUtf32(character.substr(0, std::min<std::size_t>(character.size(), 4)));
    if (scalars.empty()) return false;
    const char32_t c = scalars.front();
    return text::isPunctuation(c) || (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

const TokenIdMap& emptyVocabulary() {
    static const TokenIdMap empty;
    return empty;
}

}  // namespace

// ---- BasicTokenizer ----

const std::vector<std::string>& BasicTokenizer::neverSplit() {
    static const std::vector<std::string> tokens{"[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]"};
    return tokens;
}

std::vector<std::string> BasicTokenizer::tokenize(std::string_view input) const {
    const std::string folded = doLowerCase_ ? text::foldDiacritics(input) : std::string(input);
    // Pieces between horizontal whitespace; line breaks stay inside them.
    std::vector<std::string> pieces;
    std::string current;
    for (char32_t c : text::toUtf32(folded)) {
        if (text::isHorizontalSpace(c)) {
            if (!current.empty()) pieces.push_back(std::move(current));
            current.clear();
        } else {
            text::appendUtf8(current, c);
        }
    }
    if (!current.empty()) pieces.push_back(std::move(current));

    std::vector<std::string> words;
    for (const std::string& piece : pieces) {
        if (std::find(neverSplit().begin(), neverSplit().end(), piece) != neverSplit().end()) {
            words.push_back(piece);
            continue;
        }
        const std::string cased = doLowerCase_ ? text::toLower(piece) : piece;
        std::string word;
        for (const std::string& character : text::graphemes(cased)) {
            if (isPunctuationCharacter(character)) {
                if (!word.empty()) words.push_back(std::move(word));
                word.clear();
                words.push_back(character);
            } else {
                word += character;
            }
        }
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

// ---- WordpieceTokenizer ----

std::vector<std::string> WordpieceTokenizer::tokenize(std::string_view word) const {
    if (word.empty()) return {};
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(word);
    const std::size_t count = bounds.size() - 1;
    if (count > maxInputCharsPerWord) return {std::string(unkToken)};
    std::vector<std::string> pieces;
    std::string candidate;
    for (std::size_t start = 0; start < count;) {
        std::size_t end = count;
        bool found = false;
        for (; end > start; --end) {
            candidate.assign(start > 0 ? "##" : "");
            candidate.append(word.substr(bounds[start], bounds[end] - bounds[start]));
            if (vocab_->contains(candidate)) {
                found = true;
                break;
            }
        }
        if (!found) return {std::string(unkToken)};
        pieces.push_back(candidate);
        start = end;
    }
    return pieces;
}

// ---- BertTokenizer ----

BertTokenizer::BertTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens)
    : tokenizeChineseChars_(true), basicTokenizer_(true), wordpieceTokenizer_(emptyVocabulary()) {
    const Config::Dictionary* vocab = tokenizerData["model"]["vocab"].dictionary();
    if (!vocab) throw TokenizerError::missingVocab();
    tokenizeChineseChars_ = tokenizerConfig["handleChineseChars"].boolean().value_or(true);
    eosToken_ = tokenizerConfig["eosToken"].string();
    bosToken_ = tokenizerConfig["bosToken"].string();
    fuseUnknownTokens_ = tokenizerConfig["fuseUnk"].boolean().value_or(false);
    const bool doLowerCase = tokenizerConfig["doLowerCase"].boolean().value_or(true);

    vocab_.reserve(vocab->size() + addedTokens.size());
    for (const auto& [token, value] : *vocab) {
        if (std::optional<std::int64_t> id = value.integer())
            vocab_.insert_or_assign(token.string(), static_cast<int>(*id));
    }
    if (const Config::Array* added = tokenizerData["addedTokens"].array()) {
        for (const Config& entry : *added) {
            std::optional<std::int64_t> id = entry["id"].integer();
            std::optional<std::string> content = entry["content"].string();
            if (id && content) vocab_.insert_or_assign(*content, static_cast<int>(*id));
        }
    }
    for (const auto& [content, id] : addedTokens) vocab_.insert_or_assign(content, id);
    for (const auto& [token, id] : vocab_) idsToTokens_.insert_or_assign(id, token);

    bosTokenId_ = idOf(vocab_, bosToken_);
    eosTokenId_ = idOf(vocab_, eosToken_);
    unknownToken_ = std::string(WordpieceTokenizer::unkToken);
    unknownTokenId_ = idOf(vocab_, unknownToken_);
    basicTokenizer_ = BasicTokenizer(doLowerCase);
    wordpieceTokenizer_ = WordpieceTokenizer(vocab_);
}

std::string BertTokenizer::tokenizeChineseCharsIfNeed(std::string_view input) {
    return BertNormalizer::handleChineseChars(input);
}

std::vector<std::string> BertTokenizer::tokenize(std::string_view input) const {
    const std::string prepared = tokenizeChineseChars_ ? tokenizeChineseCharsIfNeed(input) : std::string(input);
    std::vector<std::string> tokens;
    for (const std::string& word : basicTokenizer_.tokenize(prepared)) {
        std::vector<std::string> pieces = wordpieceTokenizer_.tokenize(word);
        tokens.insert(tokens.end(), std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    }
    return tokens;
}

std::optional<int> BertTokenizer::convertTokenToId(std::string_view token) const {
    auto it = vocab_.find(token);
    if (it != vocab_.end()) return it->second;
    return unknownTokenId_;
}

std::optional<std::string> BertTokenizer::convertIdToToken(int id) const {
    auto it = idsToTokens_.find(id);
    if (it == idsToTokens_.end()) return std::nullopt;
    return it->second;
}

}  // namespace korbit
