#include "Platform/Text/Regex.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using platform::text::Regex;
using platform::text::RegexError;

namespace {

std::vector<std::string> texts(const std::string& text, const std::vector<Regex::Match>& matches) {
    std::vector<std::string> out;
    for (const auto& m : matches) out.push_back(text.substr(m.begin(), m.length()));
    return out;
}

}  // namespace

TEST(Regex, CompileErrorsAndEmptyPatternAreRefused) {
    EXPECT_THROW(Regex("("), RegexError);
    EXPECT_THROW(Regex("[a-"), RegexError);
    EXPECT_THROW(Regex(""), RegexError);
    EXPECT_THAT(velmora::test::messageOf<RegexError>([] { Regex("a(b"); }), ::testing::HasSubstr("U_REGEX"));
    EXPECT_EQ(Regex("(a)(b)?").groupCount(), 2u);
    EXPECT_EQ(Regex("\\p{L}+").pattern(), "\\p{L}+");
}

TEST(Regex, IcuSyntaxOnUtf8Offsets) {
    const std::string text = "Привет, мир 42";  // Cyrillic letters are two bytes each
    Regex letters("\\p{L}+|\\p{N}+");
    EXPECT_EQ(texts(text, letters.searchAll(text)), (std::vector<std::string>{"Привет", "мир", "42"}));
    auto first = letters.firstMatch(text);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->begin(), 0u);
    EXPECT_EQ(first->end(), 12u);  // bytes, not characters
    // \u escapes and negative look-ahead
    Regex spaces("\\s+(?!\\S)|\\s+");
    EXPECT_EQ(texts("a   b", spaces.searchAll("a   b")), (std::vector<std::string>{"  ", " "}));
    EXPECT_EQ(texts("x\u0021y", Regex("[\\u0021-\\u002F]").searchAll("x!y")), (std::vector<std::string>{"!"}));
}

TEST(Regex, FirstMatchSeesOnlyTheRestOfTheText) {
    Regex anchored("^b");
    EXPECT_FALSE(anchored.firstMatch("ab", 0));
    auto m = anchored.firstMatch("ab", 1);  // the search start acts as the start of the text
    ASSERT_TRUE(m);
    EXPECT_EQ(m->begin(), 1u);
    EXPECT_FALSE(Regex("a").firstMatch("ab", 3));
}

TEST(Regex, GroupsThatTookNoPart) {
    Regex alternation("(<s>)|(</s>)");
    auto matches = alternation.allMatches("x</s>y<s>");
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_FALSE(matches[0].groups[1]);
    ASSERT_TRUE(matches[0].groups[2]);
    EXPECT_EQ(matches[0].groups[2]->begin, 1u);
    ASSERT_TRUE(matches[1].groups[1]);
    EXPECT_FALSE(matches[1].groups[2]);
}

TEST(Regex, EmptyMatchesStepOneCharacterOrOneCodePoint) {
    // "é" written as e + U+0301 is one character of three bytes.
    const std::string text =
        "e\xCC\x81"
        "a";
    Regex nothing("x*");
    std::vector<std::size_t> starts;
    for (const auto& m : nothing.searchAll(text)) starts.push_back(m.begin());
    EXPECT_EQ(starts, (std::vector<std::size_t>{0, 3, 4}));
    starts.clear();
    for (const auto& m : nothing.allMatches(text)) starts.push_back(m.begin());
    EXPECT_EQ(starts, (std::vector<std::size_t>{0, 1, 3, 4}));  // the engine steps per code point
}

TEST(Regex, ReplaceAllWithTemplates) {
    Regex cleanup("\\s(\\.|\\,|n't)");
    EXPECT_EQ(cleanup.replaceAll("a , b . do n't", "$1"), "a, b. don't");
    EXPECT_EQ(Regex(" {2,}").replaceAll("a  b     c", " "), "a b c");
    EXPECT_EQ(Regex("b").replaceAll("abc", "\\$1"), "a$1c");  // a backslash quotes the next character
    EXPECT_EQ(Regex("z").replaceAll("abc", "y"), "abc");
}
