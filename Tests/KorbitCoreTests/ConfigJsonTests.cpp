#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/Extensions/BomPreservingJson.hpp"
#include "KorbitCore/KorbitCoreError.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <system_error>

using korbit::BinaryDistinctString;
using korbit::Config;
using json = nlohmann::json;

namespace {

// A mixed document whose every value exercises one conversion rule.
constexpr std::string_view kMixed = R"({
  "flags": [true, false, null],
  "numbers": [2.0, 0.5, -7, 1e2, 9223372036854775807, -9223372036854775808, 9223372036854775808,
              18446744073709551615, 1e300, -0.0],
  "texts": ["", "caf\u00e9", "\ud83d\ude00", "tab\there"],
  "nested": {"deeper": {"list": [[], {}]}},
  "dup": 1, "dup": 2
})";

// Equal and of the same kind at every node (cross-kind equality alone would let 1 match true).
bool sameTree(const Config& a, const Config& b) {
    if (a.kind() != b.kind() || !(a == b)) return false;
    if (const Config::Dictionary* entries = a.dictionary()) {
        for (const auto& [key, value] : *entries) {
            if (!sameTree(value, b[key])) return false;
        }
    }
    if (const Config::Array* elements = a.array()) {
        for (std::size_t i = 0; i < elements->size(); ++i) {
            if (!sameTree((*elements)[i], (*b.array())[i])) return false;
        }
    }
    return true;
}

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

}  // namespace

TEST(ConfigJson, FileNumbersAndFlagsFollowTheConversionRules) {
    const Config c = Config::parseJson(kMixed);
    const Config::Array& flags = *c["flags"].array();
    EXPECT_EQ(flags[0].kind(), Config::Kind::integer);
    EXPECT_EQ(flags[0].integer(), 1);
    EXPECT_EQ(flags[1].integer(), 0);
    EXPECT_TRUE(flags[2].isNull());

    const Config::Array& n = *c["numbers"].array();
    EXPECT_EQ(n[0].integer(), 2);
    EXPECT_EQ(n[1].kind(), Config::Kind::floating);
    EXPECT_EQ(n[2].integer(), -7);
    EXPECT_EQ(n[3].integer(), 100);
    EXPECT_EQ(n[4].integer(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(n[5].integer(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(n[6].kind(), Config::Kind::floating);  // just past int64
    EXPECT_EQ(n[6].floating(), 0x1p63f);
    EXPECT_EQ(n[7].floating(), 0x1p64f);
    EXPECT_EQ(n[8].floating(), std::numeric_limits<float>::infinity());
    EXPECT_EQ(n[9].integer(), 0);

    EXPECT_EQ(c["texts"].get(), (std::vector<std::string>{"", "caf\xC3\xA9", "\xF0\x9F\x98\x80", "tab\there"}));
    EXPECT_EQ(std::get<BinaryDistinctString>((*c["texts"].array())[2].value()).value, u"\U0001F600");
    EXPECT_EQ(c["nested"]["deeper"]["list"].array()->size(), 2u);
    EXPECT_EQ(c["dup"].integer(), 2);
}

TEST(ConfigJson, TreeConversionAgreesWithDirectParsing) {
    const Config viaTree = Config::convertToBinaryDistinctKeys(korbit::bomPreservingJsonObject(kMixed));
    const Config direct = Config::parseJson(kMixed);
    EXPECT_TRUE(sameTree(viaTree, direct)) << viaTree << "\n" << direct;
    EXPECT_FALSE(sameTree(Config::parseJson("[1]"), Config::decode(json::parse("[true]"))));

    EXPECT_THAT(velmora::test::messageOf<korbit::KorbitCoreError>([] {
                    Config::convertToBinaryDistinctKeys(json::binary({1, 2}));
                }),
                ::testing::StartsWith("unknown type: binary "));
}

TEST(ConfigJson, ReadsTheWhisperVocabularyAndTokenizerConfig) {
    const auto folder = velmora::test::dataPath("whisper-vocab/multilingual");
    const Config vocab = Config::readJsonFile(folder / "vocab.json");
    ASSERT_NE(vocab.dictionary(), nullptr);
    EXPECT_EQ(vocab.dictionary()->size(), 50257u);
    EXPECT_EQ(vocab["\xC4\xA0the"].integer(), 264);  // "Ġthe"
    EXPECT_EQ(vocab["!"].integer(), 0);

    const Config config = Config::readJsonFile(folder / "tokenizer_config.json");
    EXPECT_EQ(config["addPrefixSpace"].boolean(), false);
    EXPECT_EQ(config["unkToken"]["content"].string(), "<|endoftext|>");
    EXPECT_EQ(config["modelMaxLength"].integer(), 1024);
    ASSERT_TRUE(config.member("specialTokensMapFile").has_value());
    EXPECT_TRUE(config["specialTokensMapFile"].isNull());
}

TEST(ConfigJson, BadInputFailsClearly) {
    for (std::string_view bad : {"{", R"({"a": 1} x)", "", R"({"a": "\ud800"})", "{\"a\": \"\xC3\x28\"}", "[1,]"}) {
        EXPECT_THROW(Config::parseJson(bad), json::parse_error) << bad;
        EXPECT_THROW(korbit::bomPreservingJsonObject(bad), json::parse_error) << bad;
    }
    velmora::test::TempDir dir;
    try {
        Config::readJsonFile(dir / "missing.json");
        ADD_FAILURE() << "missing file read";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(e.what()).find("missing.json"), std::string::npos);
    }
    velmora::test::writeFile(dir / "broken.json", R"({"a": [1, 2)");
    EXPECT_THROW(Config::readJsonFile(dir / "broken.json"), json::parse_error);
}

TEST(ConfigJson, NestingIsBounded) {
    const std::size_t limit = korbit::kMaxJsonNesting;
    EXPECT_EQ(Config::parseJson(nested(limit)).kind(), Config::Kind::array);
    EXPECT_NO_THROW(korbit::bomPreservingJsonObject(nested(limit)));
    EXPECT_THROW(Config::parseJson(nested(limit + 1)), json::parse_error);
    EXPECT_THROW(korbit::bomPreservingJsonObject(nested(limit + 1)), json::parse_error);
    EXPECT_THROW(Config::parseJson(nested(200000)), json::parse_error);
}

TEST(ConfigJson, DecodingReadsWhatEncodingWrites) {
    EXPECT_EQ(Config::decode(json::parse(R"([5, "x"])")).kind(), Config::Kind::token);
    EXPECT_EQ(Config::parseJson(R"([5, "x"])").kind(), Config::Kind::array);  // the same bytes from a file
    EXPECT_EQ(Config::decode(json::parse(R"([-1, "x"])")).kind(), Config::Kind::array);
    EXPECT_EQ(Config::decode(json::parse(R"([5, "x", 1])")).kind(), Config::Kind::array);
    EXPECT_EQ(Config::decode(json::parse(R"(["x", 5])")).kind(), Config::Kind::array);
    EXPECT_EQ(Config::decode(json(true)).kind(), Config::Kind::boolean);
    EXPECT_EQ(Config::decode(json::parse("2.0")).integer(), 2);
    EXPECT_EQ(Config::decode(json::parse("0.5")).floating(), 0.5f);
    EXPECT_TRUE(Config::decode(json::parse("1e300")).isNull());  // neither an integer nor a float
    EXPECT_EQ(Config::decode(json::parse("18446744073709551615")).floating(), 0x1p64f);
    EXPECT_EQ(Config::decode(json::binary({1})).kind(), Config::Kind::null);

    const Config token(Config::Token{101, "[SEP]"});
    EXPECT_EQ(token.encode(), json::parse(R"([101, "[SEP]"])"));  // id first, the reverse of token()'s file order
    EXPECT_EQ(Config::decode(token.encode()), token);

    const Config mixed =
        Config::dictionaryLiteral({{"s", u"caf\u00E9"},
                                   {"i", -3},
                                   {"b", true},
                                   {"f", 0.1f},
                                   {"t", token},
                                   {"n", nullptr},
                                   {"a", Config::arrayLiteral({1, "x", Config::dictionaryLiteral({{"k", false}})})}});
    const json encoded = mixed.encode();
    EXPECT_EQ(encoded["f"].dump(), "0.1");  // the float's shortest text, not its double widening
    EXPECT_EQ(encoded["b"], json(true));
    const Config back = Config::decode(json::parse(encoded.dump()));
    EXPECT_EQ(back.encode(), encoded);
    EXPECT_EQ(back["t"].kind(), Config::Kind::token);
    EXPECT_EQ(back["b"].kind(), Config::Kind::boolean);

    const json viaAdl = mixed;
    EXPECT_EQ(viaAdl, encoded);
    EXPECT_EQ(viaAdl.get<Config>().encode(), encoded);

    EXPECT_THROW(Config(std::nanf("")).encode(), std::domain_error);
    EXPECT_THROW(Config::arrayLiteral({std::numeric_limits<float>::infinity()}).encode(), std::domain_error);
}
