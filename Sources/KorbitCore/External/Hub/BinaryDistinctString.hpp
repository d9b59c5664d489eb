#pragma once

// BinaryDistinctString: text kept as UTF-16 code units and compared, ordered and hashed by those
// units alone. Vocabularies hold canonically equivalent spellings (precomposed "é" and "e" + U+0301)
// as different tokens, so keys must never be normalised or compared as UTF-8 bytes: UTF-16 unit
// order differs from UTF-8/code-point order for supplementary characters against U+E000-U+FFFF.
//
// Positions (count, index, substring) count grapheme clusters and decode the text each time; they
// are for occasional use. Equality and hashing touch only the units.

#include "KorbitCore/External/Hub/BinaryDistinctCharacter.hpp"

#include <compare>
#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace korbit {

class BinaryDistinctString {
public:
    using Index = std::ptrdiff_t;

    /// The UTF-16 code units; never normalised.
    std::u16string value;

    BinaryDistinctString() = default;
    /// From UTF-16 code units, kept as they are (lone surrogates included).
    BinaryDistinctString(std::u16string units) : value(std::move(units)) {}
    BinaryDistinctString(std::u16string_view units) : value(units) {}
    BinaryDistinctString(const char16_t* units) : value(units) {}
    /// From UTF-8 text; ill-formed bytes become U+FFFD.
    BinaryDistinctString(std::string_view utf8);
    BinaryDistinctString(const std::string& utf8) : BinaryDistinctString(std::string_view(utf8)) {}
    BinaryDistinctString(const char* utf8) : BinaryDistinctString(std::string_view(utf8)) {}
    explicit BinaryDistinctString(const BinaryDistinctCharacter& character) : value(character.bytes) {}
    explicit BinaryDistinctString(const std::vector<BinaryDistinctCharacter>& characters);

    /// The text as UTF-8 (a lone surrogate becomes U+FFFD).
    std::string string() const;
    std::string description() const { return string(); }

    /// Number of grapheme clusters.
    Index count() const;
    Index startIndex() const { return 0; }
    Index endIndex() const { return count(); }
    /// i + distance; throws std::out_of_range("Index out of bounds") outside 0...count.
    Index index(Index i, Index offsetBy) const;
    /// i + distance, or nothing when that passes the limit.
    std::optional<Index> index(Index i, Index offsetBy, Index limitedBy) const;

    /// The characters lo..<hi; throws std::out_of_range("Index out of bounds") unless 0 <= lo <= hi <= count.
    BinaryDistinctString substring(Index lo, Index hi) const;
    /// The characters from lo to the end.
    BinaryDistinctString substring(Index lo) const;
    /// The grapheme clusters in order.
    std::vector<BinaryDistinctCharacter> characters() const;

    bool hasPrefix(const BinaryDistinctString& prefix) const {
        return std::u16string_view(value).starts_with(prefix.value);
    }
    bool hasSuffix(const BinaryDistinctString& suffix) const {
        return std::u16string_view(value).ends_with(suffix.value);
    }
    /// Full Unicode lower-case mapping.
    BinaryDistinctString lowercased() const;
    /// Replaces every occurrence of `target`, matched as the platform's default text search does:
    /// whole characters, canonically equivalent spellings match each other.
    BinaryDistinctString replacingOccurrences(const BinaryDistinctString& target,
                                              const BinaryDistinctString& replacement) const;

    friend BinaryDistinctString operator+(const BinaryDistinctString& a, const BinaryDistinctString& b) {
        return a.value + b.value;
    }
    bool operator==(const BinaryDistinctString&) const = default;
    /// Lexicographic by units as unsigned 16-bit numbers (char16_t is unsigned).
    std::strong_ordering operator<=>(const BinaryDistinctString& other) const { return value <=> other.value; }

    /// Transparent hash and equality, so maps keyed by BinaryDistinctString can be searched with a
    /// std::u16string_view without building a key.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view units) const noexcept {
            return std::hash<std::u16string_view>{}(units);
        }
        std::size_t operator()(const BinaryDistinctString& s) const noexcept {
            return (*this)(std::u16string_view(s.value));
        }
    };
    struct Equal {
        using is_transparent = void;
        static std::u16string_view view(const BinaryDistinctString& s) { return s.value; }
        static std::u16string_view view(std::u16string_view s) { return s; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const noexcept {
            return view(a) == view(b);
        }
    };
};

inline std::ostream& operator<<(std::ostream& os, const BinaryDistinctString& s) {
    return os << s.string();
}

/// The text types code may hand in where a text is expected: BinaryDistinctString, UTF-8 text
/// (std::string, string literals) and UTF-16 units (std::u16string, the platform's UTF-16 strings).
template <class T>
concept StringConvertible = std::same_as<std::remove_cvref_t<T>, BinaryDistinctString> ||
    std::convertible_to<const T&, std::string_view> || std::convertible_to<const T&, std::u16string_view>;

template <class Map>
concept BinaryDistinctKeyedMap = std::same_as<typename Map::key_type, BinaryDistinctString>;

/// Inserts every entry of `other` into `map`, converting its keys; for a key present in both,
/// stores strategy(current value, other's value).
template <BinaryDistinctKeyedMap Map, class Other, class Strategy>
requires StringConvertible<typename Other::key_type>
void merge(Map& map, const Other& other, Strategy strategy) {
    if constexpr (requires { map.reserve(std::size_t{}); }) map.reserve(map.size() + other.size());
    for (const auto& [key, otherValue] : other) {
        auto [it, inserted] = map.try_emplace(BinaryDistinctString(key), otherValue);
        if (!inserted) it->second = strategy(std::as_const(it->second), otherValue);
    }
}

/// `merge` on a copy of `map`; `map` is left unchanged.
template <BinaryDistinctKeyedMap Map, class Other, class Strategy>
requires StringConvertible<typename Other::key_type> Map merging(const Map& map, const Other& other,
                                                                 Strategy strategy) {
    Map copy = map;
    merge(copy, other, std::move(strategy));
    return copy;
}

}  // namespace korbit

template <>
struct std::hash<korbit::BinaryDistinctString> {
    std::size_t operator()(const korbit::BinaryDistinctString& s) const noexcept {
        return korbit::BinaryDistinctString::Hash{}(s);
    }
};
