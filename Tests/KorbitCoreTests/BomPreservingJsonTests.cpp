#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/Extensions/BomPreservingJson.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using korbit::BinaryDistinctString;
using korbit::Config;
using json = nlohmann::json;

namespace {

const std::string kMark = "\xEF\xBB\xBF";

// Both roads a file takes must give the same texts.
Config both(const std::string& bytes) {
    const Config direct = Config::parseJson(bytes);
    EXPECT_EQ(direct.encode(), Config::convertToBinaryDistinctKeys(korbit::bomPreservingJsonObject(bytes)).encode());
    return direct;
}

std::u16string onlyKey(const Config& c) {
    EXPECT_EQ(c.dictionary()->size(), 1u);
    return c.dictionary()->begin()->first.value;
}

std::u16string text(const Config& c) {
    return std::get<BinaryDistinctString>(c.value()).value;
}

}  // namespace

TEST(BomPreservingJson, MarkOpeningATextIsKeptOnce) {
    const Config alone = both("{\"" + kMark + "\": 5}");
    EXPECT_EQ(onlyKey(alone), u"\uFEFF");
    EXPECT_EQ(alone[BinaryDistinctString(u"\uFEFF")].integer(), 5);
    EXPECT_TRUE(alone[""].isNull());

    EXPECT_EQ(onlyKey(both("{\"" + kMark + "ab\": 1}")), u"\uFEFFab");
    EXPECT_EQ(text(both("{\"k\": \"" + kMark + "\"}")["k"]), u"\uFEFF");

    // The mark and the empty text are two keys, as in a vocabulary.
    const Config vocab = both("{\"\": 0, \"" + kMark + "\": 1}");
    EXPECT_EQ(vocab[""].integer(), 0);
    EXPECT_EQ(vocab[BinaryDistinctString(u"\uFEFF")].integer(), 1);
}

TEST(BomPreservingJson, MarksInsideTextsAndEscapesComeOutAsWritten) {
    // After an escaped quote the mark stays single (a doubling copy step would have doubled it).
    EXPECT_EQ(text(both("{\"k\": \"x\\\"" + kMark + "y\"}")["k"]), u"x\"\uFEFFy");
    EXPECT_EQ(text(both("{\"k\": \"x" + kMark + "y" + kMark + "\"}")["k"]), u"x\uFEFFy\uFEFF");
    EXPECT_EQ(text(both(R"({"k": "\ufeffx"})")["k"]), u"\uFEFFx");
    EXPECT_EQ(text(both(R"({"k": "\ufeff\ufeff"})")["k"]), u"\uFEFF\uFEFF");
    EXPECT_EQ(text(both("[\"" + kMark + kMark + "\"]").array()->front()), u"\uFEFF\uFEFF");
}

TEST(BomPreservingJson, LeadingByteOrderMarkOfTheFileIsSkipped) {
    const Config c = both(kMark + R"({"a": 1})");
    EXPECT_EQ(c["a"].integer(), 1);
    EXPECT_EQ(c.dictionary()->size(), 1u);
    EXPECT_EQ(korbit::bomPreservingJsonObject(kMark + "[1]"), json::parse("[1]"));
}

TEST(BomPreservingJson, MarksOutsideTextsAreParseErrors) {
    for (const std::string& bad : {"{\"a\": " + kMark + "1}", "[1]" + kMark, " " + kMark + "[1]",
                                   "\"" + kMark.substr(0, 2), "[\"" + kMark.substr(0, 1)}) {
        EXPECT_THROW(korbit::bomPreservingJsonObject(bad), json::parse_error);
        EXPECT_THROW(Config::parseJson(bad), json::parse_error);
    }
}
