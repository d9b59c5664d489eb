// The pre-trained tokenizer: added tokens, sections, stages and the model choice.

#include "KorbitCore/External/Tokenizers/BPETokenizer.hpp"
#include "KorbitCore/External/Tokenizers/BertTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/LlamaPreTrainedTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/UnigramTokenizer.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"
#include "Support/TestEnvironment.hpp"

using namespace korbit;
using namespace tokenizer_test;

namespace {

const std::string kAddedTokens = R"([
    {"id": 10, "content": "[A]", "special": true, "lstrip": true},
    {"id": 11, "content": "[AB]", "special": false, "rstrip": true},
    {"id": 12, "content": "[X]", "special": "true"},
    {"content": "[NOID]"},
    {"id": "13", "content": "[STRID]"}])";

PreTrainedTokenizer characterTokenizer(const std::string& config = R"({"tokenizer_class": "GPT2Tokenizer"})") {
    const Config data = json(R"({"added_tokens": )" + kAddedTokens + R"(,
        "model": {"vocab": {"a": 0, "b": 1, "[": 2, "]": 3, "N": 4, "O": 5, "I": 6, "D": 7, " ": 8, ".": 9}, "merges": []}})");
    return PreTrainedTokenizer(json(config), data, true);
}

Config fixture(const std::string& name, const std::string& file) {
    return Config::readJsonFile(velmora::test::dataPath("tokenizers/" + name + "/" + file));
}

}  // namespace

TEST(PreTrainedTokenizer, AddedTokensCutTheText) {
    const PreTrainedTokenizer t = characterTokenizer();
    // lstrip takes the space before; the model's symbols are joined and cut at spaces, so the
    // space before "b" (the model sees " b") is dropped too.
    EXPECT_EQ(t.tokenize("a [A] b"), (Strings{"a", "[A]", "b"}));
    EXPECT_EQ(t.tokenize("a[AB]  b"), (Strings{"a", "[AB]", "b"}));  // rstrip takes the spaces after
    EXPECT_EQ(t.tokenize("[AB][A]"), (Strings{"[AB]", "[A]"}));
    // A content without an id is cut out but then tokenized as text.
    EXPECT_EQ(t.tokenize("[NOID]"), (Strings{"[", "N", "O", "I", "D", "]"}));
    EXPECT_EQ(t.encode("a [A] b"), (Ids{0, 10, 1}));
    EXPECT_EQ(t.tokenize(""), Strings{});
    EXPECT_EQ(t.addedTokens().size(), 3u);
    EXPECT_EQ(t.specialTokens().size(), 2u);
    EXPECT_EQ(t.specialTokens().at("[X]"), 12);
    EXPECT_EQ(t.addedTokensPattern(), "(\\[STRID\\])|(\\[NOID\\])|(\\[AB\\])\\s*|\\s*(\\[A\\])|(\\[X\\])");
}

TEST(PreTrainedTokenizer, DecodeSkipsSpecialTokensAndCleansUp) {
    const PreTrainedTokenizer t = characterTokenizer();
    EXPECT_EQ(t.decode(Ids{0, 10, 11, 12, 1}), "a[A][AB][X]b");
    EXPECT_EQ(t.decode(Ids{0, 10, 11, 12, 1}, true), "a[AB]b");
    EXPECT_EQ(t.decode(Ids{0, 99, 1}), "ab");
    EXPECT_EQ(t.decode(Ids{0, 8, 9}), "a.");  // " ." cleaned up by default
    EXPECT_TRUE(t.cleanUpTokenizationSpaces());
    const PreTrainedTokenizer raw =
        characterTokenizer(R"({"tokenizer_class": "GPT2Tokenizer", "clean_up_tokenization_spaces": false})");
    EXPECT_EQ(raw.decode(Ids{0, 8, 9}), "a .");
    EXPECT_EQ(raw.cleanUp(" . ? ! , ' '  n't 'm 's 've 're"), " . ? ! , ' '  n't 'm 's 've 're");
    EXPECT_EQ(t.cleanUp("a . b ? c ! d , e ' f n't g 'm h 's i 've j 're"), "a. b? c! d, e'fn't g'm h's i've j're");
}

TEST(PreTrainedTokenizer, UnknownTokensFuseWithinASection) {
    const Config data = json(R"({"added_tokens": [{"id": 5, "content": "<s>", "special": true}],
        "model": {"vocab": {"<unk>": 0, "a": 1}, "merges": []}})");
    const PreTrainedTokenizer t(json(R"({"tokenizer_class": "GPT2Tokenizer", "unk_token": "<unk>", "fuse_unk": true})"),
                                data, true);
    EXPECT_EQ(t.tokenize("xyz"), (Strings{"<0x78>"}));
    EXPECT_EQ(t.tokenize("axyza"), (Strings{"a", "<0x78>", "a"}));
    EXPECT_EQ(t.encode("xy<s>zz"), (Ids{0, 5, 0}));
    EXPECT_EQ(t.convertTokensToIds(t.tokenize("xy<s>zz")), (std::vector<std::optional<int>>{0, 5, 0}));
    const PreTrainedTokenizer unfused(json(R"({"tokenizer_class": "GPT2Tokenizer", "unk_token": "<unk>"})"), data,
                                      true);
    EXPECT_EQ(unfused.encode("xy"), (Ids{0, 0}));
}

TEST(PreTrainedTokenizer, FirstSectionOnlyForTheFirstPiece) {
    const Config data = json(R"({"added_tokens": [{"id": 0, "content": "<s>", "special": true}],
        "pre_tokenizer": {"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "first"},
        "model": {"type": "Unigram", "unk_id": 1, "vocab": [["<s>", 0], ["<unk>", 0], ["▁hi", -1], ["hi", -1], ["▁there", -1],
                                                              ["there", -1], ["▁", -5], ["h", -5], ["i", -5]]}})");
    const PreTrainedTokenizer t(json(R"({"tokenizer_class": "XLMRobertaTokenizer"})"), data, true);
    EXPECT_EQ(t.tokenize("hi there"), (Strings{"▁hi", "▁there"}));
    EXPECT_EQ(t.tokenize("hi<s>there"), (Strings{"▁hi", "<s>", "there"}));
    EXPECT_EQ(t.tokenize("<s>hi there"), (Strings{"<s>", "hi", "▁there"}));
}

TEST(PreTrainedTokenizer, PostProcessorAndEmptyText) {
    const PreTrainedTokenizer t(fixture("unigram", "tokenizer_config.json"), fixture("unigram", "tokenizer.json"),
                                true);
    EXPECT_EQ(t.encode(""), (Ids{1, 2}));
    EXPECT_EQ(t.encode("", false), Ids{});
    EXPECT_EQ(t.encode("Hey", false), (Ids{4}));
    EXPECT_EQ(t.postProcess({"x"}, true), (Strings{"<s>", "x", "</s>"}));
}

TEST(PreTrainedTokenizer, ModelChoiceByClass) {
    const Config bpeData = json(R"({"model": {"vocab": {"a": 0}, "merges": []}})");
    const Config bertData = json(R"({"model": {"vocab": {"[UNK]": 0}}})");
    const Config unigramData = json(R"({"model": {"unk_id": 0, "vocab": [["<unk>", 0]]}})");
    auto modelOf = [](const std::string& className, const Config& data) {
        return std::make_shared<PreTrainedTokenizer>(json(R"({"tokenizer_class": ")" + className + R"("})"), data,
                                                     true);
    };
    EXPECT_TRUE(dynamic_cast<const BPETokenizer*>(&modelOf("WhisperTokenizer", bpeData)->model()));
    EXPECT_TRUE(dynamic_cast<const BPETokenizer*>(&modelOf("WhisperTokenizerFast", bpeData)->model()));
    EXPECT_TRUE(dynamic_cast<const BPETokenizer*>(&modelOf("LlamaTokenizerFast", bpeData)->model()));
    EXPECT_TRUE(dynamic_cast<const BertTokenizer*>(&modelOf("DistilbertTokenizer", bertData)->model()));
    EXPECT_TRUE(dynamic_cast<const BertTokenizer*>(&modelOf("DistilBertTokenizer", bertData)->model()));
    EXPECT_TRUE(dynamic_cast<const BertTokenizer*>(&modelOf("BertTokenizerFast", bertData)->model()));
    const auto xlm = modelOf("XLMRobertaTokenizer", unigramData);
    EXPECT_TRUE(dynamic_cast<const UnigramTokenizer*>(&xlm->model()));
    EXPECT_FALSE(dynamic_cast<const T5Tokenizer*>(&xlm->model()));
    EXPECT_TRUE(dynamic_cast<const T5Tokenizer*>(&modelOf("T5Tokenizer", unigramData)->model()));

    EXPECT_EQ(tokenizerErrorOf([&] { PreTrainedTokenizer(json("{}"), bpeData, true); }),
              "The tokenizer class is not specified in the configuration.");
    EXPECT_EQ(tokenizerErrorOf([&] { PreTrainedTokenizer(json(R"({"tokenizer_class": 3})"), bpeData, false); }),
              "The tokenizer class is not specified in the configuration.");
    EXPECT_EQ(tokenizerErrorOf([&] { modelOf("FancyTokenizerFast", bpeData); }),
              "The tokenizer type 'FancyTokenizer' is not supported.");
    EXPECT_EQ(tokenizerErrorOf([&] { modelOf("gpt2tokenizer", bpeData); }),
              "The tokenizer type 'gpt2tokenizer' is not supported.");

    testing::internal::CaptureStdout();
    PreTrainedTokenizer lenient(json(R"({"tokenizer_class": "FancyTokenizerFast"})"), bpeData, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Tokenizer model class FancyTokenizer is not registered, falling back to a standard BPE "
              "implementation.\n");
    EXPECT_EQ(lenient.encode("a"), (Ids{0}));
}

TEST(PreTrainedTokenizer, StageErrorsStopConstruction) {
    const std::string model = R"("model": {"vocab": {"a": 0}, "merges": []})";
    auto build = [&](const std::string& stages) {
        PreTrainedTokenizer(json(R"({"tokenizer_class": "GPT2Tokenizer"})"), json("{" + stages + ", " + model + "}"),
                            true);
    };
    EXPECT_EQ(tokenizerErrorOf([&] { build(R"("normalizer": {"type": ""})"); }),
              "Tokenizer configuration mismatch: Unsupported Normalizer type: ");
    EXPECT_EQ(tokenizerErrorOf([&] { build(R"("pre_tokenizer": {"type": "Sequence"})"); }),
              "Tokenizer configuration mismatch: No pretokenizers in Sequence");
    EXPECT_EQ(tokenizerErrorOf([&] { build(R"("post_processor": {"type": "BertProcessing"})"); }),
              "Tokenizer configuration mismatch: Missing `sep` processor configuration");
    EXPECT_EQ(
        tokenizerErrorOf([&] { build(R"("decoder": {"type": "Strip", "content": " ", "start": "1", "stop": 0})"); }),
        "Tokenizer configuration mismatch: Incorrect StripDecoder configuration: can't parse `start`.");
    EXPECT_NO_THROW(build(R"("normalizer": {"type": null}, "decoder": {"kind": "x"})"));
}

TEST(LlamaPreTrainedTokenizer, LegacyAndTemplates) {
    const Config config = fixture("byte-fallback", "tokenizer_config.json");
    const Config data = fixture("byte-fallback", "tokenizer.json");
    const LlamaPreTrainedTokenizer legacy(config, data, true);
    EXPECT_TRUE(legacy.isLegacy());
    EXPECT_EQ(legacy.encode("Hello world"), (Ids{1, 268, 276}));  // <s> from add_bos_token
    EXPECT_EQ(legacy.encode("Hello world", false), (Ids{268, 276}));
    EXPECT_EQ(legacy.decode(legacy.encode("Hello world"), true), "Hello world");

    Config::Dictionary edited = *config.dictionary();
    edited.insert_or_assign(BinaryDistinctString("legacy"), Config(false));
    const LlamaPreTrainedTokenizer modern(Config(edited), data, true);
    EXPECT_FALSE(modern.isLegacy());
    EXPECT_EQ(modern.tokenize("Hello world"), (Strings{"▁Hello", "▁world"}));
    EXPECT_EQ(modern.tokenize("<s>Hello"), (Strings{"<s>", "H", "e", "llo"}));
    EXPECT_EQ(modern.encode("Hello"), (Ids{1, 268}));

    const std::string bosMissing = R"({"add_bos_token": true})";
    EXPECT_EQ(tokenizerErrorOf([&] { LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(json(bosMissing), Config()); }),
              "Tokenizer configuration mismatch: add_bos_token is True but bos_token is nil");
    EXPECT_EQ(tokenizerErrorOf([&] {
                  LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(json(R"({"add_eos_token": "true"})"), Config());
              }),
              "Tokenizer configuration mismatch: add_eos_token is True but eos_token is nil");
    const std::optional<Config> plain =
        LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(json("{}"), json(R"({"type": "ByteLevel"})"));
    ASSERT_TRUE(plain);
    EXPECT_EQ((*plain)["single"], json(R"([{"Sequence": {"id": "A", "type_id": 0}}])"));
    EXPECT_EQ((*plain)["pair"],
              json(R"([{"Sequence": {"id": "A", "type_id": 0}}, {"Sequence": {"id": "B", "type_id": 1}}])"));
    const std::optional<Config> both = LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(
        json(R"({"add_bos_token": true, "add_eos_token": true, "bos_token": "<s>", "eos_token": {"content": "</s>"}})"),
        Config());
    ASSERT_TRUE(both);
    ASSERT_TRUE((*both)["pair"].array());
    EXPECT_EQ((*both)["pair"].array()->size(), 6u);
    EXPECT_FALSE(LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(
        json(R"({"add_bos_token": true})"), json(R"({"type": "TemplateProcessing", "single": [], "pair": []})")));
}
