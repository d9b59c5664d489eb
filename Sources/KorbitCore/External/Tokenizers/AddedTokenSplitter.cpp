#include "KorbitCore/External/Tokenizers/AddedTokenSplitter.hpp"

#include "KorbitCore/External/Tokenizers/ByteLevelPattern.hpp"
#include "Platform/Text/Unicode.hpp"

#include <algorithm>
#include <limits>

namespace korbit {
namespace {

bool isAsciiAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// Length of the \s character at text[i], or 0 when there is none.
std::size_t spaceAt(std::string_view text, std::size_t i) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return ByteLevelPattern::classify(lead) == ByteLevelPattern::CharacterClass::space ? 1 : 0;
    std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > text.size()) return 0;
    std::u32string scalar = platform::text::toUtf32(text.substr(i, length));
    if (scalar.size() != 1) return 0;
    return ByteLevelPattern::classify(scalar[0]) == ByteLevelPattern::CharacterClass::space ? length : 0;
}

}  // namespace

std::string AddedTokenSplitter::escape(std::string_view content) {
    std::string out;
    out.reserve(content.size() * 2);
    for (char c : content) {
        if (static_cast<unsigned char>(c) < 0x80 && !isAsciiAlphanumeric(c)) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

AddedTokenSplitter::AddedTokenSplitter(std::vector<Entry> entries) {
    std::vector<std::pair<std::size_t, std::size_t>> order;  // (character count, file position)
    order.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        order.emplace_back(platform::text::graphemeCount(std::string_view(entries[i].content)), i);
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [count, position] : order) {
        const Entry& entry = entries[position];
        if (!pattern_.empty()) pattern_ += '|';
        if (entry.lstrip) pattern_ += "\\s*";
        pattern_ += '(' + escape(entry.content) + ')';
        if (entry.rstrip) pattern_ += "\\s*";
        alternatives_.push_back(entry);
    }
    try {
        if (!pattern_.empty()) regex_.emplace(pattern_);
    } catch (const platform::text::RegexError&) {
        // Left without an expression: texts are not cut.
    }
    if (!regex_) return;

    literal_ =
        std::none_of(alternatives_.begin(), alternatives_.end(), [](const Entry& e) { return e.content.empty(); });
    if (!literal_) return;
    startsMatch_.assign(256, false);
    trie_.emplace_back();
    for (std::size_t alternative = 0; alternative < alternatives_.size(); ++alternative) {
        const Entry& entry = alternatives_[alternative];
        anyLstrip_ = anyLstrip_ || entry.lstrip;
        startsMatch_[static_cast<unsigned char>(entry.content[0])] = true;
        std::int32_t node = 0;
        for (char c : entry.content) {
            const auto byte = static_cast<unsigned char>(c);
            std::int32_t next = child(node, byte);
            if (next < 0) {
                next = static_cast<std::int32_t>(trie_.size());
                trie_.emplace_back();
                auto& children = trie_[static_cast<std::size_t>(node)].children;
                children.insert(
                    std::upper_bound(children.begin(), children.end(), std::make_pair(byte, std::int32_t{-1})),
                    {byte, next});
            }
            node = next;
        }
        trie_[static_cast<std::size_t>(node)].alternatives.push_back(static_cast<std::int32_t>(alternative));
    }
    if (anyLstrip_) {
        // A whitespace character may open a match: the ASCII ones and every multi-byte lead.
        for (unsigned b = 0x09; b <= 0x0D; ++b) startsMatch_[b] = true;
        startsMatch_[' '] = true;
        for (unsigned b = 0xC2; b < 0x100; ++b) startsMatch_[b] = true;
    }
}

std::int32_t AddedTokenSplitter::child(std::int32_t node, unsigned char byte) const {
    const auto& children = trie_[static_cast<std::size_t>(node)].children;
    auto it = std::lower_bound(children.begin(), children.end(), byte,
                               [](const auto& entry, unsigned char b) { return entry.first < b; });
    return it != children.end() && it->first == byte ? it->second : -1;
}

std::optional<AddedTokenSplitter::Found> AddedTokenSplitter::matchAt(std::string_view text, std::size_t p) const {
    constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max();
    std::int32_t best = kNone;
    std::size_t bestStart = p;

    // Calls found(alternative) for every content that occurs at q.
    auto walk = [&](std::size_t q, auto&& found) {
        std::int32_t node = 0;
        for (std::size_t i = q; i < text.size(); ++i) {
            node = child(node, static_cast<unsigned char>(text[i]));
            if (node < 0) return;
            for (std::int32_t alternative : trie_[static_cast<std::size_t>(node)].alternatives) found(alternative);
        }
    };

    if (anyLstrip_) {
        // "\s*" is greedy: an lstrip alternative takes the furthest start within the run of
        // whitespace at p where its content occurs.
        std::vector<std::size_t> starts{p};
        for (std::size_t q = p, length; q < text.size() && (length = spaceAt(text, q)) > 0;) {
            q += length;
            starts.push_back(q);
        }
        for (std::size_t j = starts.size(); j-- > 0;) {
            walk(starts[j], [&](std::int32_t alternative) {
                const bool lstrip = alternatives_[static_cast<std::size_t>(alternative)].lstrip;
                if ((lstrip || j == 0) && alternative < best) {
                    best = alternative;
                    bestStart = starts[j];
                }
            });
        }
    } else {
        walk(p, [&](std::int32_t alternative) { best = std::min(best, alternative); });
    }
    if (best == kNone) return std::nullopt;

    const Entry& entry = alternatives_[static_cast<std::size_t>(best)];
    Found found{p, bestStart + entry.content.size(), bestStart, bestStart + entry.content.size()};
    if (entry.rstrip) {
        for (std::size_t length; found.end < text.size() && (length = spaceAt(text, found.end)) > 0;)
            found.end += length;
    }
    return found;
}

std::vector<std::string_view> AddedTokenSplitter::split(std::string_view text) const {
    if (!regex_) return {text};
    if (text.empty()) return {};
    std::vector<std::string_view> sections;
    std::size_t position = 0;
    auto cut = [&](std::size_t begin, std::size_t end, std::size_t tokenBegin, std::size_t tokenEnd) {
        if (begin > position) sections.push_back(text.substr(position, begin - position));
        sections.push_back(text.substr(tokenBegin, tokenEnd - tokenBegin));
        position = end;
    };

    if (!literal_) {
        for (const auto& match : regex_->allMatches(text)) {
            for (std::size_t g = match.groups.size(); g-- > 0;) {
                if (match.groups[g]) {
                    cut(match.begin(), match.end(), match.groups[g]->begin, match.groups[g]->end);
                    break;
                }
            }
        }
    } else {
        std::size_t p = 0;
        while (p < text.size()) {
            if (!startsMatch_[static_cast<unsigned char>(text[p])]) {
                ++p;
                continue;
            }
            if (std::optional<Found> found = matchAt(text, p)) {
                cut(found->begin, found->end, found->tokenBegin, found->tokenEnd);
                p = found->end;
            } else {
                ++p;
            }
        }
    }
    if (position == 0 && sections.empty()) return {text};
    if (position < text.size()) sections.push_back(text.substr(position));
    return sections;
}

}  // namespace korbit
