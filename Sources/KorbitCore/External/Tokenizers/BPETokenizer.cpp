#include "KorbitCore/External/Tokenizers/BPETokenizer.hpp"

#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"
#include "Platform/Text/Unicode.hpp"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

namespace korbit {
namespace {

constexpr std::int32_t kNoRank = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kNoId = std::numeric_limits<std::int32_t>::min();  // a symbol outside the vocabulary

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

/// Whether every scalar of the word is one user-perceived character: all lie below U+0300 and
/// there is no CR (the only pair there that forms one character is CR LF).
bool scalarsAreCharacters(std::string_view word) {
    for (char c : word) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\r' || b >= 0xCC) return false;  // 0xCC lead bytes start U+0300
    }
    return true;
}

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

/// A pair waiting in the merge queue of a long word: lowest rank first, then leftmost.
struct QueuedPair {
    std::int32_t rank;
    std::uint32_t at;
    bool operator>(const QueuedPair& other) const { return rank != other.rank ? rank > other.rank : at > other.at; }
};

/// Words of up to this many characters find their next merge by scanning their ranks, which beats
/// a queue at this size; longer ones (a run of letters pasted without spaces) take the queue.
constexpr std::size_t kScanLimit = 64;

}  // namespace

BPETokenizer::BPETokenizer(const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens) {
    const Config model = tokenizerData["model"];
    const Config mergesConfig = model["merges"];
    if (!mergesConfig.array()) throw TokenizerError::mismatchedConfig("BPETokenizer requires merges");
    const Config::Dictionary* vocab = model["vocab"].dictionary();
    if (!vocab) throw TokenizerError::missingVocab();
    const std::vector<BytePair> pairs = *mergeList(mergesConfig);

    symbols_.reserve(vocab->size() + addedTokens.size() + pairs.size() / 4, vocab->size() * 8);
    auto setId = [&](std::int32_t symbol, int id) {
        if (static_cast<std::size_t>(symbol) >= idOfSymbol_.size())
            idOfSymbol_.resize(static_cast<std::size_t>(symbol) + 1, kNoId);
        idOfSymbol_[static_cast<std::size_t>(symbol)] = id;
    };
    for (const auto& [token, value] : *vocab) {
        if (std::optional<std::int64_t> id = value.integer())
            setId(symbols_.intern(token.string()), static_cast<int>(*id));
    }
    for (const auto& [content, id] : addedTokens) setId(symbols_.intern(content), id);

    // Ids back to tokens: a flat array over the usual dense range, a map for any others. Where
    // several tokens share an id, the id maps back to one of them.
    int maxId = -1;
    for (std::int32_t id : idOfSymbol_) maxId = std::max(maxId, id);
    if (maxId >= 0 && static_cast<std::size_t>(maxId) < 4 * idOfSymbol_.size() + 1024)
        symbolOfId_.assign(static_cast<std::size_t>(maxId) + 1, -1);
    for (std::size_t symbol = 0; symbol < idOfSymbol_.size(); ++symbol) {
        const std::int32_t id = idOfSymbol_[symbol];
        if (id == kNoId) continue;
        ++vocabCount_;
        if (id >= 0 && static_cast<std::size_t>(id) < symbolOfId_.size()) {
            symbolOfId_[static_cast<std::size_t>(id)] = static_cast<std::int32_t>(symbol);
        } else {
            symbolOfSparseId_.emplace(id, static_cast<std::int32_t>(symbol));
        }
    }

    std::vector<MergeTable::Entry> entries;
    entries.reserve(pairs.size());
    std::string joined;
    for (const BytePair& pair : pairs) {
        const std::int32_t a = symbols_.intern(pair.a);
        const std::int32_t b = symbols_.intern(pair.b);
        joined.assign(pair.a).append(pair.b);
        entries.push_back(MergeTable::Entry{a, b, symbols_.intern(joined)});
    }
    merges_ = MergeTable(entries);
    idOfSymbol_.resize(symbols_.size(), kNoId);

    scalarSymbols_.fill(-1);
    for (char32_t c = 0; c < scalarSymbols_.size(); ++c) {
        std::string one;
        platform::text::appendUtf8(one, c);
        scalarSymbols_[c] = symbols_.find(one);
    }
    characterPairRanks_.assign(kPairTableEnd * kPairTableEnd, kNoRank);
    for (char32_t first = 0; first < kPairTableEnd; ++first) {
        if (scalarSymbols_[first] < 0) continue;
        for (char32_t second = 0; second < kPairTableEnd; ++second)
            characterPairRanks_[first * kPairTableEnd + second] = rankOf(scalarSymbols_[first], scalarSymbols_[second]);
    }

    unknownToken_ = TokenizerModel::unknownToken(tokenizerConfig);
    if (unknownToken_) unknownTokenId_ = convertTokenToIdIfKnown(*unknownToken_);
    eosToken_ = addedTokenAsString(tokenizerConfig["eosToken"]);
    if (eosToken_) eosTokenId_ = convertTokenToIdIfKnown(*eosToken_);
    bosToken_ = addedTokenAsString(tokenizerConfig["bosToken"]);
    if (bosToken_) bosTokenId_ = convertTokenToIdIfKnown(*bosToken_);
    fuseUnknownTokens_ = tokenizerConfig["fuseUnk"].boolean().value_or(false);

    for (unsigned b = 0; b < 256; ++b)
        byteFallbackIds_[b] = convertTokenToId(hexToken(static_cast<unsigned char>(b))).value_or(kNoId);
}

std::optional<int> BPETokenizer::convertTokenToIdIfKnown(std::string_view token) const {
    const std::int32_t symbol = symbols_.find(token);
    if (symbol < 0 || idOfSymbol_[static_cast<std::size_t>(symbol)] == kNoId) return std::nullopt;
    return idOfSymbol_[static_cast<std::size_t>(symbol)];
}

std::int32_t BPETokenizer::symbolOf(std::string_view text) const {
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    if (text.size() == 1 && lead < 0x80) return scalarSymbols_[lead];
    if (text.size() == 2 && lead >= 0xC2 && lead < 0xCC) {
        return scalarSymbols_[((lead & 0x1F) << 6) | (static_cast<unsigned char>(text[1]) & 0x3F)];
    }
    return symbols_.find(text);
}

std::optional<int> BPETokenizer::rank(const BytePair& pair) const {
    const std::int32_t rank = merges_.rank(symbols_.find(pair.a), symbols_.find(pair.b));
    if (rank < 0) return std::nullopt;
    return rank;
}

std::int32_t BPETokenizer::rankOf(std::int32_t a, std::int32_t b) const {
    const std::int32_t rank = merges_.rank(a, b);
    return rank < 0 ? kNoRank : rank;
}

void BPETokenizer::merge(std::string_view word, std::vector<Piece>& pieces) const {
    // The pieces start as the word's characters, each with the rank of the pair it starts
    // (kNoRank for the last one).
    thread_local std::vector<std::int32_t> ranks;
    pieces.clear();
    std::size_t count = 0;
    if (scalarsAreCharacters(word)) {
        pieces.resize(word.size());
        ranks.resize(word.size());
        constexpr char32_t kNoScalar = ~char32_t{0};
        char32_t previous = kNoScalar;
        for (std::uint32_t begin = 0, end = 0; begin < word.size(); begin = end) {
            end = begin + 1;
            while (end < word.size() && (static_cast<unsigned char>(word[end]) & 0xC0) == 0x80) ++end;
            const auto lead = static_cast<unsigned char>(word[begin]);
            char32_t scalar = kNoScalar;
            if (end - begin == 1 && lead < 0x80) {
                scalar = lead;
            } else if (end - begin == 2 && lead >= 0xC2) {  // below 0xCC here
                scalar = (char32_t(lead & 0x1F) << 6) | (static_cast<unsigned char>(word[begin + 1]) & 0x3F);
            }
            const std::int32_t symbol = scalar < scalarSymbols_.size() ? scalarSymbols_[scalar]
                                                                       : symbols_.find(word.substr(begin, end - begin));
            pieces[count] = Piece{begin, end, symbol};
            if (count > 0) {
                ranks[count - 1] = previous < kPairTableEnd && scalar < kPairTableEnd
                                       ? characterPairRanks_[previous * kPairTableEnd + scalar]
                                       : rankOf(pieces[count - 1].symbol, symbol);
            }
            previous = scalar;
            ++count;
        }
        pieces.resize(count);
    } else {
        const std::vector<std::size_t> bounds = platform::text::graphemeBoundaries(word);
        for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
            pieces.push_back(Piece{static_cast<std::uint32_t>(bounds[i]), static_cast<std::uint32_t>(bounds[i + 1]),
                                   symbolOf(word.substr(bounds[i], bounds[i + 1] - bounds[i]))});
        }
        count = pieces.size();
        ranks.resize(count);
        for (std::size_t i = 0; i + 1 < count; ++i) ranks[i] = rankOf(pieces[i].symbol, pieces[i + 1].symbol);
    }
    if (count < 2) return;
    ranks[count - 1] = kNoRank;
    // Each round takes the pair of lowest rank and merges every occurrence of it from left to
    // right; pairs a merge makes wait for the next round even when their rank is lower.
    if (count <= kScanLimit) {
        mergeShort(pieces, ranks);
    } else {
        mergeLong(pieces, ranks);
    }
}

void BPETokenizer::mergeShort(std::vector<Piece>& pieces, std::vector<std::int32_t>& ranks) const {
    // A merge keeps the left piece's slot and empties the right one's (its rank becomes kNoRank);
    // the slots still in use are linked in order. Ranks are unique per pair, so the slots holding
    // the lowest rank are exactly the occurrences of that pair.
    const auto count = static_cast<std::uint8_t>(pieces.size());
    constexpr std::uint8_t kNoSlot = 0xFF;
    std::array<std::uint8_t, kScanLimit> next;
    std::array<std::uint8_t, kScanLimit> previous;
    for (std::uint8_t i = 0; i < count; ++i) {
        next[i] = static_cast<std::uint8_t>(i + 1);
        previous[i] = i > 0 ? static_cast<std::uint8_t>(i - 1) : kNoSlot;
    }
    auto mergeAt = [&](std::uint8_t at, std::int32_t merged) {
        const std::uint8_t second = next[at];
        const std::uint8_t after = next[second];
        pieces[at].end = pieces[second].end;
        pieces[at].symbol = merged;
        ranks[second] = kNoRank;
        next[at] = after;
        ranks[at] = kNoRank;
        if (after < count) {
            previous[after] = at;
            ranks[at] = rankOf(merged, pieces[after].symbol);
        }
        if (const std::uint8_t before = previous[at]; before != kNoSlot)
            ranks[before] = rankOf(pieces[before].symbol, merged);
    };
    while (true) {
        std::int32_t best = kNoRank;
        std::uint8_t at = 0;
        bool again = false;  // the pair occurs more than once
        for (std::uint8_t i = 0; i < count; ++i) {
            const std::int32_t rank = ranks[i];
            if (rank < best) {
                best = rank;
                at = i;
                again = false;
            } else if (rank == best) {
                again = true;
            }
        }
        if (best == kNoRank) break;
        const std::int32_t merged = merges_.merged(best);
        mergeAt(at, merged);
        if (!again) continue;
        // The merged piece's own pair has another rank, so the search goes on after it.
        for (std::uint8_t i = static_cast<std::uint8_t>(at + 1); i < count; ++i) {
            if (ranks[i] == best) mergeAt(i, merged);
        }
    }
    std::size_t kept = 0;
    for (std::uint8_t i = 0; i < count; i = next[i]) pieces[kept++] = pieces[i];
    pieces.resize(kept);
}

void BPETokenizer::mergeLong(std::vector<Piece>& pieces, std::vector<std::int32_t>& ranks) const {
    // The pieces form a list in place (a merge keeps the left piece's slot and drops the right
    // one's rank); a queue holds every pair with a rank, lowest first, then leftmost. A queued pair
    // is still there when its slot still holds its rank.
    const std::size_t count = pieces.size();
    thread_local std::vector<std::uint32_t> next;
    thread_local std::vector<std::uint32_t> previous;
    thread_local std::vector<QueuedPair> queue;
    thread_local std::vector<std::uint32_t> touched;
    next.resize(count);
    previous.resize(count);
    queue.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        next[i] = i + 1 < count ? i + 1 : kNone;
        previous[i] = i > 0 ? i - 1 : kNone;
        if (ranks[i] != kNoRank) queue.push_back(QueuedPair{ranks[i], i});
    }
    std::make_heap(queue.begin(), queue.end(), std::greater<>());
    while (!queue.empty()) {
        const std::int32_t best = queue.front().rank;
        const std::int32_t merged = merges_.merged(best);
        touched.clear();
        while (!queue.empty() && queue.front().rank == best) {
            std::pop_heap(queue.begin(), queue.end(), std::greater<>());
            const std::uint32_t at = queue.back().at;
            queue.pop_back();
            if (ranks[at] != best) continue;
            const std::uint32_t second = next[at];
            const std::uint32_t after = next[second];
            pieces[at].end = pieces[second].end;
            pieces[at].symbol = merged;
            ranks[second] = kNoRank;
            next[at] = after;
            if (after != kNone) previous[after] = at;
            ranks[at] = after != kNone ? rankOf(merged, pieces[after].symbol) : kNoRank;
            touched.push_back(at);
            if (const std::uint32_t before = previous[at]; before != kNone) {
                ranks[before] = rankOf(pieces[before].symbol, merged);
                touched.push_back(before);
            }
        }
        for (std::uint32_t at : touched) {
            if (ranks[at] == kNoRank) continue;
            queue.push_back(QueuedPair{ranks[at], at});
            std::push_heap(queue.begin(), queue.end(), std::greater<>());
        }
    }
    std::size_t kept = 0;
    for (std::uint32_t i = 0; i != kNone; i = next[i]) pieces[kept++] = pieces[i];
    pieces.resize(kept);
}

template <class Emit>
void BPETokenizer::emitSymbol(std::string_view word, const Piece& piece, Emit&& emit) const {
    std::string_view text = word.substr(piece.begin, piece.end - piece.begin);
    auto emitPart = [&](std::string_view part, std::int32_t symbol) {
        const bool known = symbol >= 0 && idOfSymbol_[static_cast<std::size_t>(symbol)] != kNoId;
        const int id = known ? idOfSymbol_[static_cast<std::size_t>(symbol)] : kNoId;
        if (known && (!unknownTokenId_ || id != *unknownTokenId_)) {
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
    appendTokens(text, tokens);
    return tokens;
}

void BPETokenizer::appendTokens(std::string_view text, std::vector<std::string>& tokens) const {
    if (text.empty()) return;
    thread_local std::vector<Piece> pieces;
    merge(text, pieces);
    for (const Piece& piece : pieces) {
        emitSymbol(text, piece, [&](std::string_view token, int, unsigned char byte = 0) {
            if (token.empty()) {
                tokens.push_back(hexToken(byte));
            } else {
                tokens.emplace_back(token);
            }
        });
    }
}

void BPETokenizer::appendIds(std::string_view text, std::vector<int>& ids) const {
    if (text.empty() || cache_.append(text, ids)) return;
    const std::size_t start = ids.size();
    thread_local std::vector<Piece> pieces;
    merge(text, pieces);
    for (const Piece& piece : pieces) {
        emitSymbol(text, piece, [&](std::string_view, int id, unsigned char = 0) {
            if (id != kNoId) ids.push_back(id);
        });
    }
    cache_.insert(text, ids.data() + start, ids.size() - start);
}

std::optional<int> BPETokenizer::convertTokenToId(std::string_view token) const {
    if (std::optional<int> id = convertTokenToIdIfKnown(token)) return id;
    return unknownTokenId_;
}

std::optional<std::string> BPETokenizer::convertIdToToken(int id) const {
    std::int32_t symbol = -1;
    if (id >= 0 && static_cast<std::size_t>(id) < symbolOfId_.size()) {
        symbol = symbolOfId_[static_cast<std::size_t>(id)];
    } else if (auto it = symbolOfSparseId_.find(id); it != symbolOfSparseId_.end()) {
        symbol = it->second;
    }
    if (symbol < 0) return std::nullopt;
    return std::string(symbols_.text(symbol));
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
