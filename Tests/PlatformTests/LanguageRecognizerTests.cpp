#include "Platform/Text/LanguageRecognizer.hpp"

#include <gtest/gtest.h>

using platform::text::LanguageRecognizer;

TEST(LanguageRecognizer, NamesTheScriptsWrittenWithoutSpaces) {
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("今日は良い天気ですね。"), "ja");
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("カタカナ"), "ja");
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("我们今天去公园吧"), "zh");
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("สวัสดีครับ"), "th");
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("ສະບາຍດີ"), "lo");
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("မင်္ဂလာပါ"), "my");
    // Digits and punctuation do not count; a majority of the letters decides.
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("2024年、東京 ok"), "zh");
}

TEST(LanguageRecognizer, OtherTextsGetNoAnswer) {
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("And so my fellow Americans"), std::nullopt);
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("Привет, мир"), std::nullopt);
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("Hello 你好 world"), std::nullopt);
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("123 !?"), std::nullopt);
    EXPECT_EQ(LanguageRecognizer::dominantLanguage(""), std::nullopt);
    EXPECT_EQ(LanguageRecognizer::dominantLanguage("\xff\xfe"), std::nullopt);
}
