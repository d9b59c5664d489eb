#include "FakeHub/FakeHub.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestNetwork.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace tremolan;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velmora::test::dataPath;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;
namespace fs = std::filesystem;

namespace {

void copyTokenizer(const std::string& vocabulary, const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* name : {"tokenizer.json", "tokenizer_config.json"}) {
        fs::copy_file(dataPath("whisper-tokenizer/" + vocabulary) / name, folder / name,
                      fs::copy_options::overwrite_existing);
    }
}

const WhisperTokenizerWrapper& wrapper(const std::shared_ptr<WhisperTokenizer>& tokenizer) {
    return dynamic_cast<const WhisperTokenizerWrapper&>(*tokenizer);
}

}  // namespace

TEST(ModelUtilities, DetectVariantFromTheTwoWidths) {
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 384), ModelVariant::tiny);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 512), ModelVariant::base);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 768), ModelVariant::small);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 1024), ModelVariant::medium);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 1280), ModelVariant::largev2);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 640), ModelVariant::base);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 400), ModelVariant::base);
    EXPECT_EQ(ModelUtilities::detectVariant(51865, 256), ModelVariant::base);
    EXPECT_EQ(ModelUtilities::detectVariant(51864, 384), ModelVariant::tinyEn);
    EXPECT_EQ(ModelUtilities::detectVariant(51864, 512), ModelVariant::baseEn);
    EXPECT_EQ(ModelUtilities::detectVariant(51864, 768), ModelVariant::smallEn);
    EXPECT_EQ(ModelUtilities::detectVariant(51864, 1024), ModelVariant::mediumEn);
    EXPECT_EQ(ModelUtilities::detectVariant(51864, 1280), ModelVariant::baseEn);
    EXPECT_EQ(ModelUtilities::detectVariant(51866, 384), ModelVariant::largev3);

    velmora::test::LogCapture log;
    EXPECT_EQ(ModelUtilities::detectVariant(50000, 384), ModelVariant::base);
    EXPECT_THAT(log.messages(), ElementsAre("Unrecognized vocabulary size: 50000, defaulting to base variant"));
}

TEST(ModelUtilities, TokenizerRepositoryOfEachVariant) {
    std::vector<std::string> names;
    for (ModelVariant variant : allModelVariants) names.push_back(ModelUtilities::tokenizerNameForVariant(variant));
    EXPECT_THAT(names, ElementsAre("openai/whisper-tiny", "openai/whisper-tiny.en", "openai/whisper-base",
                                   "openai/whisper-base.en", "openai/whisper-small", "openai/whisper-small.en",
                                   "openai/whisper-medium", "openai/whisper-medium.en", "openai/whisper-large",
                                   "openai/whisper-large-v2", "openai/whisper-large-v3"));
}

TEST(ModelUtilities, FormatModelFilesListsSpeechFoldersInSizeOrder) {
    EXPECT_THAT(ModelUtilities::formatModelFiles({"openai_whisper-tiny.en/AudioEncoder.mlmodelc/model.json",
                                                  "openai_whisper-large-v3/TextDecoder.mlmodelc/weights.safetensors",
                                                  "openai_whisper-tiny/MelSpectrogram.mlmodelc/model.json",
                                                  "openai_whisper-tiny/config.json", "config.json"}),
                ElementsAre("openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-large-v3"));
    EXPECT_THAT(ModelUtilities::formatModelFiles({"distil-whisper_distil-large-v3/a", "openai_whisper-small.en/a",
                                                  "openai_whisper-base/a", "openai_whisper-large-v2/a",
                                                  "openai_whisper-medium/a", "README.md"}),
                ElementsAre("openai_whisper-base", "openai_whisper-small.en", "openai_whisper-medium",
                            "distil-whisper_distil-large-v3", "openai_whisper-large-v2"));
    EXPECT_TRUE(ModelUtilities::formatModelFiles({}).empty());
}

TEST(ModelUtilities, ModelSupportFallsBackToTheBuiltInTable) {
    EXPECT_EQ(ModelUtilities::modelSupport("Mac14,7"), Constants::fallbackModelSupportConfig().modelSupport("Mac14,7"));
    ModelSupportConfig own("someone/else", "1", {DeviceSupport{std::nullopt, {"linux"}, ModelSupport{"x", {"x"}, {}}}});
    EXPECT_EQ(ModelUtilities::modelSupport("linux-x86_64", own).defaultModel, "x");
}

class TokenizerLoading : public ::testing::Test {
protected:
    TempDir tokenizers{"tokenizers"};
    TempDir hubRoot{"hubroot"};
    velmora::test::FakeHub hub{hubRoot.path()};
    ScopedEnv endpoint{"HF_ENDPOINT", hub.endpoint().c_str()};

    fs::path cacheFolder() const { return tokenizers.path() / "models/openai/whisper-tiny"; }
};

TEST_F(TokenizerLoading, AFolderHoldingTheTokenizerIsUsedWithoutTheNetwork) {
    copyTokenizer("multilingual", tokenizers.path());
    velmora::test::LogCapture log;
    auto tokenizer = ModelUtilities::loadTokenizer(ModelVariant::tiny, tokenizers.path());
    EXPECT_EQ(wrapper(tokenizer).tokenizerFolder(), tokenizers.path());
    EXPECT_EQ(tokenizer->specialTokens().endToken, 50257);
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_THAT(
        log.messages(),
        ElementsAre("Checking for local tokenizer at " + (cacheFolder() / "tokenizer.json").string() + " - not found",
                    "Checking for local tokenizer at " + (tokenizers.path() / "tokenizer.json").string() + " - found",
                    "Found local tokenizer at " + tokenizers.path().string(),
                    "Loading tokenizer from " + tokenizers.path().string()));
}

TEST_F(TokenizerLoading, TheHubCacheFolderComesFirstThenTheExtraFolders) {
    copyTokenizer("multilingual", tokenizers.path());
    copyTokenizer("english", cacheFolder());
    auto tokenizer = ModelUtilities::loadTokenizer(ModelVariant::tiny, tokenizers.path());
    EXPECT_EQ(wrapper(tokenizer).tokenizerFolder(), cacheFolder());
    EXPECT_EQ(tokenizer->specialTokens().endToken, 50256);

    TempDir extra("extra");
    copyTokenizer("english", extra.path());
    TempDir empty("empty");
    auto fromExtra = ModelUtilities::loadTokenizer(ModelVariant::tiny, empty.path(), {empty.path(), extra.path()});
    EXPECT_EQ(wrapper(fromExtra).tokenizerFolder(), extra.path());
    EXPECT_TRUE(hub.requests().empty());
}

TEST_F(TokenizerLoading, ABrokenLocalTokenizerLeadsToADownload) {
    velmora::test::writeFile(tokenizers.path() / "tokenizer.json", "{ not json");
    copyTokenizer("multilingual", hubRoot.path() / "models/openai/whisper-tiny");
    velmora::test::LogCapture log;
    auto tokenizer = ModelUtilities::loadTokenizer(ModelVariant::tiny, tokenizers.path());
    EXPECT_EQ(wrapper(tokenizer).tokenizerFolder(), cacheFolder());
    EXPECT_EQ(tokenizer->encode(" And so"), (std::vector<int>{400, 370}));
    EXPECT_TRUE(fs::exists(cacheFolder() / "tokenizer.json"));
    EXPECT_FALSE(hub.requests().empty());
    const auto messages = log.messages();
    EXPECT_THAT(messages, ::testing::Contains(HasSubstr("Error loading local tokenizer: ")));
    EXPECT_THAT(messages, ::testing::Contains("Downloading tokenizer from Hub at file://" + cacheFolder().string()));

    // The next call finds the downloaded files in the cache folder.
    hub.clearRequests();
    ModelUtilities::loadTokenizer(ModelVariant::tiny, tokenizers.path());
    EXPECT_TRUE(hub.requests().empty());
}

TEST_F(TokenizerLoading, AFailedDownloadIsTheCallsFailure) {
    EXPECT_ANY_THROW(ModelUtilities::loadTokenizer(ModelVariant::base, tokenizers.path()));
}
