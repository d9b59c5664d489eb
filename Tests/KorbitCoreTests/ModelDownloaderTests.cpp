#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelDownloader.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Support/LogCapture.hpp"

#include <gmock/gmock.h>

using korbit::ModelDownloadConfig;
using korbit::ModelDownloader;
using korbit::ModelDownloaderError;
using korbit::ModelInfo;
using korbit::ModelState;
using platform::ml::MLComputeUnits;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using velmora::test::FakeHub;
using velmora::test::HubTest;
using velmora::test::messageOf;
using velmora::test::TempDir;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

TEST(ModelInfoTest, PatternFolderAndDescriptions) {
    const fs::path base = "/data/repo";
    ModelInfo bare{std::nullopt, std::nullopt, "m", MLComputeUnits::all};
    EXPECT_EQ(bare.downloadPattern(), "m/*/*/*");
    EXPECT_EQ(bare.modelURL(base), base / "m");
    EXPECT_EQ(bare.description(), "m");
    EXPECT_EQ(bare.debugDescription(), "ModelInfo(name: m, version: nil, variant: nil, computeUnit: all)");

    // Absent parts are wildcards in the pattern but skipped in the folder.
    ModelInfo variantOnly{std::nullopt, "v", "m", MLComputeUnits::cpuOnly};
    EXPECT_EQ(variantOnly.downloadPattern(), "m/*/v/*");
    EXPECT_EQ(variantOnly.modelURL(base), base / "m/v");
    EXPECT_EQ(variantOnly.description(), "m/v");
    EXPECT_EQ(variantOnly.debugDescription(), "ModelInfo(name: m, version: nil, variant: v, computeUnit: cpuOnly)");

    ModelInfo full{"1", "v", "m", static_cast<MLComputeUnits>(9)};
    EXPECT_EQ(full.downloadPattern(), "m/1/v/*");
    EXPECT_EQ(full.modelURL(base), base / "m/1/v");
    EXPECT_EQ(full.description(), "m/1/v");
    EXPECT_EQ(full.debugDescription(), "ModelInfo(name: m, version: 1, variant: v, computeUnit: unknown)");
}

TEST(ModelInfoTest, FindBaseFolderTakesTheNearestComponentOfTheName) {
    ModelInfo info{std::nullopt, std::nullopt, "m", MLComputeUnits::all};
    EXPECT_EQ(info.findBaseFolder("/data/repo/m/large/file"), fs::path("/data/repo"));
    EXPECT_EQ(info.findBaseFolder("/data/repo/m/"), fs::path("/data/repo"));
    EXPECT_EQ(info.findBaseFolder("/a/m/b/m/c"), fs::path("/a/m/b"));
    EXPECT_EQ(info.findBaseFolder("/m"), fs::path("/"));
    EXPECT_EQ(info.findBaseFolder("/data/repo/M/file"), std::nullopt);  // case matters
    EXPECT_EQ(info.findBaseFolder("/data/repo/mm/file"), std::nullopt);
    EXPECT_EQ(info.findBaseFolder("m"), std::nullopt);  // a single component is never a match
}

/// A fake hub with one model repository, a downloader on it, and the shared logger's lines.
class ModelDownloaderTest : public HubTest {
protected:
    const ModelInfo turbo{"v3", "turbo", "whisper", MLComputeUnits::cpuAndNeuralEngine};

    void SetUp() override {
        for (const char* file :
             {"whisper/v3/turbo/AudioEncoder.mlmodelc/weights.bin", "whisper/v3/turbo/TextDecoder.mlmodelc/weights.bin",
              "whisper/v3/small/AudioEncoder.mlmodelc/weights.bin"}) {
            addFile("owner/models", file, std::string("weights of ") + file);
        }
        addFile("owner/models", "config.json", "{}");
    }

    ModelDownloadConfig config(std::string endpoint = {}) const {
        return {cache.path().string(),
                "owner/models",
                std::string(),
                std::nullopt,
                false,
                endpoint.empty() ? hub.endpoint() : endpoint,
                "main"};
    }

    std::vector<std::string> logs() const { return log.messages(); }
    void clearLogs() { log.clear(); }

    /// A hub address where nothing answers any more.
    static std::string unreachableEndpoint() {
        TempDir empty("gone");
        FakeHub gone(empty.path());
        return gone.endpoint();
    }

    fs::path cachedModel(const std::string& name) const {
        return repoFolder("owner/models") / "whisper/v3/turbo" / (name + ".mlmodelc");
    }

    velmora::test::LogCapture log;
    /// The states a resolve call reports through `record`.
    std::vector<ModelState> states;
    std::function<void(ModelState)> record = [this](ModelState state) { states.push_back(state); };
};

TEST_F(ModelDownloaderTest, ALocalModelFolderAnswersWithoutTheHub) {
    TempDir local("local-models");
    writeFile(local.path() / "whisper/v3/turbo/AudioEncoder.mlmodelc/weights.bin", "local");
    ModelDownloader downloader(config(unreachableEndpoint()));

    EXPECT_EQ(downloader.resolveModel("AudioEncoder", turbo, local.path(), std::nullopt, false, record),
              local.path() / "whisper/v3/turbo/AudioEncoder.mlmodelc");
    EXPECT_THAT(logs(), ElementsAre("[ModelDownloader] Found AudioEncoder in model folder"));
    EXPECT_THAT(states, IsEmpty());
    EXPECT_EQ(downloader.resolveModelPath("AudioEncoder", turbo, local.path(), std::nullopt, false, record),
              (local.path() / "whisper/v3/turbo/AudioEncoder.mlmodelc").string());

    // The configured folder serves when the call names none.
    ModelDownloadConfig withFolder = config(unreachableEndpoint());
    withFolder.modelFolder = local.path().string();
    EXPECT_EQ(
        ModelDownloader(withFolder).resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, false, record),
        local.path() / "whisper/v3/turbo/AudioEncoder.mlmodelc");
    EXPECT_THAT(states, IsEmpty());
}

TEST_F(ModelDownloaderTest, DownloadsOnceThenFindsTheModelInTheCacheWithoutAnyRequest) {
    ModelDownloader downloader(config());

    EXPECT_EQ(downloader.resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, true, record),
              cachedModel("AudioEncoder"));
    EXPECT_THAT(states, ElementsAre(ModelState::downloading, ModelState::downloaded));
    EXPECT_TRUE(fs::exists(cachedModel("TextDecoder") / "weights.bin"));
    EXPECT_FALSE(fs::exists(repoFolder("owner/models") / "whisper/v3/small"));  // outside the pattern
    EXPECT_FALSE(fs::exists(repoFolder("owner/models") / "config.json"));
    EXPECT_THAT(logs(), ElementsAre("[ModelDownloader] Searching for models matching \"whisper/v3/turbo/*\" in "
                                    "Repo(id: \"owner/models\", type: models)",
                                    "[ModelDownloader] Downloading model whisper/v3/turbo/* with offline mode: false",
                                    "[ModelDownloader] Downloaded AudioEncoder"));

    hub.clearRequests();
    clearLogs();
    states.clear();
    EXPECT_EQ(downloader.resolveModel("TextDecoder", turbo, std::nullopt, std::nullopt, true, record),
              cachedModel("TextDecoder"));
    EXPECT_THAT(states, ElementsAre(ModelState::downloaded));
    EXPECT_THAT(hub.requests(), IsEmpty());
    EXPECT_THAT(logs(), Contains("[ModelDownloader] Downloading model whisper/v3/turbo/* with offline mode: true"));
    EXPECT_THAT(logs(), Contains("[ModelDownloader] Found existing TextDecoder in cache"));
}

TEST_F(ModelDownloaderTest, ACachedModelIsFoundWhileTheHubIsUnreachable) {
    ModelDownloader(config()).resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, true, {});
    ModelDownloader offline(config(unreachableEndpoint()));
    for (bool download : {false, true}) {
        states.clear();
        EXPECT_EQ(offline.resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, download, record),
                  cachedModel("AudioEncoder"));
        EXPECT_THAT(states, ElementsAre(ModelState::downloaded));
    }
    // Cached files that fail verification are not the cache's answer.
    fs::remove(metadataFile("owner/models", "whisper/v3/turbo/TextDecoder.mlmodelc/weights.bin"));
    states.clear();
    EXPECT_EQ(messageOf<ModelDownloaderError>(
                  [&] { offline.resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, false, record); }),
              "No model found for AudioEncoder (download disabled)");
    EXPECT_THAT(states, IsEmpty());
    // Online, such a cache is repaired by the download.
    EXPECT_EQ(ModelDownloader(config()).resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, true, record),
              cachedModel("AudioEncoder"));
    EXPECT_THAT(states, ElementsAre(ModelState::downloading, ModelState::downloaded));
    EXPECT_TRUE(fs::exists(metadataFile("owner/models", "whisper/v3/turbo/TextDecoder.mlmodelc/weights.bin")));
}

TEST_F(ModelDownloaderTest, OfflineDownloadAnswersFromTheCacheAlone) {
    ModelDownloader downloader(config(unreachableEndpoint()));
    EXPECT_EQ(messageOf<ModelDownloaderError>([&] { downloader.downloadModel(turbo, std::nullopt, true); }),
              "No models found matching \"whisper/v3/turbo/*\" in owner/models");
    // Files of another variant do not answer for this one.
    ModelInfo small{"v3", "small", "whisper", MLComputeUnits::all};
    ModelDownloader(config()).downloadModel(small, std::nullopt, std::nullopt);
    EXPECT_EQ(messageOf<ModelDownloaderError>([&] { downloader.downloadModel(turbo, std::nullopt, true); }),
              "No models found matching \"whisper/v3/turbo/*\" in owner/models");
    EXPECT_EQ(downloader.downloadModel(small, std::nullopt, true), repoFolder("owner/models"));
    // An explicit download base wins over the configured one.
    TempDir other("other-base");
    EXPECT_THROW(downloader.downloadModel(small, other.path(), true), ModelDownloaderError);
}

TEST_F(ModelDownloaderTest, NothingFoundAnywhere) {
    ModelDownloader downloader(config());
    EXPECT_EQ(messageOf<ModelDownloaderError>(
                  [&] { downloader.resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, false, record); }),
              "No model found for AudioEncoder (download disabled)");
    EXPECT_THAT(hub.requests(), IsEmpty());
    EXPECT_THAT(states, IsEmpty());

    // The pattern takes any version folder while the model is looked for in whisper/turbo only.
    ModelInfo noVersion{std::nullopt, "turbo", "whisper", MLComputeUnits::all};
    EXPECT_EQ(messageOf<ModelDownloaderError>([&] {
                  downloader.resolveModel("AudioEncoder", noVersion, std::nullopt, std::nullopt, true, record);
              }),
              "No model found for AudioEncoder");
    EXPECT_THAT(states, ElementsAre(ModelState::downloading));
    EXPECT_TRUE(fs::exists(cachedModel("AudioEncoder") / "weights.bin"));

    // Hub errors of the download reach the caller as they are.
    states.clear();
    ModelDownloadConfig missing = config();
    missing.modelRepo = "owner/missing";
    EXPECT_THROW(ModelDownloader(missing).resolveModel("AudioEncoder", turbo, std::nullopt, std::nullopt, true, record),
                 korbit::Hub::HubClientError);
    EXPECT_THAT(states, ElementsAre(ModelState::downloading));
}

TEST_F(ModelDownloaderTest, ResolveRepoTakesPresentFoldersAsTheyAre) {
    ModelDownloader downloader(config());
    const fs::path folder = repoFolder("owner/models");
    EXPECT_EQ(downloader.localRepoLocation(std::nullopt), folder);

    EXPECT_EQ(downloader.resolveRepo({}, std::nullopt, false, {}), folder);
    EXPECT_THAT(logs(), ElementsAre("[ModelDownloader] All models found in local cache at " + folder.string()));

    const std::string refused = "No local models found for repo 'owner/models' and download is disabled.";
    const std::vector<std::string> patterns{"whisper/v3/turbo/*", "config.json"};
    EXPECT_EQ(messageOf<ModelDownloaderError>([&] { downloader.resolveRepo(patterns, std::nullopt, false, {}); }),
              refused);

    clearLogs();
    int reports = 0;
    double lastFraction = 0;
    EXPECT_EQ(downloader.resolveRepo(patterns, std::nullopt, true,
                                     [&](platform::sys::Progress& progress) {
                                         ++reports;
                                         lastFraction = progress.fractionCompleted();
                                     }),
              folder);
    EXPECT_GT(reports, 0);
    EXPECT_DOUBLE_EQ(lastFraction, 1.0);
    EXPECT_TRUE(fs::exists(folder / "config.json"));
    EXPECT_THAT(logs(), ElementsAre("[ModelDownloader] Downloading 2 model(s) from owner/models...",
                                    "[ModelDownloader] Download complete: " + folder.string()));

    // A pattern counts as present when its folder before the first wildcard piece holds anything:
    // "config.json" is that path itself, a file, so only folder patterns pass.
    hub.clearRequests();
    EXPECT_EQ(downloader.resolveRepo({"whisper/v3/turbo/*", "whisper/*/small/*"}, std::nullopt, false, {}), folder);
    EXPECT_THAT(hub.requests(), IsEmpty());
    EXPECT_THROW(downloader.resolveRepo({"whisper/v3/turbo/*", "config.json"}, std::nullopt, false, {}),
                 ModelDownloaderError);
    // Leading wildcards never count, "?" is an ordinary character, empty folders do not count.
    fs::create_directories(folder / "empty/inner");
    fs::create_directories(folder / "hollow");
    for (const char* pattern : {"*", "*.json", "whisper/v?/*", "hollow/*", "//hollow/*/x"}) {
        EXPECT_EQ(messageOf<ModelDownloaderError>([&] { downloader.resolveRepo({pattern}, std::nullopt, false, {}); }),
                  refused)
            << pattern;
    }
    EXPECT_EQ(downloader.resolveRepo({"//empty//*"}, std::nullopt, false, {}), folder);
    EXPECT_THAT(hub.requests(), IsEmpty());
}

TEST_F(ModelDownloaderTest, ListingBasesAndConstruction) {
    ModelDownloader downloader(config());
    EXPECT_EQ(downloader.fetchFilenames({"whisper/*/turbo/*"}, std::nullopt),
              (std::vector<std::string>{"whisper/v3/turbo/AudioEncoder.mlmodelc/weights.bin",
                                        "whisper/v3/turbo/TextDecoder.mlmodelc/weights.bin"}));
    TempDir other("other-base");
    EXPECT_EQ(downloader.localRepoLocation(other.path()), other.path() / "models/owner/models");

    // Without a configured base, the hub client's default base.
    ModelDownloader plain(hub.endpoint(), "owner/models", std::string(), "main", false);
    EXPECT_EQ(plain.localRepoLocation(std::nullopt),
              korbit::HubApi(std::nullopt, std::string(), hub.endpoint()).downloadBase / "models/owner/models");
    EXPECT_THAT(plain.fetchFilenames({"*.json"}, std::nullopt), ElementsAre("config.json"));
}

}  // namespace
