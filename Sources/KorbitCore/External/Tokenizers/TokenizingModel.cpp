#include "KorbitCore/External/Tokenizers/TokenizingModel.hpp"

#include <iterator>

namespace korbit {

std::vector<std::optional<int>> TokenizingModel::convertTokensToIds(std::span<const std::string> tokens) const {
    std::vector<std::optional<int>> ids;
    ids.reserve(tokens.size());
    for (const std::string& token : tokens) ids.push_back(convertTokenToId(token));
    return ids;
}

std::vector<std::optional<std::string>> TokenizingModel::convertIdsToTokens(std::span<const int> ids) const {
    std::vector<std::optional<std::string>> tokens;
    tokens.reserve(ids.size());
    for (int id : ids) tokens.push_back(convertIdToToken(id));
    return tokens;
}

void TokenizingModel::appendTokens(std::string_view text, std::vector<std::string>& tokens) const {
    std::vector<std::string> word = tokenize(text);
    tokens.insert(tokens.end(), std::make_move_iterator(word.begin()), std::make_move_iterator(word.end()));
}

void TokenizingModel::appendIds(std::string_view text, std::vector<int>& ids) const {
    for (const std::string& token : tokenize(text)) {
        if (std::optional<int> id = convertTokenToId(token)) ids.push_back(*id);
    }
}

std::optional<std::string> addedTokenAsString(const Config& config) {
    if (std::optional<std::string> text = config.string()) return text;
    if (config.isNull()) return std::nullopt;
    return config["content"].string();
}

std::optional<int> idOf(const TokenIdMap& vocabulary, const std::optional<std::string>& token) {
    if (!token) return std::nullopt;
    auto it = vocabulary.find(*token);
    if (it == vocabulary.end()) return std::nullopt;
    return it->second;
}

}  // namespace korbit
