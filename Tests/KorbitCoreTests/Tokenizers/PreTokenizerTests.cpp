// Pre-tokenizers and the string splits they share.

#include "KorbitCore/External/Tokenizers/PreTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

using namespace korbit;
using namespace tokenizer_test;

namespace {

Strings run(const std::string& config, const std::string& text, PreTokenizerOptions options = {}) {
    auto preTokenizer = PreTokenizerFactory::fromConfig(json(config));
    EXPECT_TRUE(preTokenizer) << config;
    return preTokenizer ? preTokenizer->preTokenize(text, options) : Strings{};
}

const std::string kSpace = "\xC4\xA0";     // the byte encoder's character for 0x20
const std::string kMeta = "\xE2\x96\x81";  // ▁

}  // namespace

TEST(StringSplitting, RangesAndSplits) {
    const SearchPattern dash = SearchPattern::literal("-");
    EXPECT_EQ(split("a-b--c", dash, true), (Strings{"a", "-", "b", "-", "-", "c"}));
    EXPECT_EQ(split("-a-", dash, false), (Strings{"a"}));
    EXPECT_EQ(split("", dash, true), Strings{});
    EXPECT_EQ(split("a-b-", dash, SplitDelimiterBehavior::mergedWithPrevious), (Strings{"a-", "b-"}));
    EXPECT_EQ(split("a-b", dash, SplitDelimiterBehavior::mergedWithPrevious), (Strings{"a-", "b"}));
    EXPECT_EQ(split("-a-b", dash, SplitDelimiterBehavior::mergedWithNext), (Strings{"-a", "-b"}));
    EXPECT_EQ(split("ab", dash, SplitDelimiterBehavior::mergedWithNext), (Strings{"ab"}));
    EXPECT_EQ(split("", dash, SplitDelimiterBehavior::mergedWithNext), Strings{});
    EXPECT_TRUE(SearchPattern::literal("").ranges("abc").empty());
    // An expression that can match nothing still ends, one character at a time.
    EXPECT_EQ(split("ab", SearchPattern::regularExpression("x*"), false), (Strings{"a", "b"}));
    // An expression that does not compile finds nothing.
    EXPECT_EQ(split("a(b", SearchPattern::regularExpression("("), true), (Strings{"a(b"}));
    // The split at a compiled expression keeps the highest group that took part.
    const platform::text::Regex tokens("(<s>)|\\s*(</s>)");
    EXPECT_EQ(split("x </s>y<s>", tokens), (Strings{"x", "</s>", "y", "<s>"}));
    EXPECT_EQ(split("plain", tokens), (Strings{"plain"}));
    EXPECT_EQ(replacingOccurrences("a..b", ".", "!"), "a!!b");
    EXPECT_EQ(replacingOccurrences("abc", "", "x"), "abc");
}

TEST(PreTokenizer, ByteLevel) {
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", "Hello world"), (Strings{"Hello", kSpace + "world"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel", "add_prefix_space": true})", "Hello world"),
              (Strings{kSpace + "Hello", kSpace + "world"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel", "use_regex": false})", ""), (Strings{""}));
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", ""), Strings{});
    EXPECT_EQ(run(R"({"type": "ByteLevel", "use_regex": false})", "a b"), (Strings{"a" + kSpace + "b"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", "\xC3\xA9\n"), (Strings{"\xC3\x83\xC2\xA9", "\xC4\x8A"}));
    // The prefix space goes in front of the text once; the pieces after the first keep what the
    // text had (no invented spaces before "," and "b").
    EXPECT_EQ(run(R"({"type": "ByteLevel", "add_prefix_space": true})", "a,b"), (Strings{kSpace + "a", ",", "b"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel", "add_prefix_space": true})", " a"), (Strings{kSpace + "a"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel", "add_prefix_space": true})", ""), Strings{});
    EXPECT_EQ(ByteLevelPreTokenizer::RE(),
              "'s|'t|'re|'ve|'m|'ll|'d| ?\\p{L}+| ?\\p{N}+| ?[^\\s\\p{L}\\p{N}]+|\\s+(?!\\S)|\\s+");
}

TEST(PreTokenizer, ExpressionMembers) {
    const std::string whitespaceText = "a  b\tc";
    EXPECT_EQ(run(R"({"type": "Whitespace"})", whitespaceText), (Strings{"a", "b", "c"}));
    EXPECT_EQ(run(R"({"type": "WhitespaceSplit"})", whitespaceText), (Strings{"a", "b", "c"}));
    EXPECT_EQ(run(R"({"type": "BertPreTokenizer"})", "Hi, you!"), (Strings{"Hi", ",", "you", "!"}));
    EXPECT_EQ(run(R"({"type": "Punctuation"})", "Hi, you!"), (Strings{"Hi", ",", " you", "!"}));
    EXPECT_EQ(run(R"({"type": "Punctuation"})", "wow!!"), (Strings{"wow", "!!"}));
    EXPECT_EQ(run(R"({"type": "BertPreTokenizer"})", "wow!!"), (Strings{"wow", "!", "!"}));
    EXPECT_EQ(run(R"({"type": "Digits"})", "abc123"), (Strings{"abc", "123"}));
    EXPECT_EQ(run(R"({"type": "Digits", "individual_digits": true})", "abc123"), (Strings{"abc", "1", "2", "3"}));
    EXPECT_EQ(run(R"({"type": "Whitespace"})", ""), Strings{});
}

TEST(PreTokenizer, Split) {
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"String": "-"}})", "a-b"), (Strings{"a", "-", "b"}));
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"String": "-"}, "invert": true})", "a-b"), (Strings{"a", "b"}));
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"String": "-"}})", "-a"), (Strings{"-", "a"}));
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"Regex": "\\d+"}, "invert": true})", "a12b"),
              (Strings{"a", "12", "b"}));
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"String": "-", "Regex": "b"}})", "a-b"), (Strings{"a", "-", "b"}));
    EXPECT_EQ(run(R"({"type": "Split"})", "a-b"), (Strings{"a-b"}));
    EXPECT_EQ(run(R"({"type": "Split", "pattern": {"Regex": "("}})", "a(b"), (Strings{"a(b"}));
}

TEST(PreTokenizer, Metaspace) {
    const std::string always =
        R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "always"})";
    const std::string first =
        R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "first"})";
    EXPECT_EQ(run(always, "Hey friend"), (Strings{kMeta + "Hey", kMeta + "friend"}));
    EXPECT_EQ(run(first, "Hey friend", {PreTokenizerOption::firstSection}), (Strings{kMeta + "Hey", kMeta + "friend"}));
    EXPECT_EQ(run(first, "Hey friend"), (Strings{"Hey", kMeta + "friend"}));
    EXPECT_EQ(run(always, kMeta + "Hey"), (Strings{kMeta + "Hey"}));
    EXPECT_EQ(
        run(R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "never", "add_prefix_space": true})", "a"),
        (Strings{"a"}));
    EXPECT_EQ(run(R"({"type": "Metaspace", "replacement": "▁"})", ""), Strings{});
    EXPECT_EQ(run(always, ""), (Strings{kMeta}));
    // Default replacement is a space; an unknown scheme means "always".
    EXPECT_EQ(run(R"({"type": "Metaspace", "add_prefix_space": true, "prepend_scheme": "sometimes"})", "a b"),
              (Strings{" a", " b"}));
    // The replacement is searched as text: "." must not split at every character.
    EXPECT_EQ(run(R"({"type": "Metaspace", "replacement": "."})", "ab cd"), (Strings{"ab", ".cd"}));
}

TEST(PreTokenizer, SequenceFeedsEveryPieceOn) {
    const std::string sequence = R"({"type": "Sequence", "pretokenizers": [
        {"type": "Digits"}, {"no_type": 1}, {"type": "ByteLevel", "add_prefix_space": true}]})";
    EXPECT_EQ(run(sequence, "ab12"), (Strings{kSpace + "ab", kSpace + "12"}));
    EXPECT_EQ(run(R"({"type": "Sequence", "pretokenizers": []})", "a b"), (Strings{"a b"}));
}

TEST(PreTokenizer, FactoryRefusesUnknownTypes) {
    EXPECT_FALSE(PreTokenizerFactory::fromConfig(std::nullopt));
    EXPECT_FALSE(PreTokenizerFactory::fromConfig(json(R"({"type": 3})")));
    EXPECT_EQ(tokenizerErrorOf([] { PreTokenizerFactory::fromConfig(json(R"({"type": ""})")); }),
              "Tokenizer configuration mismatch: Unsupported PreTokenizer type: ");
    EXPECT_EQ(tokenizerErrorOf([] { PreTokenizerFactory::fromConfig(json(R"({"type": "bytelevel"})")); }),
              "Tokenizer configuration mismatch: Unsupported PreTokenizer type: bytelevel");
    EXPECT_EQ(tokenizerErrorOf([] { PreTokenizerFactory::fromConfig(json(R"({"type": "Sequence"})")); }),
              "Tokenizer configuration mismatch: No pretokenizers in Sequence");
    EXPECT_EQ(tokenizerErrorOf([] {
                  PreTokenizerFactory::fromConfig(json(R"({"type": "Sequence", "pretokenizers": [{"type": "Foo"}]})"));
              }),
              "Tokenizer configuration mismatch: Unsupported PreTokenizer type: Foo");
}
