#include "KorbitCore/External/Tokenizers/ByteLevelPattern.hpp"

#include "Platform/Text/Unicode.hpp"

#include <array>

namespace korbit {
namespace {

using Class = ByteLevelPattern::CharacterClass;

constexpr std::array<Class, 128> asciiClasses() {
    std::array<Class, 128> classes{};
    for (int c = 0; c < 128; ++c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            classes[c] = Class::letter;
        } else if (c >= '0' && c <= '9') {
            classes[c] = Class::number;
        } else if ((c >= 0x09 && c <= 0x0D) || c == ' ') {
            classes[c] = Class::space;
        } else {
            classes[c] = Class::other;
        }
    }
    return classes;
}

constexpr std::array<Class, 128> kAscii = asciiClasses();

// Decodes the scalar at text[i] (well-formed input); `length` receives its byte count.
inline char32_t decodeAt(std::string_view text, std::size_t i, std::size_t& length) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead < 0xE0 && i + 1 < text.size()) {
        length = 2;
        return (char32_t(lead & 0x1F) << 6) | (b(1) & 0x3F);
    }
    if (lead < 0xF0 && i + 2 < text.size()) {
        length = 3;
        return (char32_t(lead & 0x0F) << 12) | (char32_t(b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    }
    if (i + 3 < text.size()) {
        length = 4;
        return (char32_t(lead & 0x07) << 18) | (char32_t(b(1) & 0x3F) << 12) | (char32_t(b(2) & 0x3F) << 6) |
               (b(3) & 0x3F);
    }
    length = 1;
    return 0xFFFD;
}

inline Class classAt(std::string_view text, std::size_t i, std::size_t& length) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        length = 1;
        return kAscii[lead];
    }
    return ByteLevelPattern::classify(decodeAt(text, i, length));
}

// End of the run of characters of class `kind` that starts at `i`.
inline std::size_t runEnd(std::string_view text, std::size_t i, Class kind) {
    while (i < text.size()) {
        std::size_t length = 0;
        if (classAt(text, i, length) != kind) break;
        i += length;
    }
    return i;
}

}  // namespace

namespace {

Class classByProperties(char32_t scalar) {
    switch (platform::text::categoryGroup(scalar)) {
        case platform::text::CategoryGroup::letter:
            return Class::letter;
        case platform::text::CategoryGroup::number:
            return Class::number;
        case platform::text::CategoryGroup::other:
            break;
    }
    return platform::text::isWhiteSpace(scalar) ? Class::space : Class::other;
}

// The classes of the two-byte scalars (Latin, Greek, Cyrillic, Hebrew, Arabic ...), read once
// from the character properties: most text outside ASCII is there.
constexpr char32_t kTwoByteEnd = 0x800;

const std::array<Class, kTwoByteEnd>& twoByteClasses() {
    static const std::array<Class, kTwoByteEnd> classes = [] {
        std::array<Class, kTwoByteEnd> table{};
        for (char32_t c = 0; c < kTwoByteEnd; ++c) table[c] = c < 0x80 ? kAscii[c] : classByProperties(c);
        return table;
    }();
    return classes;
}

}  // namespace

ByteLevelPattern::CharacterClass ByteLevelPattern::classify(char32_t scalar) {
    if (scalar < 0x80) return kAscii[scalar];
    if (scalar < kTwoByteEnd) return twoByteClasses()[scalar];
    return classByProperties(scalar);
}

std::size_t ByteLevelPattern::matchEnd(std::string_view text, std::size_t begin) {
    const std::size_t size = text.size();
    const char first = text[begin];

    // 's 't 're 've 'm 'll 'd
    if (first == '\'' && begin + 1 < size) {
        const char a = text[begin + 1];
        if (a == 's' || a == 't' || a == 'm' || a == 'd') return begin + 2;
        if (begin + 2 < size) {
            const char b = text[begin + 2];
            if ((a == 'r' && b == 'e') || (a == 'v' && b == 'e') || (a == 'l' && b == 'l')) return begin + 3;
        }
    }

    std::size_t length = 0;
    Class kind = classAt(text, begin, length);
    // " ?" before a letter, number or other run.
    if (first == ' ' && begin + 1 < size) {
        std::size_t nextLength = 0;
        Class next = classAt(text, begin + 1, nextLength);
        if (next != Class::space) return runEnd(text, begin + 1 + nextLength, next);
    }
    if (kind != Class::space) return runEnd(text, begin + length, kind);

    // \s+(?!\S): the whole run at the end of the text, else the run but its last character;
    // a single space before a non-space falls to the plain \s+.
    std::size_t end = begin + length;
    std::size_t lastStart = begin;
    while (end < size) {
        std::size_t l = 0;
        if (classAt(text, end, l) != Class::space) break;
        lastStart = end;
        end += l;
    }
    if (end == size || lastStart == begin) return end;
    return lastStart;
}

std::vector<TextRange> ByteLevelPattern::ranges(std::string_view text) {
    std::vector<TextRange> found;
    forEachPiece(text, [&](std::size_t begin, std::size_t end) { found.push_back(TextRange{begin, end}); });
    return found;
}

}  // namespace korbit
