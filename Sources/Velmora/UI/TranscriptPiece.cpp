#include "Velmora/UI/TranscriptPiece.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

namespace velmora {

namespace {

/// Where to cut a text longer than `maxBytes`: after its last blank within the bound, else
/// before the character that would pass it. Returns the length of the first part and of what
/// the cut drops (the blank, or nothing).
std::pair<std::size_t, std::size_t> cut(std::string_view text, std::size_t maxBytes) {
    const std::size_t blank = text.rfind(' ', maxBytes);
    if (blank != std::string_view::npos && blank > 0) return {blank, 1};
    std::size_t at = maxBytes;
    // Back to the first byte of a UTF-8 sequence.
    while (at > 1 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return {at, 0};
}

}  // namespace

std::vector<TranscriptPiece> TranscriptPiece::of(const Meeting& meeting, std::size_t maxBytes) {
    // Room for a character of four bytes, so that every cut moves on.
    maxBytes = std::max<std::size_t>(maxBytes, 4);
    std::vector<TranscriptPiece> pieces;
    const MeetingLine* previous = nullptr;
    for (const MeetingLine& line : meeting.lines) {
        const bool sameBlock = previous != nullptr && previous->speaker == line.speaker;
        previous = &line;
        std::string_view rest = line.text;
        if (sameBlock && pieces.back().block.text.size() + 1 + rest.size() <= maxBytes) {
            pieces.back().block.text += ' ';
            pieces.back().block.text += rest;
            continue;
        }
        Meeting::Block head = sameBlock ? pieces.back().block : Meeting::Block{line.id, line.at, line.speaker, {}};
        int part = sameBlock ? pieces.back().part + 1 : 0;
        for (;;) {
            head.text.clear();
            if (rest.size() <= maxBytes) {
                head.text = rest;
                pieces.push_back({head, part});
                break;
            }
            const auto [length, dropped] = cut(rest, maxBytes);
            head.text = rest.substr(0, length);
            pieces.push_back({head, part++});
            rest.remove_prefix(length + dropped);
        }
    }
    return pieces;
}

}  // namespace velmora
