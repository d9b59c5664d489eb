// The hand-written scanner of the byte-level expression and the literal matcher of added tokens
// must find exactly what the regular-expression engine finds.

#include "KorbitCore/External/Tokenizers/AddedTokenSplitter.hpp"
#include "KorbitCore/External/Tokenizers/ByteLevelPattern.hpp"
#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "Platform/Text/Unicode.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace korbit;
using platform::text::Regex;

namespace {

std::vector<TextRange> engineRanges(const Regex& regex, std::string_view text) {
    std::vector<TextRange> ranges;
    for (const auto& match : regex.searchAll(text)) ranges.push_back(match.range());
    return ranges;
}

/// Random texts over characters that exercise every branch of the expression.
std::string randomText(std::mt19937& random, std::size_t length) {
    static const std::vector<std::string> pool = {
        "a",
        "Z",
        "s",
        "t",
        "r",
        "e",
        "v",
        "l",
        "m",
        "d",
        "'",
        "'",
        " ",
        " ",
        " ",
        "\t",
        "\n",
        "\r",
        "\x0B",
        "1",
        "7",
        ",",
        ".",
        "!",
        "-",
        "\xC2\xA0" /* no-break space */,
        "\xC2\x85" /* next line */,
        "\xE2\x80\xA8" /* line sep */,
        "\xE3\x80\x80" /* ideographic space */,
        "\xD0\x96" /* Ж */,
        "\xE4\xB8\xAD" /* 中 */,
        "\xCC\x81" /* combining acute */,
        "\xD9\xA3" /* Arabic-Indic 3 */,
        "\xE2\x85\xA0" /* Roman numeral one */,
        "\xC2\xB2" /* superscript two */,
        "\xF0\x9F\x98\x80" /* emoji */,
        "\xF0\x9D\x90\x80" /* math bold A */,
        "\xE2\x80\x8B" /* zero width space */,
        "\xEF\xBF\xBD",
        "\xC2\xAD" /* soft hyphen */,
        "\xCA\xB0" /* modifier letter */,
        "\xE1\x9A\x80" /* ogham space */,
    };
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += pool[pick(random)];
    return text;
}

}  // namespace

TEST(ByteLevelPattern, MatchesTheEngineOnRandomTexts) {
    const Regex engine(ByteLevelPattern::source);
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const std::string text = randomText(random, 1 + round % 24);
        ASSERT_EQ(ByteLevelPattern::ranges(text), engineRanges(engine, text)) << "text: " << text;
    }
}

TEST(ByteLevelPattern, MatchesTheEngineOverTheBasicPlane) {
    // Every scalar of the basic plane next to a letter, a space and itself: the character classes
    // of the scanner must agree with the engine's \p{L}, \p{N} and \s everywhere.
    const Regex engine(ByteLevelPattern::source);
    for (char32_t first = 0x80; first < 0x10000; first += 0x400) {
        std::string text;
        for (char32_t c = first; c < first + 0x400; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            platform::text::appendUtf8(text, c);
            text += (c % 3 == 0) ? " " : (c % 3 == 1) ? "x" : "";
            platform::text::appendUtf8(text, c);
        }
        ASSERT_EQ(ByteLevelPattern::ranges(text), engineRanges(engine, text))
            << "block from U+" << std::hex << unsigned(first);
    }
}

TEST(ByteLevelPattern, PiecesOfKnownTexts) {
    auto pieces = [](const std::string& text) {
        std::vector<std::string> out;
        for (const TextRange& r : ByteLevelPattern::ranges(text)) out.push_back(text.substr(r.begin, r.length()));
        return out;
    };
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(pieces("Hello world"), (Pieces{"Hello", " world"}));
    EXPECT_EQ(pieces("I'm here, they'll go"), (Pieces{"I", "'m", " here", ",", " they", "'ll", " go"}));
    EXPECT_EQ(pieces("a   b  "), (Pieces{"a", "  ", " b", "  "}));
    EXPECT_EQ(pieces("x 42 ?!"), (Pieces{"x", " 42", " ?!"}));
    EXPECT_TRUE(pieces("").empty());
}

TEST(AddedTokenSplitter, LiteralMatcherAgreesWithTheExpression) {
    const std::vector<AddedTokenSplitter::Entry> entries = {
        {"<s>", false, false},   {"</s>", false, false}, {"<|en|>", false, false}, {"<|endoftext|>", false, false},
        {"[MASK]", true, false}, {"[SEP]", false, true}, {" pad", true, true},     {"ab", false, false},
        {"abc", false, false},   {"a.b", false, false},  {"x*", false, false},
    };
    const AddedTokenSplitter splitter(entries);
    ASSERT_TRUE(splitter.active());
    const Regex engine(splitter.pattern());
    std::mt19937 random(7);
    const std::vector<std::string> pool = {
        "<s>",    "</s>",  "<", "s",   ">",   "/",        "<|en|>", "<|endoftext|>", "<|",          "|>",
        "[MASK]", "[SEP]", " ", "  ",  "\t",  "\xC2\xA0", " pad",   "pad",           "ab",          "abc",
        "a",      "b",     "c", "a.b", "axb", "x*",       "x",      "\xD0\x96",      "\xE4\xB8\xAD"};
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = 0; i < 1 + round % 12; ++i) text += pool[pick(random)];
        std::vector<std::string> expected = split(text, engine);
        std::vector<std::string> actual;
        for (std::string_view section : splitter.split(text)) actual.emplace_back(section);
        ASSERT_EQ(actual, expected) << "text: " << text;
    }
}

TEST(AddedTokenSplitter, LongestContentFirstAndStripping) {
    const AddedTokenSplitter splitter({{"<a>", false, false}, {"<a><b>", false, false}, {"[X]", true, true}});
    EXPECT_EQ(splitter.pattern(), "(\\<a\\>\\<b\\>)|(\\<a\\>)|\\s*(\\[X\\])\\s*");
    using Views = std::vector<std::string_view>;
    EXPECT_EQ(splitter.split("1<a><b>2<a>3"), (Views{"1", "<a><b>", "2", "<a>", "3"}));
    EXPECT_EQ(splitter.split("left  [X]  right"), (Views{"left", "[X]", "right"}));
    EXPECT_EQ(splitter.split(""), Views{});
    EXPECT_EQ(splitter.split("plain"), Views{"plain"});
    const AddedTokenSplitter none({});
    EXPECT_FALSE(none.active());
    EXPECT_EQ(none.split(""), Views{""});
}
