#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"

#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"
#include "Platform/Text/Unicode.hpp"

#include <array>

namespace korbit {
namespace {

namespace text = platform::text;

constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kCleanUps{{
    {" .", "."},
    {" ?", "?"},
    {" !", "!"},
    {" ,", ","},
    {" ' ", "'"},
    {" n't", "n't"},
    {" 'm", "'m"},
    {" 's", "'s"},
    {" 've", "'ve"},
    {" 're", "'re"},
}};

std::optional<Config> memberOf(const Config& data, std::string_view key) {
    Config value = data[key];
    if (value.isNull()) return std::nullopt;
    return value;
}

/// The text itself when it is well-formed UTF-8, else its repaired copy kept in `storage`.
std::string_view wellFormed(std::string_view input, std::string& storage) {
    if (text::isValidUtf8(input)) return input;
    storage = text::repairUtf8(input);
    return storage;
}

}  // namespace

PreTrainedTokenizer::PreTrainedTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, bool strict)
    : tokenizerConfig_(tokenizerConfig) {
    AddedTokens added;
    std::vector<AddedTokenSplitter::Entry> entries;
    if (const Config::Array* list = tokenizerData["addedTokens"].array()) {
        for (const Config& entry : *list) {
            std::optional<std::string> content = entry["content"].string();
            if (!content) continue;
            entries.push_back(
                {*content, entry["lstrip"].boolean().value_or(false), entry["rstrip"].boolean().value_or(false)});
            std::optional<std::int64_t> id = entry["id"].integer();
            if (!id) continue;
            added.insert_or_assign(*content, static_cast<int>(*id));
            if (entry["special"].boolean().value_or(false))
                specialTokens_.insert_or_assign(*content, static_cast<int>(*id));
        }
    }
    splitter_ = std::make_unique<AddedTokenSplitter>(std::move(entries));
    for (const auto& [content, id] : added) addedTokens_.insert(content);
    for (const auto& [content, id] : specialTokens_) specialTokenIds_.insert(id);

    preTokenizer_ = PreTokenizerFactory::fromConfig(memberOf(tokenizerData, "preTokenizer"));
    normalizer_ = NormalizerFactory::fromConfig(memberOf(tokenizerData, "normalizer"));
    postProcessor_ = PostProcessorFactory::fromConfig(memberOf(tokenizerData, "postProcessor"));
    decoder_ = DecoderFactory::fromConfig(memberOf(tokenizerData, "decoder"), &addedTokens_);
    cleanUpTokenizationSpaces_ = tokenizerConfig["cleanUpTokenizationSpaces"].boolean().value_or(true);
    model_ = TokenizerModel::from(tokenizerConfig, tokenizerData, added, strict);
}

std::vector<std::string> PreTrainedTokenizer::preTokenize(std::string_view input, PreTokenizerOptions options) const {
    if (!preTokenizer_) return {std::string(input)};
    return preTokenizer_->preTokenize(input, options);
}

std::string PreTrainedTokenizer::normalize(std::string_view input) const {
    return normalizer_ ? normalizer_->normalize(input) : std::string(input);
}

std::vector<std::string> PreTrainedTokenizer::postProcess(std::vector<std::string> tokens,
                                                          bool addSpecialTokens) const {
    if (!postProcessor_) return tokens;
    return postProcessor_->postProcess(std::move(tokens), std::nullopt, addSpecialTokens);
}

std::vector<std::string> PreTrainedTokenizer::decodeTokens(std::vector<std::string> tokens) const {
    return decoder_ ? decoder_->decode(std::move(tokens)) : tokens;
}

std::string PreTrainedTokenizer::cleanUp(std::string input) const {
    if (!cleanUpTokenizationSpaces_) return input;
    for (const auto& [from, to] : kCleanUps) {
        if (input.find(from) != std::string::npos) input = replacingOccurrences(input, from, to);
    }
    return input;
}

std::vector<std::string> PreTrainedTokenizer::fuseUnknown(std::vector<std::string> tokens) const {
    fuseUnknownFrom(tokens, 0);
    return tokens;
}

void PreTrainedTokenizer::fuseUnknownFrom(std::vector<std::string>& tokens, std::size_t start) const {
    if (!model_->fuseUnknownTokens()) return;
    const std::optional<int> unknownId = model_->unknownTokenId();
    std::size_t kept = start;
    bool previousUnknown = false;
    for (std::size_t i = start; i < tokens.size(); ++i) {
        const bool unknown = model_->convertTokenToId(tokens[i]) == unknownId;
        if (unknown && previousUnknown) continue;
        previousUnknown = unknown;
        if (kept != i) tokens[kept] = std::move(tokens[i]);
        ++kept;
    }
    tokens.resize(kept);
}

void PreTrainedTokenizer::cutSection(std::string_view section, bool first, std::string& normalized,
                                     TextPieces& pieces) const {
    pieces.clear();
    if (normalizer_) {
        normalized = normalizer_->normalize(section);
        section = normalized;
    }
    if (!preTokenizer_) {
        pieces.push_back(section);
        return;
    }
    PreTokenizerOptions options;
    if (first) options.insert(PreTokenizerOption::firstSection);
    preTokenizer_->appendPieces(section, options, pieces);
}

std::vector<std::string_view> PreTrainedTokenizer::sections(std::string_view input) const {
    return splitter_->split(input);
}

std::vector<std::string> PreTrainedTokenizer::tokenize(std::string_view input) const {
    std::string storage;
    input = wellFormed(input, storage);
    std::vector<std::string> tokens;
    std::string normalized;
    TextPieces pieces;
    const std::vector<std::string_view> parts = sections(input);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (addedTokens_.contains(parts[i])) {
            tokens.emplace_back(parts[i]);
            continue;
        }
        const std::size_t start = tokens.size();
        cutSection(parts[i], i == 0, normalized, pieces);
        for (std::size_t k = 0; k < pieces.size(); ++k) model_->appendTokens(pieces[k], tokens);
        fuseUnknownFrom(tokens, start);
    }
    return tokens;
}

void PreTrainedTokenizer::encodeSection(std::string_view section, bool first, std::string& normalized,
                                        TextPieces& pieces, std::vector<int>& ids) const {
    const std::size_t start = ids.size();
    cutSection(section, first, normalized, pieces);
    for (std::size_t k = 0; k < pieces.size(); ++k) model_->appendIds(pieces[k], ids);
    if (!model_->fuseUnknownTokens() || !model_->unknownTokenId()) return;
    // Ids of tokens without an id are already left out, so only the unknown id can repeat.
    const int unknownId = *model_->unknownTokenId();
    std::size_t out = start;
    for (std::size_t i = start; i < ids.size(); ++i) {
        if (ids[i] == unknownId && out > start && ids[out - 1] == unknownId) continue;
        ids[out++] = ids[i];
    }
    ids.resize(out);
}

std::vector<int> PreTrainedTokenizer::encode(std::string_view input, bool addSpecialTokens) const {
    std::vector<int> ids;
    const bool idRoad = idRoadAllowed_ && (!postProcessor_ || postProcessor_->passesTokensThrough());
    if (!idRoad) {
        std::vector<std::string> tokens = postProcess(tokenize(input), addSpecialTokens);
        ids.reserve(tokens.size());
        for (const std::string& token : tokens) {
            // A token without an id (possible only when no unknown token is configured) is left out.
            if (std::optional<int> id = model_->convertTokenToId(token)) ids.push_back(*id);
        }
        return ids;
    }
    std::string storage;
    input = wellFormed(input, storage);
    ids.reserve(input.size() / 3 + 4);
    std::string normalized;
    TextPieces pieces;
    const std::vector<std::string_view> parts = sections(input);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (addedTokens_.contains(parts[i])) {
            if (std::optional<int> id = model_->convertTokenToId(parts[i])) ids.push_back(*id);
            continue;
        }
        encodeSection(parts[i], i == 0, normalized, pieces, ids);
    }
    return ids;
}

std::string PreTrainedTokenizer::decode(std::span<const int> ids, bool skipSpecialTokens) const {
    std::vector<std::string> tokens;
    tokens.reserve(ids.size());
    for (int id : ids) {
        if (skipSpecialTokens && specialTokenIds_.contains(id)) continue;
        if (std::optional<std::string> token = model_->convertIdToToken(id)) tokens.push_back(std::move(*token));
    }
    std::string joined;
    for (const std::string& piece : decodeTokens(std::move(tokens))) joined += piece;
    return cleanUp(std::move(joined));
}

}  // namespace korbit
