// Loading tokenizers from folders: the configuration files, the small hand-made fixtures of each
// model kind, and broken configurations with their exact messages.

#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"
#include "Support/TestEnvironment.hpp"

using namespace korbit;
using namespace tokenizer_test;
using velmora::test::TempDir;
using velmora::test::writeFile;

namespace {

const std::string kMinimalData = R"({"model": {"vocab": {"a": 0, "b": 1}, "merges": ["a b"]}})";

TokenizerWrapper load(const std::string& fixture) {
    return AutoTokenizerWrapper::fromModelFolder(velmora::test::dataPath("tokenizers/" + fixture), true);
}

std::string loadError(const std::filesystem::path& folder, bool strict = true) {
    return velmora::test::messageOf([&] { AutoTokenizerWrapper::fromModelFolder(folder, strict); });
}

}  // namespace

TEST(LanguageModelConfiguration, FolderWithTokenizerJsonOnly) {
    TempDir folder;
    writeFile(folder / "tokenizer.json", kMinimalData);
    LanguageModelConfigurationFromHub source(folder.path());
    EXPECT_FALSE(source.configurations().modelConfig);
    EXPECT_FALSE(source.configurations().tokenizerConfig);
    EXPECT_FALSE(source.tokenizerConfig());
    EXPECT_FALSE(source.modelType());
    EXPECT_EQ(source.configurations().tokenizerData["model"]["vocab"]["b"].integer(), 1);
}

TEST(LanguageModelConfiguration, ClassFromModelType) {
    TempDir folder;
    writeFile(folder / "tokenizer.json", kMinimalData);
    writeFile(folder / "config.json", R"({"model_type": "llama"})");
    writeFile(folder / "tokenizer_config.json", "{}");
    EXPECT_EQ((*LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig())["tokenizer_class"].string(),
              "LlamaTokenizer");
    writeFile(folder / "tokenizer_config.json", R"({"tokenizer_class": null, "x": 1})");
    std::optional<Config> replaced = LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig();
    EXPECT_EQ((*replaced)["tokenizer_class"].string(), "LlamaTokenizer");
    EXPECT_EQ((*replaced)["x"].integer(), 1);
    writeFile(folder / "tokenizer_config.json", R"({"tokenizer_class": "LlamaTokenizerFast"})");
    EXPECT_EQ((*LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig())["tokenizer_class"].string(),
              "LlamaTokenizerFast");
    writeFile(folder / "config.json", R"({"model_type": "gpt2"})");
    writeFile(folder / "tokenizer_config.json", "{}");
    LanguageModelConfigurationFromHub gpt2(folder.path());
    EXPECT_EQ(gpt2.modelType(), "gpt2");
    EXPECT_EQ((*gpt2.tokenizerConfig())["tokenizer_class"].string(), "Gpt2Tokenizer");
    EXPECT_EQ((*gpt2.tokenizerConfig())["tokenizer_class"].string(), "Gpt2Tokenizer");  // a second read, same result
    writeFile(folder / "config.json", R"({"model_type": 7})");
    EXPECT_FALSE((*LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig())["tokenizer_class"].string());
}

TEST(LanguageModelConfiguration, ChatTemplates) {
    TempDir folder;
    writeFile(folder / "tokenizer.json", kMinimalData);
    writeFile(folder / "tokenizer_config.json", R"({"chat_template": "old", "tokenizer_class": "GPT2Tokenizer"})");
    writeFile(folder / "chat_template.jinja", "{{ jinja }}");
    writeFile(folder / "chat_template.json", R"({"chat_template": "from json"})");
    auto templateOf = [&] {
        return (*LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig())["chat_template"].string();
    };
    EXPECT_EQ(templateOf(), "{{ jinja }}");
    writeFile(folder / "chat_template.jinja", "bad \xFF bytes");
    EXPECT_EQ(templateOf(), "old");  // unreadable .jinja: no template, the .json is not consulted
    std::filesystem::remove(folder / "chat_template.jinja");
    EXPECT_EQ(templateOf(), "from json");
    writeFile(folder / "chat_template.json", R"({"chat_template": [{"name": "default", "template": "x"}]})");
    EXPECT_EQ(templateOf(), "old");
    writeFile(folder / "chat_template.json", "not json");
    EXPECT_EQ(templateOf(), "old");

    TempDir bare;
    writeFile(bare / "tokenizer.json", kMinimalData);
    writeFile(bare / "chat_template.jinja", "T");
    writeFile(bare / "config.json", R"({"model_type": "whisper"})");
    std::optional<Config> config = LanguageModelConfigurationFromHub(bare.path()).tokenizerConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->dictionary()->size(), 2u);
    EXPECT_EQ((*config)["chat_template"].string(), "T");
    EXPECT_EQ((*config)["tokenizer_class"].string(), "WhisperTokenizer");
}

TEST(LanguageModelConfiguration, LoadErrors) {
    TempDir folder;
    writeFile(folder / "tokenizer_config.json", R"({"tokenizer_class": "GPT2Tokenizer"})");
    writeFile(folder / "config.json", "{}");
    EXPECT_EQ(loadError(folder.path()), "Required configuration file missing: tokenizer.json");
    writeFile(folder / "tokenizer.json", "{ not json");
    const std::string message = loadError(folder.path());
    EXPECT_TRUE(message.starts_with("JSON Serialization failed for file://")) << message;
    // A local folder's file: no hint about the hub's token, which has nothing to do with it.
    EXPECT_TRUE(message.ends_with("tokenizer.json: the file is not valid JSON.")) << message;
    writeFile(folder / "tokenizer.json", "[1, 2]");
    EXPECT_EQ(loadError(folder.path()), "Failed to parse server response.");
    writeFile(folder / "tokenizer.json", kMinimalData);
    writeFile(folder / "config.json", "{");  // an unreadable optional file fails the load too
    EXPECT_TRUE(loadError(folder.path()).starts_with("JSON Serialization failed"));
    std::filesystem::remove(folder / "config.json");
    std::filesystem::remove(folder / "tokenizer_config.json");
    EXPECT_EQ(loadError(folder.path()), "Tokenizer configuration is missing.");
    // A folder that is not there is named.
    EXPECT_EQ(loadError(folder / "gone"), "Required configuration file missing: tokenizer.json (there is no folder " +
                                              (folder / "gone").string() + ")");
}

TEST(TokenizerFixtures, WordPiece) {
    const TokenizerWrapper t = load("wordpiece");
    EXPECT_EQ(t.tokenize("Héllo, World! unaffable 中文"),
              (Strings{"hello", ",", "world", "!", "un", "##aff", "##able", "中", "文"}));
    const Ids ids = t.encode("Héllo, World! unaffable 中文");
    EXPECT_EQ(ids, (Ids{2, 8, 9, 10, 11, 5, 6, 7, 12, 13, 3}));
    EXPECT_EQ(t.decode(ids), "[CLS] hello, world! unaffable 中 文 [SEP]");
    EXPECT_EQ(t.decode(ids, true), "hello, world! unaffable 中 文");
    EXPECT_EQ(t.encode("unx [MASK]", false), (Ids{1, 4}));
    EXPECT_EQ(t.unknownTokenId(), 1);
    EXPECT_EQ(t.decode(t.encode("i'm fine.", false)), "i'm fine.");
}

TEST(TokenizerFixtures, Unigram) {
    const TokenizerWrapper t = load("unigram");
    EXPECT_EQ(t.tokenize("Hey friend ab"), (Strings{"▁Hey", "▁friend", "▁", "ab"}));
    EXPECT_EQ(t.encode("Hey friend ab"), (Ids{1, 4, 5, 3, 8, 2}));
    EXPECT_EQ(t.encode("Hey xyz"), (Ids{1, 4, 3, 0, 2}));  // x, y and z fuse into one unknown
    EXPECT_EQ(t.decode(Ids{1, 4, 5, 3, 8, 2}), "<s> Hey friend ab</s>");
    EXPECT_EQ(t.decode(t.encode("Hey friend ab"), true), "Hey friend ab");
    EXPECT_EQ(t.eosTokenId(), 2);
    EXPECT_EQ(t.unknownToken(), "<unk>");
}

TEST(TokenizerFixtures, ByteFallbackFromAFolderIsThePlainTokenizer) {
    const TokenizerWrapper t = load("byte-fallback");
    // The folder road does not consult the class table, so there is no "<s>" from add_bos_token.
    EXPECT_EQ(t.encode("Hello world"), (Ids{268, 276}));
    EXPECT_EQ(t.tokenize("Hé!"), (Strings{"▁H", "<0xC3>", "<0xA9>", "<0x21>"}));
    EXPECT_EQ(t.encode("Hé!"), (Ids{264, 198, 172, 36}));
    for (const std::string text : {"Hello world", "Hé!", "你好 world", "a\nb"})
        EXPECT_EQ(t.decode(t.encode(text)), text);
    EXPECT_EQ(t.decode(Ids{264, 198}), "H\xEF\xBF\xBD");  // a character cut in half
    EXPECT_EQ(t.bosToken(), "<s>");
    EXPECT_EQ(t.bosTokenId(), 1);
}

TEST(TokenizerFixtures, RobertaPrefixSpaceAndSpecialTokens) {
    const TokenizerWrapper t = load("roberta");
    EXPECT_EQ(t.tokenize("a,b"), (Strings{"Ġa", ",", "b"}));
    EXPECT_EQ(t.encode("a,b"), (Ids{0, 2, 3, 4, 1}));
    EXPECT_EQ(t.encode("a,b", false), (Ids{2, 3, 4}));
    EXPECT_EQ(t.decode(Ids{2, 3, 4}), " a,b");
    EXPECT_EQ(t.encode("b c", false), (Ids{7, 8}));
}

TEST(TokenizerFolders, BrokenConfigurationsFailWithTheirMessage) {
    struct Case {
        std::string tokenizerJson;
        std::string tokenizerConfig;
        std::string message;
    };
    const std::string gpt2 = R"({"tokenizer_class": "GPT2Tokenizer"})";
    const std::string model = R"("model": {"vocab": {"a": 0}, "merges": []})";
    const std::vector<Case> cases = {
        {"{" + model + R"(, "normalizer": {"type": "Foo"}})", gpt2,
         "Tokenizer configuration mismatch: Unsupported Normalizer type: Foo"},
        {"{" + model + R"(, "normalizer": {"type": "Replace", "pattern": {"Regex": "("}, "content": ""}})", gpt2,
         "Tokenizer configuration mismatch: Cannot build regexp from ("},
        {"{" + model + R"(, "pre_tokenizer": {"type": ""}})", gpt2,
         "Tokenizer configuration mismatch: Unsupported PreTokenizer type: "},
        {"{" + model + R"(, "post_processor": {"type": "TemplateProcessing", "single": []}})", gpt2,
         "Tokenizer configuration mismatch: Missing `pair` processor configuration"},
        {"{" + model + R"(, "decoder": {"type": "WordPiece"}})", gpt2,
         "Tokenizer configuration mismatch: Missing `prefix` configuration for WordPieceDecoder."},
        {R"({"model": {"vocab": {"a": 0}}})", gpt2, "Tokenizer configuration mismatch: BPETokenizer requires merges"},
        {R"({"model": {"merges": []}})", gpt2, "Vocabulary file is missing from the tokenizer configuration."},
        {R"({"model": {"vocab": {}, "merges": ["a"]}})", gpt2, "The vocabulary file is malformed or corrupted."},
        {R"({"model": {"unk_id": 99, "vocab": [["a", 0]]}})", R"({"tokenizer_class": "T5Tokenizer"})",
         "The vocabulary file is malformed or corrupted."},
        {R"({"model": {"vocab": "x"}})", R"({"tokenizer_class": "BertTokenizerFast"})",
         "Vocabulary file is missing from the tokenizer configuration."},
        {"{" + model + "}", R"({"eos_token": "</s>"})", "The tokenizer class is not specified in the configuration."},
        {"{" + model + "}", R"({"tokenizer_class": "MysteryTokenizerFast"})",
         "The tokenizer type 'MysteryTokenizer' is not supported."},
    };
    for (const Case& c : cases) {
        TempDir folder;
        writeFile(folder / "tokenizer.json", c.tokenizerJson);
        writeFile(folder / "tokenizer_config.json", c.tokenizerConfig);
        EXPECT_EQ(loadError(folder.path()), c.message) << c.tokenizerJson;
    }
}
