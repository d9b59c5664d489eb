#include "Platform/Text/Unicode.hpp"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <memory>
#include <stdexcept>

namespace platform::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

icu::UnicodeString fromU16(std::u16string_view text) {
    return icu::UnicodeString(false, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()));
}

std::u16string toU16(const icu::UnicodeString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

const icu::Normalizer2& normalizer(NormalizationForm form) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = nullptr;
    switch (form) {
        case NormalizationForm::NFC:
            n = icu::Normalizer2::getNFCInstance(status);
            break;
        case NormalizationForm::NFD:
            n = icu::Normalizer2::getNFDInstance(status);
            break;
        case NormalizationForm::NFKC:
            n = icu::Normalizer2::getNFKCInstance(status);
            break;
        case NormalizationForm::NFKD:
            n = icu::Normalizer2::getNFKDInstance(status);
            break;
    }
    if (U_FAILURE(status) || !n) throw std::runtime_error("ICU normaliser unavailable");
    return *n;
}

// A character break iterator per thread: creating one is costly, and they are not thread-safe.
icu::BreakIterator& characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !it) throw std::runtime_error("ICU break iterator unavailable");
        return it;
    }();
    return *iterator;
}

// Length of a well-formed UTF-8 sequence starting at s[i], or 0 when the bytes there are ill-formed.
// On failure `consumed` holds the length of the maximal ill-formed subpart (at least 1).
std::size_t wellFormedLength(std::string_view s, std::size_t i, char32_t& scalar, std::size_t& consumed) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    consumed = 1;
    if (b0 < 0x80) {
        scalar = b0;
        return 1;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        scalar = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        scalar = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        scalar = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) return 0;
        unsigned char b = byte(i + k);
        unsigned char low = (k == 1) ? lo : 0x80;
        unsigned char high = (k == 1) ? hi : 0xBF;
        if (b < low || b > high) return 0;
        scalar = (scalar << 6) | (b & 0x3F);
        consumed = k + 1;
    }
    return need + 1;
}

// The scalar at s[i], or U+FFFD for a maximal ill-formed subpart; moves `i` past what it read.
char32_t nextScalar(std::string_view s, std::size_t& i) {
    char32_t scalar = 0;
    std::size_t consumed = 0;
    if (std::size_t len = wellFormedLength(s, i, scalar, consumed)) {
        i += len;
        return scalar;
    }
    i += consumed;
    return kReplacement;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string repairUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        char32_t scalar = 0;
        std::size_t consumed = 0;
        std::size_t len = wellFormedLength(bytes, i, scalar, consumed);
        if (len) {
            out.append(bytes.substr(i, len));
            i += len;
        } else {
            appendUtf8(out, kReplacement);
            i += consumed;
        }
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        // ASCII and two-byte characters (most text) are checked here; the rest in full below.
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF && i + 1 < bytes.size() &&
            (static_cast<unsigned char>(bytes[i + 1]) & 0xC0) == 0x80) {
            i += 2;
            continue;
        }
        char32_t scalar = 0;
        std::size_t consumed = 0;
        std::size_t len = wellFormedLength(bytes, i, scalar, consumed);
        if (!len) return false;
        i += len;
    }
    return true;
}

std::u32string toUtf32(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) out.push_back(nextScalar(utf8, i));
    return out;
}

char32_t firstScalar(std::string_view utf8) {
    if (utf8.empty()) return 0;
    std::size_t i = 0;
    return nextScalar(utf8, i);
}

std::string fromUtf32(std::u32string_view scalars) {
    std::string out;
    out.reserve(scalars.size());
    for (char32_t c : scalars) appendUtf8(out, c);
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = nextScalar(utf8, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::vector<std::size_t> graphemeBoundaries(std::u16string_view text) {
    std::vector<std::size_t> bounds;
    bounds.push_back(0);
    if (text.empty()) return bounds;
    // Plain ASCII without CR: every unit is its own cluster; skip ICU on this common path.
    bool simple = true;
    for (char16_t u : text) {
        if (u >= 0x80 || u == u'\r') {
            simple = false;
            break;
        }
    }
    if (simple) {
        for (std::size_t i = 1; i <= text.size(); ++i) bounds.push_back(i);
        return bounds;
    }
    icu::UnicodeString s = fromU16(text);
    icu::BreakIterator& it = characterIterator();
    it.setText(s);
    for (int32_t p = it.next(); p != icu::BreakIterator::DONE; p = it.next())
        bounds.push_back(static_cast<std::size_t>(p));
    it.setText(icu::UnicodeString());
    return bounds;
}

std::vector<std::size_t> graphemeBoundaries(std::string_view utf8) {
    // Map UTF-16 boundaries back to byte offsets.
    std::u16string u16 = toUtf16(utf8);
    std::vector<std::size_t> unitBounds = graphemeBoundaries(std::u16string_view(u16));
    std::vector<std::size_t> byteOffsetOfUnit(u16.size() + 1, 0);
    std::size_t unit = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        const std::size_t units = nextScalar(utf8, i) >= 0x10000 ? 2 : 1;
        for (std::size_t k = 0; k < units; ++k) byteOffsetOfUnit[unit + k] = start;
        unit += units;
    }
    byteOffsetOfUnit[u16.size()] = utf8.size();
    std::vector<std::size_t> out;
    out.reserve(unitBounds.size());
    for (std::size_t b : unitBounds) out.push_back(byteOffsetOfUnit[b]);
    return out;
}

std::size_t graphemeCount(std::u16string_view text) {
    return graphemeBoundaries(text).size() - 1;
}

std::size_t graphemeCount(std::string_view utf8) {
    return graphemeBoundaries(utf8).size() - 1;
}

std::vector<std::string> graphemes(std::string_view utf8) {
    std::vector<std::size_t> b = graphemeBoundaries(utf8);
    std::vector<std::string> out;
    out.reserve(b.size() - 1);
    for (std::size_t i = 0; i + 1 < b.size(); ++i) out.emplace_back(utf8.substr(b[i], b[i + 1] - b[i]));
    return out;
}

std::u16string normalize(std::u16string_view text, NormalizationForm form) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = normalizer(form).normalize(fromU16(text), status);
    if (U_FAILURE(status)) return std::u16string(text);
    return toU16(result);
}

std::string normalize(std::string_view utf8, NormalizationForm form) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2& n = normalizer(form);
    icu::UnicodeString s =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    if (n.isNormalized(s, status) && U_SUCCESS(status) && isValidUtf8(utf8)) return std::string(utf8);
    status = U_ZERO_ERROR;
    icu::UnicodeString result = n.normalize(s, status);
    std::string out;
    if (U_FAILURE(status)) return std::string(utf8);
    result.toUTF8String(out);
    return out;
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b) return true;
    return normalize(a, NormalizationForm::NFD) == normalize(b, NormalizationForm::NFD);
}

std::u16string toLower(std::u16string_view text) {
    icu::UnicodeString s(fromU16(text));
    s.toLower(icu::Locale::getRoot());
    return toU16(s);
}

std::string toTitle(std::string_view utf8) {
    icu::UnicodeString s =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    s.toTitle(nullptr, icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string toLower(std::string_view utf8) {
    bool ascii = true;
    for (char ch : utf8) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        std::string out(utf8);
        for (char& ch : out) {
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        }
        return out;
    }
    icu::UnicodeString s =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    s.toLower(icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string lowerMapping(char32_t scalar) {
    std::string one;
    appendUtf8(one, scalar);
    return toLower(one);
}

char32_t foldCase(char32_t scalar) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(scalar), U_FOLD_CASE_DEFAULT));
}

std::string foldDiacritics(std::string_view utf8) {
    std::u32string decomposed = toUtf32(normalize(utf8, NormalizationForm::NFD));
    std::u32string kept;
    kept.reserve(decomposed.size());
    for (char32_t c : decomposed) {
        if (!isNonspacingMark(c)) kept.push_back(c);
    }
    return normalize(fromUtf32(kept), NormalizationForm::NFC);
}

bool isUppercaseLetter(char32_t c) {
    int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_UPPERCASE_LETTER || t == U_TITLECASE_LETTER;
}

bool isNonspacingMark(char32_t c) {
    return u_charType(static_cast<UChar32>(c)) == U_NON_SPACING_MARK;
}

bool isPunctuation(char32_t c) {
    return u_ispunct(static_cast<UChar32>(c)) != 0;
}

bool isSpaceSeparator(char32_t c) {
    return u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isWhiteSpace(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE) != 0;
}

bool isBidiControl(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_BIDI_CONTROL) != 0;
}

bool isControlOrFormat(char32_t c) {
    int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_CONTROL_CHAR || t == U_FORMAT_CHAR;
}

bool isLetter(char32_t c) {
    return u_isalpha(static_cast<UChar32>(c)) != 0;
}

bool isDigit(char32_t c) {
    return u_isdigit(static_cast<UChar32>(c)) != 0;
}

CategoryGroup categoryGroup(char32_t c) {
    switch (static_cast<UCharCategory>(u_charType(static_cast<UChar32>(c)))) {
        case U_UPPERCASE_LETTER:
        case U_LOWERCASE_LETTER:
        case U_TITLECASE_LETTER:
        case U_MODIFIER_LETTER:
        case U_OTHER_LETTER:
            return CategoryGroup::letter;
        case U_DECIMAL_DIGIT_NUMBER:
        case U_LETTER_NUMBER:
        case U_OTHER_NUMBER:
            return CategoryGroup::number;
        default:
            return CategoryGroup::other;
    }
}

}  // namespace platform::text
