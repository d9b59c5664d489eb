#include "Velmora/Support/WordCount.hpp"

#include "Platform/Text/Unicode.hpp"

namespace velmora {

namespace {

/// The length of the white-space character at `at`, or 0 when what is there is none. Beyond ASCII
/// every white-space character is U+0085 or U+00A0 (led by C2), U+1680 (E1) or between U+2000
/// and U+3000 (E2, E3): only there is a character decoded and the character database asked, so
/// that long texts count quickly. Any other byte, a broken sequence's too, belongs to a word.
std::size_t spaceAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return lead == ' ' || (lead >= '\t' && lead <= '\r') ? 1 : 0;
    if (lead != 0xC2 && (lead < 0xE1 || lead > 0xE3)) return 0;
    const char32_t c = platform::text::firstScalar(text.substr(at, 4));
    if (c == 0xFFFD || !platform::text::isWhiteSpace(c)) return 0;
    return lead == 0xC2 ? 2 : 3;
}

}  // namespace

std::int64_t countWords(std::string_view text) {
    std::int64_t words = 0;
    bool inWord = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t space = spaceAt(text, at);
        if (space == 0 && !inWord) ++words;
        inWord = space == 0;
        at += space == 0 ? 1 : space;
    }
    return words;
}

}  // namespace velmora
