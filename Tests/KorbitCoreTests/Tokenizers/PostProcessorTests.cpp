#include "KorbitCore/External/Tokenizers/PostProcessor.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

using namespace korbit;
using namespace tokenizer_test;

namespace {

std::unique_ptr<PostProcessor> make(const std::string& config) {
    auto processor = PostProcessorFactory::fromConfig(json(config));
    EXPECT_TRUE(processor) << config;
    return processor;
}

const std::string kTemplate = R"({"type": "TemplateProcessing",
    "single": [{"SpecialToken": {"id": "<s>", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}},
               {"Sequence": {"id": "B", "type_id": 0}}, {"SpecialToken": {"id": "</s>", "type_id": 0}}],
    "pair": [{"Sequence": {"id": "A"}}, {"SpecialToken": {"id": "[SEP]"}}, {"Sequence": {"id": "B"}}, {"Other": {}}]})";

}  // namespace

TEST(PostProcessor, Template) {
    auto processor = make(kTemplate);
    EXPECT_EQ(processor->postProcess({"a", "b"}, std::nullopt, true), (Strings{"<s>", "a", "b", "</s>"}));
    EXPECT_EQ(processor->postProcess({"a", "b"}, std::nullopt, false), (Strings{"a", "b"}));
    EXPECT_EQ(processor->postProcess({"a"}, Strings{}, true), (Strings{"a", "[SEP]"}));
    EXPECT_EQ(processor->postProcess({"a"}, Strings{"c"}, true), (Strings{"a", "[SEP]", "c"}));
    EXPECT_FALSE(processor->passesTokensThrough());
}

TEST(PostProcessor, BertAndByteLevel) {
    auto bert = make(R"({"type": "BertProcessing", "sep": ["[SEP]", 102], "cls": ["[CLS]", 101]})");
    EXPECT_EQ(bert->postProcess({"x"}, std::nullopt, true), (Strings{"[CLS]", "x", "[SEP]"}));
    EXPECT_EQ(bert->postProcess({"x"}, Strings{"y"}, true), (Strings{"[CLS]", "x", "[SEP]", "y", "[SEP]"}));
    EXPECT_EQ(bert->postProcess({"x"}, Strings{}, true), (Strings{"[CLS]", "x", "[SEP]"}));
    EXPECT_EQ(bert->postProcess({"x"}, Strings{"y"}, false), (Strings{"x", "y"}));
    auto byteLevel = make(R"({"type": "ByteLevel", "trim_offsets": false})");
    EXPECT_EQ(byteLevel->postProcess({"x"}, Strings{"y"}, true), (Strings{"x"}));
    EXPECT_TRUE(byteLevel->passesTokensThrough());
}

TEST(PostProcessor, Roberta) {
    auto roberta = make(R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0]})");
    EXPECT_EQ(roberta->postProcess({"a"}, Strings{"b"}, true), (Strings{"<s>", "a", "</s>", "</s>", "b", "</s>"}));
    EXPECT_EQ(roberta->postProcess({"a"}, std::nullopt, true), (Strings{"<s>", "a", "</s>"}));
    // Without special tokens the texts come back as they are.
    EXPECT_EQ(roberta->postProcess({" a "}, Strings{"b"}, false), (Strings{" a ", "b"}));
    // Trimming: runs of whitespace shrink to one character with the prefix space, vanish without.
    EXPECT_EQ(roberta->postProcess({"   x  "}, std::nullopt, true), (Strings{"<s>", " x ", "</s>"}));
    auto noPrefix =
        make(R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0], "add_prefix_space": false})");
    EXPECT_EQ(noPrefix->postProcess({"   x  "}, std::nullopt, true), (Strings{"<s>", "x", "</s>"}));
    EXPECT_EQ(noPrefix->postProcess({"\nx\n"}, std::nullopt, true), (Strings{"<s>", "\nx\n", "</s>"}));
    EXPECT_EQ(roberta->postProcess({"    "}, std::nullopt, true), (Strings{"<s>", " ", "</s>"}));
    // The key is "trim_offset"; the plural spelling of other stages is not read here.
    auto untrimmed =
        make(R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0], "trim_offset": false})");
    EXPECT_EQ(untrimmed->postProcess({"  x"}, std::nullopt, true), (Strings{"<s>", "  x", "</s>"}));
    EXPECT_EQ(RobertaProcessing::findSuffixIndex("ab   "), 2u);
    EXPECT_EQ(RobertaProcessing::findSuffixIndex("ab"), 0u);
}

TEST(PostProcessor, Sequence) {
    auto sequence = make(R"({"type": "Sequence", "processors": [
        {"type": "ByteLevel"}, 7, {"type": "BertProcessing", "sep": ["[SEP]", 1], "cls": ["[CLS]", 0]}]})");
    EXPECT_EQ(sequence->postProcess({"a"}, Strings{"b"}, true), (Strings{"[CLS]", "a", "[SEP]"}));
    auto empty = make(R"({"type": "Sequence", "processors": []})");
    EXPECT_EQ(empty->postProcess({"a"}, Strings{"b"}, true), (Strings{"a"}));
}

TEST(PostProcessor, FactoryErrors) {
    struct Case {
        const char* config;
        const char* message;
    };
    const Case cases[] = {
        {R"({"type": ""})", "Unsupported PostProcessor type: "},
        {R"({"type": "Bert"})", "Unsupported PostProcessor type: Bert"},
        {R"({"type": "TemplateProcessing", "pair": []})", "Missing `single` processor configuration"},
        {R"({"type": "TemplateProcessing", "single": []})", "Missing `pair` processor configuration"},
        {R"({"type": "BertProcessing", "cls": ["[CLS]", 0]})", "Missing `sep` processor configuration"},
        {R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", -1]})",
         "Missing `cls` processor configuration"},
        {R"({"type": "Sequence"})", "Missing `processors` configuration"},
        {R"({"type": "Sequence", "processors": [{"type": "Nope"}]})", "Unsupported PostProcessor type: Nope"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tokenizerErrorOf([&] { PostProcessorFactory::fromConfig(json(c.config)); }),
                  std::string("Tokenizer configuration mismatch: ") + c.message);
    }
    EXPECT_FALSE(PostProcessorFactory::fromConfig(json(R"({"kind": "ByteLevel"})")));
}
