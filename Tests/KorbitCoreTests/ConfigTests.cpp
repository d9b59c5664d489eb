#include "KorbitCore/External/Hub/Config.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

using korbit::BinaryDistinctString;
using korbit::Config;

namespace {

Config parse(std::string_view json) {
    return Config::parseJson(json);
}

}  // namespace

TEST(Config, UncamelCaseTable) {
    const std::vector<std::pair<std::u16string, std::u16string>> table = {
        {u"addPrefixSpace", u"add_prefix_space"},
        {u"unkId", u"unk_id"},
        {u"trimOffsets", u"trim_offsets"},
        {u"XYZWord", u"xyzword"},
        {u"Type", u"type"},
        {u"a1B", u"a1_b"},
        {u"a_B", u"a__b"},
        {u"already_snake", u"already_snake"},
        {u"", u""},
        {u"\u00C9tatCivil", u"\u00E9tat_civil"},  // non-ASCII capitals (Lu)
        {u"a\u01C5b", u"a_\u01C6b"},              // a title-case letter (Lt)
        {u"a\u0130", u"a_i\u0307"},               // a full lower-case mapping of two scalars
        {u"x\U0001D400", u"x_\U0001D400"},        // MATHEMATICAL BOLD CAPITAL A is Lu without a lower-case form
        {u"\U0001F600A", u"\U0001F600_a"},
    };
    for (const auto& [camel, snake] : table) {
        EXPECT_EQ(Config::uncamelCase(BinaryDistinctString(camel)).value, snake) << BinaryDistinctString(camel);
    }
}

TEST(Config, MemberLookupFallsBackToSnakeCase) {
    const Config file = parse(R"({"add_prefix_space": true, "model": {"unk_token": "<unk>"}})");
    EXPECT_EQ(file["addPrefixSpace"].kind(), Config::Kind::integer);
    EXPECT_EQ(file["addPrefixSpace"].integer(), 1);
    EXPECT_EQ(file["addPrefixSpace"].boolean(), true);
    EXPECT_EQ(file["model"]["unkToken"].string(), "<unk>");
    EXPECT_EQ(file[BinaryDistinctString("addPrefixSpace")].integer(), 1);
    EXPECT_EQ(file[std::string("add_prefix_space")].integer(), 1);

    const Config both = parse(R"({"addPrefixSpace": 1, "add_prefix_space": 2})");
    EXPECT_EQ(both["addPrefixSpace"].integer(), 1);
    EXPECT_EQ(both["add_prefix_space"].integer(), 2);
    EXPECT_EQ(both.member("addPrefixSpace")->integer(), 1);
}

TEST(Config, MissingKeysAndNonDictionaries) {
    const Config dictionary = parse(R"({"a": 1})");
    EXPECT_TRUE(dictionary["missing"].isNull());
    std::optional<Config> present = dictionary.member("missing");
    ASSERT_TRUE(present.has_value());
    EXPECT_TRUE(present->isNull());

    for (const Config& other : {parse("[1, 2]"), Config("a"), Config(1), Config()}) {
        EXPECT_TRUE(other["a"].isNull()) << other;
        EXPECT_EQ(other.member("a"), std::nullopt) << other;
    }
    // Chained lookups through missing levels stay null.
    EXPECT_TRUE(dictionary["x"]["y"]["z"].isNull());
    EXPECT_EQ(dictionary["x"]["y"].boolean(), std::nullopt);
}

TEST(Config, BooleanReads) {
    const std::optional<bool> absent;
    const std::vector<std::pair<Config, std::optional<bool>>> table = {
        {"True", true},
        {"t", true},
        {"1", true},
        {"FALSE", false},
        {"F", false},
        {"0", false},
        {"yes", absent},
        {" true", absent},
        {"\xEF\xBD\x94", absent},  // a full-width t is not t
        {1, true},
        {0, false},
        {2, false},
        {-1, false},
        {true, true},
        {1.0f, absent},
        {Config(), absent},
        {Config::arrayLiteral({true}), absent},
    };
    for (const auto& [value, expected] : table) EXPECT_EQ(value.boolean(), expected) << value;
}

TEST(Config, TypedReadsOfFileNumbers) {
    const Config file = parse(R"({"whole": 2.0, "half": 0.5, "tenth": 0.1, "text": "5", "big": 9007199254740993})");
    EXPECT_EQ(file["whole"].kind(), Config::Kind::integer);
    EXPECT_EQ(file["whole"].integer(), 2);
    EXPECT_EQ(file["whole"].floating(), 2.0f);
    EXPECT_EQ(file["half"].kind(), Config::Kind::floating);
    EXPECT_EQ(file["half"].floating(), 0.5f);
    EXPECT_EQ(file["half"].integer(), std::nullopt);
    EXPECT_EQ(file["tenth"].floating(), 0.1f);  // single precision, not the double 0.1
    EXPECT_EQ(file["text"].integer(), std::nullopt);
    EXPECT_EQ(file["text"].floating(), std::nullopt);
    EXPECT_EQ(file["big"].integer(), 9007199254740993);  // integers are not routed through a double
    EXPECT_EQ(file["half"].string(), std::nullopt);
    EXPECT_EQ(file.array(), nullptr);
    ASSERT_NE(file.dictionary(), nullptr);
    EXPECT_EQ(file.dictionary()->size(), 5u);
}

TEST(Config, GetAndTokenReads) {
    EXPECT_EQ(parse(R"(["a", 1, "b"])").get(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(parse("[1, 2]").get(), std::vector<std::string>{});
    EXPECT_EQ(Config("a").get(), std::nullopt);

    using Pair = std::pair<std::uint64_t, std::string>;
    EXPECT_EQ(parse(R"(["[SEP]", 101])").token(), (Pair{101, "[SEP]"}));
    EXPECT_EQ(parse(R"(["[SEP]", 101, 0])").token(), std::nullopt);
    EXPECT_EQ(parse(R"(["[SEP]", "101"])").token(), std::nullopt);
    EXPECT_EQ(parse(R"(["[SEP]", -1])").token(), std::nullopt);
    EXPECT_EQ(parse(R"([101, "[SEP]"])").token(), std::nullopt);  // a file lists the text first
    EXPECT_EQ(parse(R"(["[SEP]", 1.5])").token(), std::nullopt);
    EXPECT_EQ(Config(Config::Token{7, "x"}).token(), (Pair{7, "x"}));
}

TEST(Config, EqualityAcrossKinds) {
    EXPECT_EQ(Config(1), Config(1.0f));
    EXPECT_EQ(Config(1), Config(true));
    EXPECT_EQ(Config("t"), Config(true));
    EXPECT_EQ(Config("TRUE"), Config(true));
    EXPECT_NE(Config("1"), Config(1));
    EXPECT_EQ(Config(2), Config(false));
    EXPECT_EQ(Config(0), Config(false));
    EXPECT_NE(Config(1.0f), Config(true));
    EXPECT_NE(Config(std::nanf("")), Config(std::nanf("")));
    EXPECT_EQ(Config(0.0f), Config(-0.0f));
    EXPECT_EQ(Config(16777217), Config(16777216.0f));  // the integer as the nearest float
    EXPECT_NE(Config(), Config(0));
    EXPECT_EQ(Config(), Config(nullptr));
    EXPECT_NE(Config(u"\u00E9"), Config(u"e\u0301"));
    EXPECT_EQ(Config(Config::Token{1, "a"}), Config(Config::Token{1, "a"}));
    EXPECT_NE(Config(Config::Token{1, "a"}), parse(R"(["a", 1])"));
    EXPECT_EQ(parse(R"({"a": 1, "b": [1, "x"]})"), parse(R"({"b": [true, "x"], "a": 1.0})"));
    EXPECT_NE(parse(R"({"a": 1})"), parse(R"({"a": 1, "b": 2})"));
    EXPECT_NE(parse(R"({"a": 1})"), parse(R"({"b": 1})"));
    EXPECT_NE(parse("[1, 2]"), parse("[2, 1]"));
    EXPECT_NE(parse("[1]"), parse("[1, 1]"));
}

TEST(Config, EqualityIsSymmetricAndHashingAgreesWithIt) {
    const std::vector<Config> samples = {
        Config("true"),
        Config("t"),
        Config("1"),
        Config("f"),
        Config("0"),
        Config("abc"),
        Config(""),
        Config(1),
        Config(0),
        Config(2),
        Config(-1),
        Config(16777217),
        Config(true),
        Config(false),
        Config(1.0f),
        Config(0.0f),
        Config(-0.0f),
        Config(2.0f),
        Config(0.5f),
        Config(16777216.0f),
        Config(1e30f),
        Config(std::numeric_limits<float>::infinity()),
        Config(std::nanf("")),
        parse(R"({"a": 1})"),
        parse(R"({"a": true})"),
        parse("{}"),
        parse("[1]"),
        parse("[true]"),
        parse("[]"),
        Config(Config::Token{1, "a"}),
        Config(Config::Token{2, "a"}),
        Config(),
    };
    for (const Config& a : samples) {
        for (const Config& b : samples) {
            EXPECT_EQ(a == b, b == a) << a << " vs " << b;
            if (a == b) {
                EXPECT_EQ(a.hashValue(), b.hashValue()) << a << " vs " << b;
            }
        }
    }
    // Texts that read as no Boolean keep a discriminating hash.
    EXPECT_NE(Config("abc").hashValue(), Config("abd").hashValue());
    std::unordered_set<Config> set{Config("a"), Config("b"), Config(1), Config(true), Config(1.0f)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(Config, DictionaryLiteralAndCopies) {
    const Config literal = Config::dictionaryLiteral({{"a", 1}, {"b", "x"}, {"a", 2}});
    EXPECT_EQ(literal["a"].integer(), 2);
    EXPECT_EQ(literal.dictionary()->size(), 2u);
    EXPECT_EQ(Config::arrayLiteral({1, "a", nullptr}).array()->size(), 3u);

    // Changing a copy of the map leaves the original value alone.
    Config::Dictionary edited = *literal.dictionary();
    edited.insert_or_assign("a", Config(3));
    const Config changed(std::move(edited));
    EXPECT_EQ(changed["a"].integer(), 3);
    EXPECT_EQ(literal["a"].integer(), 2);
}

TEST(Config, Descriptions) {
    EXPECT_EQ(Config("a\"b").description(), "\"a\"b\"");
    EXPECT_EQ(Config(-42).description(), "-42");
    EXPECT_EQ(Config(true).description(), "true");
    EXPECT_EQ(Config(0.5f).description(), "0.5");
    EXPECT_EQ(Config(0.1f).description(), "0.1");
    EXPECT_EQ(Config(2.0f).description(), "2.0");
    EXPECT_EQ(Config(-0.0f).description(), "-0.0");
    EXPECT_EQ(Config(1e20f).description(), "1e+20");
    EXPECT_EQ(Config(std::numeric_limits<float>::infinity()).description(), "inf");
    EXPECT_EQ(parse(R"({"a": [1]})").description(), "{[a: [[1]]]}");
    EXPECT_EQ(parse("{}").description(), "{[:]}");
    EXPECT_EQ(parse("[]").description(), "[[]]");
    EXPECT_EQ(parse(R"([[1, "x"], null])").description(), "[[[[1, \"x\"]], null]]");
    EXPECT_EQ(Config(Config::Token{5, "x"}).description(), "(5, x)");
    EXPECT_EQ(Config().description(), "null");
    EXPECT_THAT(parse(R"({"a": 1, "b": 2})").description(), testing::AnyOf("{[a: 1, b: 2]}", "{[b: 2, a: 1]}"));
}
