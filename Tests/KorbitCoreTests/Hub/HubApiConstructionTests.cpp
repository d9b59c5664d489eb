#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/TokenFile.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"

#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

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
    /// Whether the token sources give `expected` in a child process that may map only 1 GiB more
    /// than this one: a read without end fails there instead of taking the machine's memory.
    static bool foundWithLittleMemory(const std::string& expected) {
        const pid_t child = ::fork();
        if (child == 0) {
            rlim_t pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t bytes = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
            const rlimit limit{bytes, bytes};
            try {
                ::_exit(::setrlimit(RLIMIT_AS, &limit) == 0 && HubApi::hfTokenFromEnv() == expected ? 0 : 1);
            } catch (...) {
                ::_exit(2);
            }
        }
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

// A token file that is no regular file is never waited on (a named pipe) nor read without end (a
// device like /dev/zero), nor is one larger than a token could be: each is said once, naming it,
// and the next source answers.
TEST_F(TokenTest, ATokenFileThatIsNoFileOrTooLargeIsSaidOnceAndPassedOver) {
    TempDir folder;
    writeFile(testHome() / ".huggingface/token", "next-source");
    const fs::path pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ScopedEnv path("HF_TOKEN_PATH", pipe.c_str());
    const auto notRead = [](const fs::path& file, const std::string& why) {
        return "The hub token file " + file.string() + " " + why + ": it is not read, and no token is taken from it.";
    };
    {
        velmora::test::CapturedLog log;
        EXPECT_TRUE(velmora::test::endsWithin(std::chrono::seconds(5), pipe, [] {
            EXPECT_EQ(HubApi::hfTokenFromEnv(), "next-source");
            EXPECT_EQ(HubApi::hfTokenFromEnv(), "next-source");
        }));
        EXPECT_EQ(log.lines(), std::vector<std::string>{notRead(pipe, "is a named pipe, not a file")});
    }
    writeFile(folder / "large", std::string(korbit::kMaxTokenFileBytes + 1, 'a'));
    ScopedEnv largePath("HF_TOKEN_PATH", (folder / "large").c_str());
    {
        velmora::test::CapturedLog log;
        EXPECT_TRUE(HubApi::hfTokenFromEnv() == "next-source");  // not the 64 KiB in a failure's text
        EXPECT_EQ(log.lines(), std::vector<std::string>{notRead(folder / "large", "is larger than 64 KiB")});
    }
    const fs::path zero = folder / "zero";
    if (::mknod(zero.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0) GTEST_SKIP() << "making a device node needs root";
    ScopedEnv zeroPath("HF_TOKEN_PATH", zero.c_str());
    ASSERT_TRUE(foundWithLittleMemory("next-source"));
    velmora::test::CapturedLog log;
    EXPECT_EQ(HubApi::hfTokenFromEnv(), "next-source");
    EXPECT_EQ(log.lines(), std::vector<std::string>{notRead(zero, "is a character device, not a file")});
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
