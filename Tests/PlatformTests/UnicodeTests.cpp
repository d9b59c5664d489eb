#include "Platform/Text/Unicode.hpp"

#include <gtest/gtest.h>

using namespace platform::text;

TEST(Unicode, RepairPutsOneReplacementPerMaximalSubpart) {
    // Examples of the Unicode standard's "maximal subpart" practice.
    EXPECT_EQ(repairUtf8("a\xF1\x80\x80"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");                                                                 // truncated 4-byte sequence: one
    EXPECT_EQ(repairUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong lead: two
    EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // encoded surrogate: three
    EXPECT_EQ(repairUtf8("\xE2\x82"), "\xEF\xBF\xBD");                              // truncated at end: one
    EXPECT_EQ(repairUtf8("h\xC3\xA9llo"), "h\xC3\xA9llo");
    EXPECT_FALSE(isValidUtf8("\xFF"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(Unicode, Utf16RoundTripAndLoneSurrogates) {
    std::string text =
        "a\xF0\x9F\x98\x80"
        "b\xD1\x8F";  // a😀bя
    std::u16string units = toUtf16(text);
    EXPECT_EQ(units.size(), 5u);
    EXPECT_EQ(toUtf8(units), text);
    std::u16string lone = {u'x', char16_t(0xD800), u'y'};
    EXPECT_EQ(toUtf8(lone), "x\xEF\xBF\xBDy");
}

TEST(Unicode, GraphemeClusters) {
    EXPECT_EQ(graphemeCount(std::string_view("a\xF0\x9F\x98\x80"
                                             "b")),
              3u);
    EXPECT_EQ(graphemeCount(std::string_view("e\xCC\x81")), 1u);  // e + combining acute
    EXPECT_EQ(graphemeCount(std::string_view("\r\n")), 1u);
    EXPECT_EQ(graphemeCount(std::string_view("")), 0u);
    auto parts = graphemes("x\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7y");  // flag is one cluster
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1], "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
    auto bounds = graphemeBoundaries(std::u16string_view(u"ab"));
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(Unicode, NormalisationCaseAndFolding) {
    EXPECT_EQ(normalize("e\xCC\x81", NormalizationForm::NFC), "\xC3\xA9");
    EXPECT_EQ(normalize("\xC3\xA9", NormalizationForm::NFD), "e\xCC\x81");
    EXPECT_EQ(normalize("\xEF\xBC\xA1", NormalizationForm::NFKC), "A");  // fullwidth A
    EXPECT_TRUE(canonicallyEquivalent("e\xCC\x81", "\xC3\xA9"));
    EXPECT_FALSE(canonicallyEquivalent("e", "\xC3\xA9"));
    EXPECT_EQ(toLower("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ABC"),
              "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 abc");
    EXPECT_EQ(lowerMapping(U'\u0130'), "i\xCC\x87");  // full mapping: İ -> i + dot above
    EXPECT_EQ(foldCase(U'\u0416'), U'\u0436');        // Ж -> ж
    EXPECT_EQ(foldCase(U'\u03C2'), U'\u03C3');        // final sigma folds like σ
    EXPECT_EQ(foldCase(U'\u0130'), U'\u0130');        // no one-scalar folding: stays
    EXPECT_EQ(foldCase(U'7'), U'7');
    EXPECT_EQ(foldDiacritics("Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                             "e"),
              "Creme brulee");
}

TEST(Unicode, CharacterProperties) {
    EXPECT_TRUE(isUppercaseLetter(U'A'));
    EXPECT_TRUE(isUppercaseLetter(U'\u01C5'));  // title case Dž
    EXPECT_FALSE(isUppercaseLetter(U'a'));
    EXPECT_TRUE(isNonspacingMark(U'\u0301'));
    EXPECT_TRUE(isPunctuation(U'!'));
    EXPECT_FALSE(isPunctuation(U'$'));
    EXPECT_TRUE(isSpaceSeparator(U'\u3000'));
    EXPECT_FALSE(isSpaceSeparator(U'\t'));
    EXPECT_TRUE(isWhiteSpace(U'\n'));
    // The controls of direction, and nothing else invisible.
    for (char32_t c : {U'\u061C', U'\u200E', U'\u200F', U'\u202A', U'\u202E', U'\u2066', U'\u2069'})
        EXPECT_TRUE(isBidiControl(c)) << static_cast<std::uint32_t>(c);
    for (char32_t c : {U'\u200B', U'\u200D', U'\u202F', U'\u2060', U'a', U'\u05D0'})
        EXPECT_FALSE(isBidiControl(c)) << static_cast<std::uint32_t>(c);
    // The groups of a pattern's \p{L} and \p{N}: modifier letters are letters, Roman numerals and
    // superscripts numbers, combining marks neither.
    EXPECT_EQ(categoryGroup(U'\u044F'), CategoryGroup::letter);  // я
    EXPECT_EQ(categoryGroup(U'\u02B0'), CategoryGroup::letter);  // modifier letter small h
    EXPECT_EQ(categoryGroup(U'\u0663'), CategoryGroup::number);  // Arabic-Indic three
    EXPECT_EQ(categoryGroup(U'\u2163'), CategoryGroup::number);  // Roman numeral four
    EXPECT_EQ(categoryGroup(U'\u00B2'), CategoryGroup::number);  // superscript two
    EXPECT_EQ(categoryGroup(U'\u0301'), CategoryGroup::other);
    EXPECT_EQ(categoryGroup(U'\u3000'), CategoryGroup::other);
}

TEST(Unicode, TitleCasingUppersTheFirstLetterOfEachWord) {
    EXPECT_EQ(toTitle("whisper"), "Whisper");
    EXPECT_EQ(toTitle("GPT2 fast"), "Gpt2 Fast");
    EXPECT_EQ(toTitle("\xD0\xBF\xD1\x80\xD0\x98\xD0\x92\xD0\x95\xD0\xA2"),
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(toTitle(""), "");
}
