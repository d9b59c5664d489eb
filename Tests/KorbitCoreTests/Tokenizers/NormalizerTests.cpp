#include "KorbitCore/External/Tokenizers/Normalizer.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

using namespace korbit;
using namespace tokenizer_test;

namespace {

std::string run(const std::string& config, const std::string& text) {
    auto normalizer = NormalizerFactory::fromConfig(json(config));
    EXPECT_TRUE(normalizer) << config;
    return normalizer ? normalizer->normalize(text) : text;
}

const std::string kAcute = "\xCC\x81";  // combining acute accent

}  // namespace

TEST(Normalizer, Bert) {
    EXPECT_EQ(run(R"({"type": "Bert"})", "H\xC3\xA9llo"), "hello");
    EXPECT_EQ(run(R"({"type": "BertNormalizer"})", "H\xC3\xA9llo"), "hello");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "lowercase": true, "strip_accents": null})", "H\xC3\xA9llo"), "hello");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "lowercase": false})", "H\xC3\xA9llo"), "H\xC3\xA9llo");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "lowercase": false, "strip_accents": true})", "H\xC3\xA9llo"), "Hello");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "lowercase": false})", "a\tb\nc\r\nd"), "a b c d");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "lowercase": false})", "中文ab"), " 中  文 ab");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "handle_chinese_chars": false, "lowercase": false})", "中文"), "中文");
    EXPECT_EQ(run(R"({"type": "BertNormalizer", "clean_text": false, "lowercase": false})", "a\tb"), "a\tb");
    EXPECT_TRUE(BertNormalizer::isChineseChar(0x20000));
    EXPECT_FALSE(BertNormalizer::isChineseChar(0x3042));  // hiragana
}

TEST(Normalizer, CaseFormsAndStrip) {
    EXPECT_EQ(run(R"({"type": "Lowercase"})", "ÀB\xC4\xB0"), "àbi\xCC\x87");
    EXPECT_EQ(run(R"({"type": "NFC"})", "e" + kAcute), "\xC3\xA9");
    EXPECT_EQ(run(R"({"type": "NFD"})", "\xC3\xA9"), "e" + kAcute);
    EXPECT_EQ(run(R"({"type": "NFKC"})", "\xEF\xBC\xA1"), "A");
    EXPECT_EQ(run(R"({"type": "NFKD"})", "\xC3\xA9"), "e" + kAcute);
    EXPECT_EQ(run(R"({"type": "Strip"})", " \t hi \n "), "hi");
    EXPECT_EQ(run(R"({"type": "Strip", "strip_left": false})", " hi \n "), " hi");
    EXPECT_EQ(run(R"({"type": "Strip", "strip_right": false})", " hi \r\n"), "hi \r\n");
    EXPECT_EQ(run(R"({"type": "Strip"})", "   "), "");
}

TEST(Normalizer, StripAccentsDropsNonspacingMarks) {
    // After a decomposing step the accents come off their letters.
    const std::string sequence = R"({"type": "Sequence", "normalizers": [{"type": "NFD"}, {"type": "StripAccents"}]})";
    EXPECT_EQ(run(sequence,
                  "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                  "e"),
              "Creme brulee");
    EXPECT_EQ(run(R"({"type": "StripAccents"})", "e" + kAcute), "e");
    EXPECT_EQ(run(R"({"type": "StripAccents"})", "\xD0\xB9"), "\xD0\xB9");  // й precomposed stays as it is
    EXPECT_EQ(run(R"({"type": "StripAccents"})", "plain"), "plain");
}

TEST(Normalizer, PrependReplaceAndSequence) {
    EXPECT_EQ(run(R"({"type": "Prepend", "prepend": "▁"})", ""), "▁");
    EXPECT_EQ(run(R"({"type": "Prepend", "prepend": "▁"})", "▁a"), "▁▁a");
    EXPECT_EQ(run(R"({"type": "Prepend"})", "a"), "a");
    EXPECT_EQ(run(R"({"type": "Replace", "pattern": {"String": "  "}, "content": " "})", "a    b   c"), "a  b  c");
    EXPECT_EQ(run(R"({"type": "Replace", "pattern": {"Regex": " {2,}"}, "content": " "})", "a    b   c"), "a b c");
    EXPECT_EQ(run(R"j({"type": "Replace", "pattern": {"Regex": "(\\d)-(\\d)"}, "content": "$2-$1"})j", "1-2 3-4"),
              "2-1 4-3");
    EXPECT_EQ(run(R"({"type": "Replace", "pattern": {"String": "a"}})", "abc"), "abc");
    EXPECT_EQ(run(R"({"type": "Replace", "content": "x"})", "abc"), "abc");
    EXPECT_EQ(
        run(R"({"type": "Sequence", "normalizers": [{"type": "Lowercase"}, {"x": 1}, {"type": "Prepend", "prepend": "_"}]})",
            "AB"),
        "_ab");
    EXPECT_EQ(run(R"({"type": "Sequence", "normalizers": []})", "AB"), "AB");
}

TEST(Normalizer, Precompiled) {
    const std::string precompiled = R"({"type": "Precompiled", "precompiled_charsmap": "ignored"})";
    EXPECT_EQ(run(precompiled, "a▁b"), "a b");
    EXPECT_EQ(run(precompiled, "x～～y"), "x～y");
    EXPECT_EQ(run(precompiled, "～"), "");
    EXPECT_EQ(run(precompiled,
                  "a\xC2\xA0"
                  "b"),
              "a b");
    EXPECT_EQ(run(precompiled,
                  "a\x01\x7F"
                  "b\tc\xEF\xBB\xBF"
                  "d"),
              "ab c d");
    EXPECT_EQ(run(precompiled, "\xEF\xBC\xA1"), "A");
}

TEST(Normalizer, FactoryErrors) {
    EXPECT_FALSE(NormalizerFactory::fromConfig(std::nullopt));
    EXPECT_FALSE(NormalizerFactory::fromConfig(json(R"({"type": null})")));
    EXPECT_EQ(tokenizerErrorOf([] { NormalizerFactory::fromConfig(json(R"({"type": ""})")); }),
              "Tokenizer configuration mismatch: Unsupported Normalizer type: ");
    EXPECT_EQ(tokenizerErrorOf([] { NormalizerFactory::fromConfig(json(R"({"type": "Foo"})")); }),
              "Tokenizer configuration mismatch: Unsupported Normalizer type: Foo");
    EXPECT_EQ(
        tokenizerErrorOf([] { NormalizerFactory::fromConfig(json(R"({"type": "Sequence", "normalizers": {}})")); }),
        "Tokenizer configuration mismatch: No normalizers in Sequence");
    EXPECT_EQ(
        tokenizerErrorOf([] {
            NormalizerFactory::fromConfig(json(R"({"type": "Replace", "pattern": {"Regex": "("}, "content": ""})"));
        }),
        "Tokenizer configuration mismatch: Cannot build regexp from (");
}
