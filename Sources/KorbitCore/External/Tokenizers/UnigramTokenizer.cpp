#include "KorbitCore/External/Tokenizers/UnigramTokenizer.hpp"

#include "KorbitCore/External/Tokenizers/TokenLattice.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Platform/Text/Unicode.hpp"

#include <algorithm>

namespace korbit {

UnigramTokenizer::UnigramTokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens&) {
    fuseUnknownTokens_ = true;
    bosToken_.emplace(1, ' ');  // one space
    const Config model = tokenizerData["model"];
    const Config::Array* entries = model["vocab"].array();
    if (!entries) throw TokenizerError::missingVocab();
    vocab_.reserve(entries->size());
    for (const Config& entry : *entries) {
        const Config::Array* fields = entry.array();
        if (!fields || fields->empty()) throw TokenizerError::malformedVocab();
        std::optional<std::string> piece = fields->front().string();
        std::optional<float> score = fields->back().floating();
        if (!piece || !score) throw TokenizerError::malformedVocab();
        vocab_.push_back(SentencePieceToken{std::move(*piece), *score});
    }
    for (const SentencePieceToken& piece : vocab_) minScore_ = std::min(minScore_, piece.score);

    std::optional<std::int64_t> unkId = model["unkId"].integer();
    if (!unkId || *unkId < 0 || static_cast<std::size_t>(*unkId) >= vocab_.size())
        throw TokenizerError::malformedVocab();
    unknownTokenId_ = static_cast<int>(*unkId);
    unknownPiece_ = SentencePieceToken{vocab_[static_cast<std::size_t>(*unkId)].token, minScore_ - 10.0f};
    unknownToken_ = unknownPiece_.token;

    tokensToIds_.reserve(vocab_.size());
    for (std::size_t id = 0; id < vocab_.size(); ++id) {
        if (!tokensToIds_.emplace(vocab_[id].token, static_cast<int>(id)).second)
            throw TokenizerError::malformedVocab();
    }
    bosTokenId_ = idOf(tokensToIds_, bosToken_);
    eosToken_ = tokenizerConfig["eosToken"].string();
    eosTokenId_ = idOf(tokensToIds_, eosToken_);

    // The trie compares characters by their exact code units, as the id table does, so every
    // piece it finds has an id.
    for (const SentencePieceToken& piece : vocab_) trie_.insert(platform::text::graphemes(piece.token));
}

std::vector<std::string> UnigramTokenizer::tokenize(std::string_view text) const {
    std::vector<std::string> characters = platform::text::graphemes(text);
    const std::size_t n = characters.size();
    if (n == 0) return {};
    TokenLattice lattice(characters, bosTokenId_.value_or(0), eosTokenId_.value_or(0));
    const std::span<const std::string> all(characters);
    for (std::size_t begin = 0; begin < n; ++begin) {
        bool hasSingleCharacter = false;
        LeavesWithCommonPrefixIterator pieces(trie_, all.subspan(begin));
        while (std::optional<Trie::Sequence> piece = pieces.next()) {
            std::string token;
            for (const std::string& character : *piece) token += character;
            const int id = tokensToIds_.find(token)->second;
            lattice.insert(begin, piece->size(), vocab_[static_cast<std::size_t>(id)].score, id);
            hasSingleCharacter = hasSingleCharacter || piece->size() == 1;
        }
        if (!hasSingleCharacter) lattice.insert(begin, 1, unknownPiece_.score, unknownTokenId_.value_or(0));
    }
    return lattice.tokens();
}

std::optional<int> UnigramTokenizer::convertTokenToId(std::string_view token) const {
    auto it = tokensToIds_.find(token);
    if (it != tokensToIds_.end()) return it->second;
    return unknownTokenId_;
}

std::optional<std::string> UnigramTokenizer::convertIdToToken(int id) const {
    if (id < 0 || static_cast<std::size_t>(id) >= vocab_.size()) return std::nullopt;
    return vocab_[static_cast<std::size_t>(id)].token;
}

}  // namespace korbit
