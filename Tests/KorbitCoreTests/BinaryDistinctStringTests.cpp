#include "KorbitCore/External/Hub/BinaryDistinctString.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

using korbit::BinaryDistinctCharacter;
using korbit::BinaryDistinctString;

namespace {

const BinaryDistinctString kPrecomposed(u"\u00E9");
const BinaryDistinctString kDecomposed(u"e\u0301");

void expectOutOfBounds(const std::function<void()>& f) {
    EXPECT_EQ(velmora::test::messageOf<std::out_of_range>(f), "Index out of bounds");
}

}  // namespace

TEST(BinaryDistinctString, CanonicallyEquivalentSpellingsStayDistinctKeys) {
    EXPECT_NE(kPrecomposed, kDecomposed);
    EXPECT_EQ(kPrecomposed.count(), 1);
    EXPECT_EQ(kDecomposed.count(), 1);
    std::unordered_map<BinaryDistinctString, int> vocab{{kPrecomposed, 1}, {kDecomposed, 2}};
    EXPECT_EQ(vocab.size(), 2u);
    EXPECT_EQ(vocab.at(BinaryDistinctString("\xC3\xA9")), 1);
    EXPECT_EQ(vocab.at(BinaryDistinctString("e\xCC\x81")), 2);
}

TEST(BinaryDistinctString, OrdersByUtf16UnitsNotByCodePoints) {
    const BinaryDistinctString empty, aa("aa"), ab("ab"), abc("abc"), high(u"\u8000");
    EXPECT_LT(empty, aa);
    EXPECT_LT(aa, ab);
    EXPECT_LT(ab, abc);
    EXPECT_LT(abc, high);
    EXPECT_GE(abc, ab);

    // U+1F600 is D83D DE00 in UTF-16, so it orders before U+FF01, although its UTF-8 bytes
    // (F0 ...) and code point order after (EF ...).
    const BinaryDistinctString emoji("\xF0\x9F\x98\x80"), fullwidth("\xEF\xBC\x81"), privateUse(u"\uE000");
    EXPECT_LT(emoji, fullwidth);
    EXPECT_LT(emoji, privateUse);
    EXPECT_GT(emoji.string(), fullwidth.string());
    std::map<BinaryDistinctString, int> sorted{{fullwidth, 0}, {emoji, 1}, {privateUse, 2}, {"z", 3}};
    std::vector<int> order;
    for (const auto& entry : sorted) order.push_back(entry.second);
    EXPECT_EQ(order, (std::vector<int>{3, 1, 2, 0}));
}

TEST(BinaryDistinctString, PositionsCountGraphemeClusters) {
    const BinaryDistinctString s(
        "a\xF0\x9F\x98\x80"
        "b");
    EXPECT_EQ(s.count(), 3);
    EXPECT_EQ(s.value.size(), 4u);
    EXPECT_EQ(s.startIndex(), 0);
    EXPECT_EQ(s.endIndex(), 3);
    EXPECT_EQ(s.substring(1, 2).value, u"\U0001F600");
    EXPECT_EQ(s.substring(2), BinaryDistinctString("b"));
    EXPECT_EQ(s.substring(1, 1), BinaryDistinctString());
    EXPECT_EQ(s.substring(3), BinaryDistinctString());
    expectOutOfBounds([&] { s.substring(0, 4); });
    expectOutOfBounds([&] { s.substring(-1, 1); });
    expectOutOfBounds([&] { s.substring(2, 1); });
    expectOutOfBounds([&] { s.substring(4); });

    EXPECT_EQ(s.index(0, 3), 3);
    EXPECT_EQ(s.index(3, -3), 0);
    expectOutOfBounds([&] { s.index(0, 4); });
    expectOutOfBounds([&] { s.index(1, -2); });
    EXPECT_EQ(s.index(0, 2, 2), 2);
    EXPECT_EQ(s.index(0, 3, 2), std::nullopt);
    EXPECT_EQ(s.index(0, -5, 2), -5);  // the limited form checks only the limit

    // A family emoji joined by ZWJ and a flag are one character each.
    const BinaryDistinctString family(
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"
        "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
    EXPECT_EQ(family.count(), 2);
}

TEST(BinaryDistinctString, IteratesCharactersAndRebuildsFromThem) {
    std::vector<BinaryDistinctCharacter> characters = BinaryDistinctString(u"xe\u0301\U0001F600").characters();
    ASSERT_EQ(characters.size(), 3u);
    EXPECT_EQ(characters[1].bytes, u"e\u0301");
    EXPECT_EQ(characters[2].bytes, u"\U0001F600");
    EXPECT_EQ(BinaryDistinctString(characters), BinaryDistinctString(u"xe\u0301\U0001F600"));
    EXPECT_EQ(BinaryDistinctString(characters[1]), kDecomposed);

    // A lone surrogate is kept, not repaired, and stays a character of its own.
    const std::u16string lone{u'a', char16_t(0xD800), u'b'};
    const BinaryDistinctString broken(lone);
    EXPECT_EQ(broken.value, lone);
    EXPECT_EQ(broken.count(), 3);
    EXPECT_EQ(broken.characters()[1].bytes, std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(broken.string(),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(BinaryDistinctString, PrefixSuffixConcatenationAndCase) {
    const BinaryDistinctString abc("abc");
    EXPECT_TRUE(abc.hasPrefix("ab"));
    EXPECT_FALSE(abc.hasPrefix("abcd"));
    EXPECT_TRUE(abc.hasSuffix(""));
    EXPECT_TRUE(abc.hasPrefix(""));
    EXPECT_FALSE(kPrecomposed.hasPrefix("e"));
    EXPECT_EQ(BinaryDistinctString("ab") + BinaryDistinctString(u"\u00E9"), BinaryDistinctString("ab\xC3\xA9"));

    EXPECT_EQ(BinaryDistinctString("\xC3\x80"
                                   "B")
                  .lowercased(),
              BinaryDistinctString("\xC3\xA0"
                                   "b"));
    // Full mapping: U+0130 lower-cases to i followed by U+0307.
    EXPECT_EQ(BinaryDistinctString(u"\u0130").lowercased().value, u"i\u0307");
}

TEST(BinaryDistinctString, ReplacesWholeCanonicallyEquivalentCharacters) {
    EXPECT_EQ(BinaryDistinctString("a-b--c").replacingOccurrences("-", "+"), BinaryDistinctString("a+b++c"));
    EXPECT_EQ(BinaryDistinctString("aaa").replacingOccurrences("aa", "b"), BinaryDistinctString("ba"));
    EXPECT_EQ(BinaryDistinctString("abc").replacingOccurrences("", "x"), BinaryDistinctString("abc"));
    // The decomposed spelling matches a precomposed target, and the other way round.
    EXPECT_EQ(BinaryDistinctString(u"cafe\u0301!").replacingOccurrences(kPrecomposed, "E"),
              BinaryDistinctString("cafE!"));
    EXPECT_EQ(BinaryDistinctString(u"\u00E9t\u00E9").replacingOccurrences(kDecomposed, "e"),
              BinaryDistinctString("ete"));
    // A match never splits a character.
    EXPECT_EQ(BinaryDistinctString(u"cafe\u0301").replacingOccurrences("e", "x"), BinaryDistinctString(u"cafe\u0301"));
    EXPECT_EQ(BinaryDistinctString(u"\u00E9\U0001F600\u00E9").replacingOccurrences(u"\U0001F600", "-"),
              BinaryDistinctString(u"\u00E9-\u00E9"));
}

TEST(BinaryDistinctString, CharacterDescriptionAndEquality) {
    EXPECT_EQ(BinaryDistinctCharacter("a").description(), "BinaryDistinctCharacter('a', bytes: [\"0x61\"])");
    EXPECT_EQ(BinaryDistinctCharacter(u"\u3042").description(),
              "BinaryDistinctCharacter('\xE3\x81\x82', bytes: [\"0x3042\"])");
    EXPECT_EQ(BinaryDistinctCharacter(u"e\u0301").description(),
              "BinaryDistinctCharacter('e\xCC\x81', bytes: [\"0x65\", \"0x301\"])");
    EXPECT_EQ(BinaryDistinctCharacter("\xC3\xA9"), BinaryDistinctCharacter(u"\u00E9"));
    EXPECT_NE(BinaryDistinctCharacter(u"\u00E9"), BinaryDistinctCharacter(u"e\u0301"));
    std::unordered_set<BinaryDistinctCharacter> set{
        BinaryDistinctCharacter(u"\u00E9"), BinaryDistinctCharacter(u"e\u0301"), BinaryDistinctCharacter("\xC3\xA9")};
    EXPECT_EQ(set.size(), 2u);
}

TEST(BinaryDistinctString, MergesMapsKeyedByAnyTextType) {
    using Map = std::unordered_map<BinaryDistinctString, int>;
    const Map base{{"a", 1}, {"b", 2}};
    auto keepCurrent = [](int current, int) { return current; };
    auto takeNew = [](int, int incoming) { return incoming; };

    Map merged = base;
    korbit::merge(merged, std::map<std::string, int>{{"b", 20}, {"c", 30}}, keepCurrent);
    EXPECT_EQ(merged, (Map{{"a", 1}, {"b", 2}, {"c", 30}}));

    korbit::merge(merged, std::unordered_map<std::u16string, int>{{u"a", 10}, {u"\u00E9", 40}}, takeNew);
    EXPECT_EQ(merged, (Map{{"a", 10}, {"b", 2}, {"c", 30}, {u"\u00E9", 40}}));

    const Map copy =
        korbit::merging(base, Map{{"b", 5}, {"d", 6}}, [](int current, int incoming) { return current + incoming; });
    EXPECT_EQ(copy, (Map{{"a", 1}, {"b", 7}, {"d", 6}}));
    EXPECT_EQ(base, (Map{{"a", 1}, {"b", 2}}));

    std::map<BinaryDistinctString, int> ordered{{"x", 1}};
    korbit::merge(ordered, std::map<std::string, int>{{"x", 2}, {"y", 3}}, takeNew);
    EXPECT_EQ(ordered, (std::map<BinaryDistinctString, int>{{"x", 2}, {"y", 3}}));
}
