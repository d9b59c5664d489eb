#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"

#include <nlohmann/json.hpp>

using korbit::HubApi;
using korbit::HubApiWrapper;
using korbit::Repo;
using korbit::RepoType;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;
using velmora::test::testHome;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

// Every token source cleared; the home folder's token files removed.
class TokenTest : public ::testing::Test {
protected:
    ScopedEnv hfToken{"HF_TOKEN", nullptr};
    ScopedEnv hubToken{"HUGGING_FACE_HUB_TOKEN", nullptr};
    ScopedEnv tokenPath{"HF_TOKEN_PATH", nullptr};
    ScopedEnv hfHome{"HF_HOME", nullptr};
    ScopedEnv monitor{"CI_DISABLE_NETWORK_MONITOR", nullptr};

    void SetUp() override { clearHomeTokens(); }
    void TearDown() override { clearHomeTokens(); }
    static void clearHomeTokens() {
        fs::remove(testHome() / ".cache/huggingface/token");
        fs::remove(testHome() / ".huggingface/token");
    }
    static std::string printedBy(const std::function<void()>& action) {
        ::testing::internal::CaptureStdout();
        action();
        return ::testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(TokenTest, SourcesAreTriedInOrderAndEmptyValuesSkipped) {
    TempDir folder;
    writeFile(folder / "token-file", "from-path");
    writeFile(folder / "hf-home/token", "from-hf-home");
    writeFile(testHome() / ".cache/huggingface/token", "from-cache");
    writeFile(testHome() / ".huggingface/token", "from-dot-folder");
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "from-cache");
    ScopedEnv home("HF_HOME", (folder / "hf-home").c_str());
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "from-hf-home");
    ScopedEnv path("HF_TOKEN_PATH", (folder / "token-file").c_str());
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "from-path");
    ScopedEnv second("HUGGING_FACE_HUB_TOKEN", "from-second-variable");
    ScopedEnv first("HF_TOKEN", "");
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "from-second-variable");
    ScopedEnv firstSet("HF_TOKEN", " spaced ");
    EXPECT_EQ(HubApi::hfTokenFromEnv(), " spaced ");  // variables are used as they are
}

TEST_F(TokenTest, MissingOrUnreadableSourcesAreSkipped) {
    TempDir folder;
    ScopedEnv path("HF_TOKEN_PATH", (folder / "missing").c_str());
    writeFile(folder / "hf-home/token", "\xff\xfe not utf-8");
    ScopedEnv home("HF_HOME", (folder / "hf-home").c_str());
    EXPECT_FALSE(HubApi::hfTokenFromEnv());
    writeFile(testHome() / ".huggingface/token", "last-resort");
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "last-resort");
    writeFile(folder / "tilde-token", "x");
    ScopedEnv homeVariable("HOME", folder.path().c_str());
    ScopedEnv tilde("HF_TOKEN_PATH", "~/tilde-token");
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "x");
}

TEST_F(TokenTest, TokenFilesLoseTheirTrailingLineBreakAndBrokenTokensAreNeverSent) {
    TempDir folder;
    writeFile(folder / "token", "hf_abc\r\n");
    ScopedEnv path("HF_TOKEN_PATH", (folder / "token").c_str());
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "hf_abc");
    writeFile(folder / "token", "\n\n");
    EXPECT_FALSE(HubApi::hfTokenFromEnv());

    velmora::test::CapturedLog log;
    HubApi injected(folder.path(), std::string("abc\r\nX-Other: 1"), std::string("http://127.0.0.1:9"));
    EXPECT_FALSE(injected.hfToken);
    ASSERT_EQ(log.lines().size(), 1u);
    ScopedEnv variable("HF_TOKEN", "line\nbreak");
    EXPECT_FALSE(HubApi(folder.path()).hfToken);
}

TEST_F(TokenTest, ConstructionPrintsTheTokenLineOnlyWhenTheMonitorIsDisabledWithExactlyOne) {
    TempDir folder;
    ScopedEnv one("CI_DISABLE_NETWORK_MONITOR", "1");
    EXPECT_EQ(printedBy([&] { HubApi(folder.path(), std::string("t")); }), "✅ got token\n");
    EXPECT_EQ(printedBy([&] { HubApi(folder.path(), std::string()); }), "✅ got token\n");
    EXPECT_EQ(printedBy([&] { HubApi(folder.path()); }), "🔴 NO TOKEN **\n");
    for (const char* other : {"true", "01", " 1", ""}) {
        ScopedEnv value("CI_DISABLE_NETWORK_MONITOR", other);
        EXPECT_EQ(printedBy([&] { HubApi(folder.path()); }), "") << other;
    }
}

TEST_F(TokenTest, EndpointAndDownloadBaseFollowTheConstructionRules) {
    {
        ScopedEnv endpoint("HF_ENDPOINT", "http://mirror.example");
        EXPECT_EQ(HubApi().endpoint, "http://mirror.example");
        EXPECT_EQ(HubApi(std::nullopt, std::nullopt, std::string()).endpoint, "");
        ScopedEnv empty("HF_ENDPOINT", "");
        EXPECT_EQ(HubApi::hfEndpointfromEnv(), "");
    }
    EXPECT_EQ(HubApi().endpoint, "https://huggingface.co");
    HubApi defaults;
    EXPECT_EQ(defaults.downloadBase, testHome() / "Documents" / "huggingface");
    EXPECT_FALSE(fs::exists(defaults.downloadBase));  // not created
}

TEST(HubApiWrapper, LocalFolderRuleAndForwarding) {
    HubApiWrapper front("/x", std::string(), std::string("http://127.0.0.1:9"));
    EXPECT_EQ(front.localRepoLocation(Repo("openai/whisper-tiny")), fs::path("/x/models/openai/whisper-tiny"));
    EXPECT_EQ(front.localRepoLocation(Repo("user/data", RepoType::datasets)), fs::path("/x/datasets/user/data"));
    HubApiWrapper shared = HubApiWrapper::shared();
    EXPECT_EQ(shared.impl.downloadBase, HubApiWrapper::shared().impl.downloadBase);
    EXPECT_EQ(shared.impl.downloadBase, velmora::test::testHome() / "Documents" / "huggingface");
}

TEST(RepoType, RawValuesAndJsonFormsMatchExactly) {
    EXPECT_EQ(korbit::repoTypeFromRawValue("datasets"), RepoType::datasets);
    EXPECT_FALSE(korbit::repoTypeFromRawValue("Models"));
    EXPECT_FALSE(korbit::repoTypeFromRawValue(" models"));
    EXPECT_EQ(nlohmann::json(Repo("a/b", RepoType::spaces)).dump(), R"({"id":"a/b","type":"spaces"})");
    EXPECT_EQ(nlohmann::json::parse(R"({"type":"datasets","id":"x/y"})").get<Repo>(), Repo("x/y", RepoType::datasets));
    EXPECT_THROW(nlohmann::json::parse(R"({"id":"x/y","type":"model"})").get<Repo>(), std::invalid_argument);
    EXPECT_THROW(nlohmann::json::parse(R"({"id":"x/y"})").get<Repo>(), nlohmann::json::exception);
    EXPECT_NE(Repo("a/b"), Repo("a/b", RepoType::datasets));
    EXPECT_EQ(Repo::Hash{}(Repo("a/b")), Repo::Hash{}(Repo("a/b")));
}
