#include "Velmora/Support/WordCount.hpp"

#include "Platform/Text/Unicode.hpp"

#include <gtest/gtest.h>

#include <string>

using velmora::countWords;

TEST(WordCount, PiecesBetweenWhiteSpaceOfAnyKind) {
    EXPECT_EQ(countWords(""), 0);
    EXPECT_EQ(countWords("  \n\t "), 0);
    EXPECT_EQ(countWords("раз  два\nтри\u00A0четыре\u3000пять"), 5);
    EXPECT_EQ(countWords("a\u200Bb"), 1) << "a zero-width space is no white space";
    // Bytes outside well-formed UTF-8 are part of a word, also where they lead a white space's bytes.
    EXPECT_EQ(countWords("a\xE2 b"), 2);
    EXPECT_EQ(countWords("\xE2\xE2\x80\x80"
                         "b"),
              2)
        << "a broken sequence, then U+2000";
    EXPECT_EQ(countWords("a\xE2\x80"), 1) << "a sequence cut short";
    EXPECT_EQ(countWords("\xC2"), 1);
}

// Every character that the character database calls white space parts two words, and no other.
TEST(WordCount, EveryCharacterIsWhiteSpaceExactlyWhenTheDatabaseSaysSo) {
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string text = "a";
        platform::text::appendUtf8(text, c);
        text += "b";
        const std::int64_t expected = platform::text::isWhiteSpace(c) ? 2 : 1;
        ASSERT_EQ(countWords(text), expected) << "U+" << std::hex << static_cast<std::uint32_t>(c);
    }
}
