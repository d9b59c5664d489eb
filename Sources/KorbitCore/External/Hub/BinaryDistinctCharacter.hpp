#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace korbit {

/// One user-perceived character (grapheme cluster) of a BinaryDistinctString, kept as its UTF-16
/// code units. Two characters are equal only when their units are, never by canonical equivalence.
struct BinaryDistinctCharacter {
    std::u16string bytes;

    BinaryDistinctCharacter() = default;
    /// From UTF-16 code units.
    BinaryDistinctCharacter(std::u16string units) : bytes(std::move(units)) {}
    BinaryDistinctCharacter(const char16_t* units) : bytes(units) {}
    /// From UTF-8 text (ill-formed bytes become U+FFFD).
    BinaryDistinctCharacter(std::string_view utf8);
    BinaryDistinctCharacter(const char* utf8) : BinaryDistinctCharacter(std::string_view(utf8)) {}

    /// BinaryDistinctCharacter('a', bytes: ["0x61"])
    std::string description() const;

    bool operator==(const BinaryDistinctCharacter&) const = default;
};

}  // namespace korbit

template <>
struct std::hash<korbit::BinaryDistinctCharacter> {
    std::size_t operator()(const korbit::BinaryDistinctCharacter& c) const noexcept {
        return std::hash<std::u16string_view>{}(c.bytes);
    }
};
