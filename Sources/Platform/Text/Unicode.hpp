#pragma once

// Unicode services over ICU: encodings, grapheme clusters, normalisation, case mapping and
// character properties. Texts are UTF-8 std::string unless a function says UTF-16.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

// ---- Encodings ----

/// UTF-8 to UTF-16; every ill-formed subsequence becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);
/// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);
/// Whether the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);
/// Decodes bytes as UTF-8, putting one U+FFFD in place of each maximal ill-formed subpart
/// (the Unicode "substitution of maximal subparts" practice).
std::string repairUtf8(std::string_view bytes);
/// Appends the UTF-8 form of one scalar value (surrogates and values above U+10FFFF become U+FFFD).
void appendUtf8(std::string& out, char32_t scalar);
/// The scalar values of a UTF-8 text (ill-formed bytes decode as U+FFFD).
std::u32string toUtf32(std::string_view utf8);
/// The first scalar value of a UTF-8 text, as toUtf32 gives it; 0 for an empty text.
char32_t firstScalar(std::string_view utf8);
std::string fromUtf32(std::u32string_view scalars);

// ---- Grapheme clusters (user-perceived characters) ----

/// Offsets, in UTF-16 code units, of every cluster boundary: 0 first, the text's length last.
std::vector<std::size_t> graphemeBoundaries(std::u16string_view text);
/// Offsets, in bytes, of every cluster boundary of a UTF-8 text: 0 first, the byte length last.
std::vector<std::size_t> graphemeBoundaries(std::string_view utf8);
std::size_t graphemeCount(std::u16string_view text);
std::size_t graphemeCount(std::string_view utf8);
/// The clusters of a UTF-8 text, in order.
std::vector<std::string> graphemes(std::string_view utf8);

// ---- Normalisation and case ----

enum class NormalizationForm { NFC, NFD, NFKC, NFKD };

std::string normalize(std::string_view utf8, NormalizationForm form);
std::u16string normalize(std::u16string_view text, NormalizationForm form);
/// Canonical equivalence: equal after canonical decomposition.
bool canonicallyEquivalent(std::string_view a, std::string_view b);

/// Full Unicode lower-case mapping in the root locale (one character may become several).
std::string toLower(std::string_view utf8);
std::u16string toLower(std::u16string_view text);
/// Full lower-case mapping of one scalar value, as UTF-8.
std::string lowerMapping(char32_t scalar);

/// Simple case folding of one scalar value (one scalar in, one out): two texts are equal without
/// regard to case when their folded scalars are.
char32_t foldCase(char32_t scalar);
/// Title-casing in the root locale: the first letter of each word upper (title) case, the rest lower.
std::string toTitle(std::string_view utf8);

/// Removes diacritics: canonical decomposition, drop nonspacing marks, recompose.
std::string foldDiacritics(std::string_view utf8);

// ---- Character properties ----

/// Upper-case or title-case letter (general category Lu or Lt).
bool isUppercaseLetter(char32_t c);
/// General category Mn.
bool isNonspacingMark(char32_t c);
/// Any punctuation category (Pc, Pd, Ps, Pe, Pi, Pf, Po).
bool isPunctuation(char32_t c);
/// Space separator category Zs.
bool isSpaceSeparator(char32_t c);
/// Spaces and tabs, not line breaks: a tab or category Zs.
inline bool isHorizontalSpace(char32_t c) {
    return c == U'\t' || isSpaceSeparator(c);
}
/// The White_Space property.
bool isWhiteSpace(char32_t c);
/// General category Cc or Cf (control or format).
bool isControlOrFormat(char32_t c);
/// The Bidi_Control property: the marks, embeddings, overrides and isolates that change the
/// direction in which text is shown (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069).
bool isBidiControl(char32_t c);
bool isLetter(char32_t c);
bool isDigit(char32_t c);
/// The group of a scalar's general category: a letter (Lu, Ll, Lt, Lm, Lo: a pattern's \p{L}), a
/// number (Nd, Nl, No: \p{N}), or anything else.
enum class CategoryGroup { letter, number, other };
CategoryGroup categoryGroup(char32_t c);
/// The value of an ASCII hexadecimal digit (either case), or -1 for any other character.
inline int hexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

}  // namespace platform::text
