#pragma once

// The byte-level pre-tokenizer's expression, run by a hand-written scanner instead of the regular-
// expression engine. For every text it yields exactly the pieces that successive ICU searches for
//     's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
// yield (leftmost match, first alternative that matches), with the same character classes
// (general categories L and N, White_Space for \s). The tests hold it against the engine.

#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace korbit {

class ByteLevelPattern {
public:
    /// The expression as the tokenizer files' byte-level stages know it.
    static constexpr std::string_view source =
        "'s|'t|'re|'ve|'m|'ll|'d| ?\\p{L}+| ?\\p{N}+| ?[^\\s\\p{L}\\p{N}]+|\\s+(?!\\S)|\\s+";

    enum class CharacterClass : std::uint8_t { letter, number, space, other };
    static CharacterClass classify(char32_t scalar);

    /// The end of the match that starts at `begin` (begin < text.size()). Every position starts a
    /// match, so the pieces tile the text. The text must be well-formed UTF-8.
    static std::size_t matchEnd(std::string_view text, std::size_t begin);

    /// Calls visit(begin, end) for each successive piece of the text.
    template <class Visit>
    static void forEachPiece(std::string_view text, Visit&& visit) {
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = matchEnd(text, begin);
            visit(begin, end);
            begin = end;
        }
    }

    static std::vector<TextRange> ranges(std::string_view text);
};

}  // namespace korbit
