#include "KorbitCore/External/Tokenizers/BPETokenizer.hpp"

#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"
#include "Platform/Text/Unicode.hpp"

#include <cstdio>
#include <limits>

namespace korbit {
namespace {

/// The merge list's entries as (a, b); nullopt when "merges" is not an array.
std::optional<std::vector<BytePair>> mergeList(const Config& merges) {
    const Config::Array* entries = merges.array();
    if (!entries) return std::nullopt;
    std::vector<BytePair> pairs;
    pairs.reserve(entries->size());
    for (const Config& entry : *entries) {
        std::vector<std::string> parts;
        if (std::optional<std::string> line = entry.string()) {
            std::size_t start = 0;
            for (std::size_t space = line->find(' '); parts.size() < 2; space = line->find(' ', start)) {
                parts.push_back(line->substr(start, space == std::string::npos ? std::string::npos : space - start));
                if (space == std::string::npos) break;
                start = space + 1;
            }
        } else if (const Config::Array* elements = entry.array()) {
            for (const Config& element : *elements) {
                if (std::optional<std::string> part = element.string()) parts.push_back(std::move(*part));
            }
        } else {
            continue;
        }
        if (parts.size() < 2) throw TokenizerError::malformedVocab();
        pairs.push_back(BytePair{std::move(parts[0]), std::move(parts[1])});
    }
    return pairs;
}

std::string hexToken(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "<0x%02X>", byte);
    return text;
}

/// Byte offsets of the word's user-perceived characters; each scalar is one when all lie below
/// U+0300 and there is no CR (the only pair there that forms one character is CR LF).
std::vector<std::uint32_t> characterBounds(std::string_view word) {
    std::vector<std::uint32_t> bounds;
    bounds.reserve(word.size() + 1);
    bool simple = true;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(word[i]);
        if (b == '\r' || b >= 0xCC) {  // 0xCC lead bytes start U+0300
            simple = false;
            break;
        }
    }
    if (simple) {
        for (std::size_t i = 0; i < word.size(); ++i) {
            if ((static_cast<unsigned char>(word[i]) & 0xC0) != 0x80) bounds.push_back(static_cast<std::uint32_t>(i));
        }
        bounds.push_back(static_cast<std::uint32_t>(word.size()));
        return bounds;
    }
    for (std::size_t b : platform::text::graphemeBoundaries(word)) bounds.push_back(static_cast<std::uint32_t>(b));
    return bounds;
}

}  // namespace

BPETokenizer::BPETokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens) {
    const Config model = tokenizerData["model"];
    const Config mergesConfig = model["merges"];
    if (!mergesConfig.array()) throw TokenizerError::mismatchedConfig("BPETokenizer requires merges");
    const Config::Dictionary* vocab = model["vocab"].dictionary();
    if (!vocab) throw TokenizerError::missingVocab();
    std::vector<BytePair> pairs = *mergeList(mergesConfig);

    tokensToIds_.reserve(vocab->size() + addedTokens.size());
    for (const auto& [token, value] : *vocab) {
        if (std::optional<std::int64_t> id = value.integer()) tokensToIds_.insert_or_assign(token.string(), static_cast<int>(*id));
    }
    for (const auto& [content, id] : addedTokens) tokensToIds_.insert_or_assign(content, id);
    idsToTokens_.reserve(tokensToIds_.size());
    for (const auto& [token, id] : tokensToIds_) idsToTokens_.emplace(id, token);

    scalarSymbols_.fill(-1);
    merges_.reserve(pairs.size());
    for (std::size_t rank = 0; rank < pairs.size(); ++rank) {
        const BytePair& pair = pairs[rank];
        const std::int32_t a = intern(pair.a);
        const std::int32_t b = intern(pair.b);
        const std::int32_t merged = intern(pair.a + pair.b);
        merges_.insert_or_assign(pairKey(a, b), Merge{static_cast<int>(rank), merged});
    }

    unknownToken_ = TokenizerModel::unknownToken(tokenizerConfig);
    unknownTokenId_ = idOf(tokensToIds_, unknownToken_);
    eosToken_ = addedTokenAsString(tokenizerConfig["eosToken"]);
    eosTokenId_ = idOf(tokensToIds_, eosToken_);
    bosToken_ = addedTokenAsString(tokenizerConfig["bosToken"]);
    bosTokenId_ = idOf(tokensToIds_, bosToken_);
    fuseUnknownTokens_ = tokenizerConfig["fuseUnk"].boolean().value_or(false);

    for (unsigned b = 0; b < 256; ++b) byteFallbackIds_[b] = convertTokenToId(hexToken(static_cast<unsigned char>(b))).value_or(-1);
}

std::int32_t BPETokenizer::intern(const std::string& text) {
    auto [it, inserted] = symbols_.try_emplace(text, static_cast<std::int32_t>(symbolIds_.size()));
    if (inserted) {
        auto vocabEntry = tokensToIds_.find(text);
        symbolIds_.push_back(vocabEntry == tokensToIds_.end() ? -1 : vocabEntry->second);
        std::u32string scalars = platform::text::toUtf32(text);
        if (scalars.size() == 1 && scalars[0] < scalarSymbols_.size() && platform::text::isValidUtf8(text)) {
            scalarSymbols_[scalars[0]] = it->second;
        }
    }
    return it->second;
}

std::int32_t BPETokenizer::symbolOf(std::string_view text) const {
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    if (text.size() == 1 && lead < 0x80) return scalarSymbols_[lead];
    if (text.size() == 2 && lead >= 0xC2 && lead < 0xCC) {
        return scalarSymbols_[((lead & 0x1F) << 6) | (static_cast<unsigned char>(text[1]) & 0x3F)];
    }
    auto it = symbols_.find(text);
    return it == symbols_.end() ? -1 : it->second;
}

std::optional<int> BPETokenizer::rank(const BytePair& pair) const {
    auto a = symbols_.find(pair.a);
    auto b = symbols_.find(pair.b);
    if (a == symbols_.end() || b == symbols_.end()) return std::nullopt;
    auto it = merges_.find(pairKey(a->second, b->second));
    if (it == merges_.end()) return std::nullopt;
    return it->second.rank;
}

void BPETokenizer::merge(std::string_view word, std::vector<Piece>& pieces) const {
    pieces.clear();
    const std::vector<std::uint32_t> bounds = characterBounds(word);
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        std::string_view character = word.substr(bounds[i], bounds[i + 1] - bounds[i]);
        pieces.push_back(Piece{bounds[i], bounds[i + 1], symbolOf(character)});
    }
    if (pieces.size() < 2) return;

    std::vector<Piece> rebuilt;
    rebuilt.reserve(pieces.size());
    while (true) {
        // The adjacent pair with the lowest rank.
        int bestRank = std::numeric_limits<int>::max();
        const Merge* best = nullptr;
        std::int32_t first = -1;
        std::int32_t second = -1;
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
            if (pieces[i].symbol < 0 || pieces[i + 1].symbol < 0) continue;
            auto it = merges_.find(pairKey(pieces[i].symbol, pieces[i + 1].symbol));
            if (it != merges_.end() && it->second.rank < bestRank) {
                bestRank = it->second.rank;
                best = &it->second;
                first = pieces[i].symbol;
                second = pieces[i + 1].symbol;
            }
        }
        if (!best) return;
        // Merge every occurrence of it, left to right.
        rebuilt.clear();
        std::size_t i = 0;
        while (i < pieces.size()) {
            if (pieces[i].symbol == first && i + 1 < pieces.size() && pieces[i + 1].symbol == second) {
                rebuilt.push_back(Piece{pieces[i].begin, pieces[i + 1].end, best->merged});
                i += 2;
            } else {
                rebuilt.push_back(pieces[i]);
                ++i;
            }
        }
        pieces.swap(rebuilt);
        if (pieces.size() == 1) return;
    }
}

template <class Emit>
void BPETokenizer::emitSymbol(std::string_view word, const Piece& piece, Emit&& emit) const {
    std::string_view text = word.substr(piece.begin, piece.end - piece.begin);
    auto emitPart = [&](std::string_view part, std::int32_t symbol) {
        int id = -1;
        if (symbol >= 0) {
            id = symbolIds_[static_cast<std::size_t>(symbol)];
        } else if (auto it = tokensToIds_.find(part); it != tokensToIds_.end()) {
            id = it->second;
        }
        if (id >= 0 && (!unknownTokenId_ || id != *unknownTokenId_)) {
            emit(part, id);
            return;
        }
        for (char c : part) {
            const auto byte = static_cast<unsigned char>(c);
            emit(std::string_view(), byteFallbackIds_[byte], byte);
        }
    };
    // The symbols are joined by spaces and cut at spaces again, so a space inside a symbol
    // separates tokens and is itself dropped.
    if (text.find(' ') == std::string_view::npos) {
        emitPart(text, piece.symbol);
        return;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t space = text.find(' ', start);
        std::size_t end = space == std::string_view::npos ? text.size() : space;
        if (end > start) {
            std::string_view part = text.substr(start, end - start);
            emitPart(part, symbolOf(part));
        }
        if (space == std::string_view::npos) break;
        start = space + 1;
    }
}

std::string BPETokenizer::bpe(std::string_view token) const {
    std::vector<Piece> pieces;
    merge(token, pieces);
    std::string out;
    for (const Piece& piece : pieces) {
        if (&piece != &pieces.front()) out += ' ';
        out.append(token.substr(piece.begin, piece.end - piece.begin));
    }
    return out;
}

std::vector<std::string> BPETokenizer::tokenize(std::string_view text) const {
    std::vector<std::string> tokens;
    if (text.empty()) return tokens;
    std::vector<Piece> pieces;
    merge(text, pieces);
    for (const Piece& piece : pieces) {
        emitSymbol(text, piece, [&](std::string_view token, int, unsigned char byte = 0) {
            tokens.push_back(token.empty() ? hexToken(byte) : std::string(token));
        });
    }
    return tokens;
}

void BPETokenizer::appendIds(std::string_view text, std::vector<int>& ids) const {
    if (text.empty()) return;
    std::vector<Piece> pieces;
    merge(text, pieces);
    for (const Piece& piece : pieces) {
        emitSymbol(text, piece, [&](std::string_view, int id, unsigned char = 0) {
            if (id >= 0) ids.push_back(id);
        });
    }
}

std::optional<int> BPETokenizer::convertTokenToId(std::string_view token) const {
    auto it = tokensToIds_.find(token);
    if (it != tokensToIds_.end()) return it->second;
    return unknownTokenId_;
}

std::optional<std::string> BPETokenizer::convertIdToToken(int id) const {
    auto it = idsToTokens_.find(id);
    if (it == idsToTokens_.end()) return std::nullopt;
    return it->second;
}

std::string BPETokenizer::byteEncode(std::string_view text) const {
    std::string out;
    appendByteLevel(out, text);
    return out;
}

std::vector<std::string> BPETokenizer::hexaEncode(std::string_view text) const {
    // The byte-level expression's pieces cover the whole text, so every byte is encoded in order.
    std::vector<std::string> tokens;
    tokens.reserve(text.size());
    for (char c : text) tokens.push_back(hexToken(static_cast<unsigned char>(c)));
    return tokens;
}

}  // namespace korbit
