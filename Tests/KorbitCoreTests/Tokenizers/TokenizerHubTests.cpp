// Tokenizers fetched from the (loopback) hub: the same files from the hub and from a folder give
// the same tokenizer, only the tokenizer files are fetched, and failures keep their meaning.

#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/LlamaPreTrainedTokenizer.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

using namespace korbit;
using namespace tokenizer_test;
using velmora::test::hubErrorOf;
using velmora::test::HubTest;
using velmora::test::readFile;
namespace fs = std::filesystem;

namespace {

class TokenizerHubTest : public HubTest {
protected:
    /// A client of the fake hub that does not ask the network monitor.
    HubApiWrapper client() const {
        HubApiWrapper wrapper(cache.path(), std::string(), hub.endpoint(), false, fastTiming());
        wrapper.impl.useOfflineMode = false;
        return wrapper;
    }

    void publish(const std::string& repoId, const fs::path& folder) {
        for (const auto& entry : fs::directory_iterator(folder))
            addFile(repoId, entry.path().filename().string(), readFile(entry.path()));
    }
};

}  // namespace

TEST_F(TokenizerHubTest, HubAndFolderGiveTheSameTokenizer) {
    const fs::path folder = velmora::test::dataPath("whisper-tokenizer/multilingual");
    publish("openai/whisper-tiny", folder);
    addFile("openai/whisper-tiny", "model.safetensors", "weights");
    addFile("openai/whisper-tiny", "sub/tokenizer.json", "{}");

    const TokenizerWrapper fetched = AutoTokenizerWrapper::fromPretrained("openai/whisper-tiny", client(), true);
    const TokenizerWrapper local = AutoTokenizerWrapper::fromModelFolder(folder, client(), true);
    for (const std::string text :
         {"Hello world, this is a test.", "Привет, мир!", "你好，世界。", "<|en|> mixed <|0.00|>"}) {
        const Ids ids = local.encode(text);
        EXPECT_EQ(fetched.encode(text), ids) << text;
        EXPECT_EQ(fetched.decode(ids), local.decode(ids));
    }
    EXPECT_EQ(fetched.convertTokenToId("<|30.00|>"), 51864);

    // Only the tokenizer files at the top of the repository were fetched.
    const fs::path cached = repoFolder("openai/whisper-tiny");
    EXPECT_TRUE(fs::exists(cached / "tokenizer.json"));
    EXPECT_TRUE(fs::exists(cached / "tokenizer_config.json"));
    EXPECT_FALSE(fs::exists(cached / "model.safetensors"));
    EXPECT_FALSE(fs::exists(cached / "sub"));
}

TEST_F(TokenizerHubTest, ClassTableAppliesOnlyToTheHubRoad) {
    const fs::path folder = velmora::test::dataPath("tokenizers/byte-fallback");
    publish("owner/llama-like", folder);
    const TokenizerWrapper fetched = AutoTokenizerWrapper::fromPretrained("owner/llama-like", client(), true);
    EXPECT_TRUE(dynamic_cast<const LlamaPreTrainedTokenizer*>(&fetched.impl()));
    EXPECT_EQ(fetched.encode("Hello world"), (Ids{1, 268, 276}));  // "<s>" from add_bos_token
    const TokenizerWrapper local = AutoTokenizerWrapper::fromModelFolder(folder, client(), true);
    EXPECT_FALSE(dynamic_cast<const LlamaPreTrainedTokenizer*>(&local.impl()));
    EXPECT_EQ(local.encode("Hello world"), (Ids{268, 276}));
}

TEST_F(TokenizerHubTest, ConfigurationFromTheHub) {
    addFile("owner/model", "tokenizer.json", R"({"model": {"vocab": {"a": 0}, "merges": []}})");
    addFile("owner/model", "config.json", R"({"model_type": "gpt2"})");
    addFile("owner/model", "tokenizer_config.json", "{}");
    addFile("owner/model", "chat_template.json", R"({"chat_template": "{{ messages }}"})");
    LanguageModelConfigurationFromHub source("owner/model", "main", client());
    std::optional<Config> config = source.tokenizerConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ((*config)["tokenizer_class"].string(), "Gpt2Tokenizer");
    EXPECT_EQ((*config)["chat_template"].string(), "{{ messages }}");
    EXPECT_EQ(source.modelType(), "gpt2");
    // A class outside the table: strict refuses it, lenient falls back to the byte-pair model.
    EXPECT_EQ(tokenizerErrorOf([&] { AutoTokenizerWrapper::fromPretrained("owner/model", client(), true); }),
              "The tokenizer type 'Gpt2Tokenizer' is not supported.");
    testing::internal::CaptureStdout();
    const TokenizerWrapper lenient = AutoTokenizerWrapper::fromPretrained("owner/model", client(), false);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Gpt2Tokenizer is not registered"), std::string::npos);
    EXPECT_EQ(lenient.encode("aa"), (Ids{0, 0}));
}

TEST_F(TokenizerHubTest, FailuresReachTheCaller) {
    addFile("owner/no-tokenizer", "config.json", "{}");
    addFile("owner/no-tokenizer", "tokenizer_config.json", R"({"tokenizer_class": "GPT2Tokenizer"})");
    const auto missing =
        hubErrorOf([&] { AutoTokenizerWrapper::fromPretrained("owner/no-tokenizer", client(), true); });
    EXPECT_EQ(missing.kind(), Hub::HubClientError::Kind::configurationMissing);
    EXPECT_STREQ(missing.what(), "Required configuration file missing: tokenizer.json");

    addFile("owner/bad-json", "tokenizer.json", "{ nope");
    EXPECT_EQ(hubErrorOf([&] { AutoTokenizerWrapper::fromPretrained("owner/bad-json", client(), true); }).kind(),
              Hub::HubClientError::Kind::jsonSerialization);

    addFile("owner/no-config", "tokenizer.json", R"({"model": {"vocab": {}, "merges": []}})");
    EXPECT_EQ(tokenizerErrorOf([&] { AutoTokenizerWrapper::fromPretrained("owner/no-config", client(), true); }),
              "Tokenizer configuration is missing.");

    // An unknown repository: the hub's own answer passes unchanged.
    EXPECT_THROW(AutoTokenizerWrapper::fromPretrained("owner/missing", client(), true), Hub::HubClientError);

    // No server at all: the listing's own download error passes unchanged.
    HubApiWrapper unreachable(cache.path(), std::string(), "http://127.0.0.1:1", false, fastTiming());
    unreachable.impl.useOfflineMode = false;
    const auto unanswered = hubErrorOf([&] { AutoTokenizerWrapper::fromPretrained("owner/model", unreachable, true); });
    EXPECT_EQ(unanswered.kind(), Hub::HubClientError::Kind::downloadError) << unanswered.what();
}

TEST_F(TokenizerHubTest, ATransportFailureOfTheProbeIsANetworkError) {
    addFile("owner/slow", "tokenizer.json", R"({"model": {"vocab": {}, "merges": []}})");
    HubApiWrapper impatient = client();
    // Long enough for the listing on a busy machine; the probe's stall outlasts it ten times.
    impatient.impl.timing.requestTimeout = std::chrono::seconds(1);
    hub.stallBeforeHead("/owner/slow/resolve/main/tokenizer.json", std::chrono::seconds(10));
    const auto error =
        hubErrorOf([&] { LanguageModelConfigurationFromHub("owner/slow", "main", impatient).configurations(); });
    EXPECT_EQ(error.kind(), Hub::HubClientError::Kind::networkError) << error.what();
    EXPECT_TRUE(std::string(error.what()).starts_with("Network error: ")) << error.what();
}
