#include "Tremolan/Utilities/Constants.hpp"

#include <gtest/gtest.h>

using namespace tremolan;

TEST(Constants, LanguageTableHas112NamesFor100Codes) {
    const auto& languages = Constants::languages();
    EXPECT_EQ(languages.size(), 112u);
    EXPECT_EQ(Constants::languageCodes().size(), 100u);
    EXPECT_EQ(languages.at("mandarin"), "zh");
    EXPECT_EQ(languages.at("chinese"), "zh");
    EXPECT_EQ(languages.at("javanese"), "jw");
    EXPECT_EQ(languages.at("hawaiian"), "haw");
    EXPECT_EQ(languages.at("cantonese"), "yue");
    EXPECT_EQ(languages.at("haitian creole"), "ht");
    EXPECT_EQ(languages.at("moldovan"), "ro");
    EXPECT_EQ(languages.at("burmese"), "my");
    for (const auto& [name, code] : languages) EXPECT_TRUE(Constants::languageCodes().contains(code)) << name;
}
