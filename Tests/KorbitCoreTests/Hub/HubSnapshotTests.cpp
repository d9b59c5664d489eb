#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "KorbitCore/External/Hub/NetworkMonitor.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Platform/Net/TransportError.hpp"

#include <future>

using namespace std::chrono_literals;
using korbit::EnvironmentError;
using korbit::HubApi;
using korbit::Repo;
using korbit::Hub::HubClientError;
using platform::sys::Progress;
using velmora::test::CapturedLog;
using velmora::test::FakeHub;
using velmora::test::HubTest;
using velmora::test::messageOf;
using velmora::test::patternedBytes;
using velmora::test::readFile;
using velmora::test::ScopedEnv;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

class SnapshotTest : public HubTest {
protected:
    const Repo repo{"owner/name"};
    std::string large = patternedBytes(2 * (1 << 20) + 3 * kChunk + 11);
    HubApi client = makeHub();

    void SetUp() override {
        addFile("owner/name", "config.json", "{\"model_type\": \"whisper\"}");
        addFile("owner/name", "tokenizer/tokenizer.json", "{\"model\": {}}");
        addFile("owner/name", "weights.bin", large);
        addFile("owner/name", "README.md", "# readme");
    }
};

}  // namespace

TEST_F(SnapshotTest, FetchesTheMatchingFilesAndReportsProgressPerFile) {
    int calls = 0;
    std::vector<double> fractions;
    std::optional<double> throughput;
    fs::path folder = client.snapshot(repo, "main", {"*.json", "*.bin"}, [&](Progress& progress) {
        ++calls;
        EXPECT_EQ(progress.totalUnitCount(), 3);
        fractions.push_back(progress.fractionCompleted());
        throughput = progress.userInfo(Progress::kThroughputKey);
    });
    EXPECT_EQ(folder, cache.path() / "models/owner/name");
    EXPECT_EQ(readFile(folder / "config.json"), "{\"model_type\": \"whisper\"}");
    EXPECT_EQ(readFile(folder / "tokenizer/tokenizer.json"), "{\"model\": {}}");
    EXPECT_EQ(readFile(folder / "weights.bin"), large);
    EXPECT_FALSE(fs::exists(folder / "README.md"));
    // One report per transfer state (a start each, plus a chunk count for the large file), one at the end.
    std::size_t chunks = large.size() / kChunk;
    EXPECT_EQ(calls, static_cast<int>(3 + chunks + 1));
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_TRUE(throughput);
    for (const auto* name : {"config.json", "tokenizer/tokenizer.json", "weights.bin"}) {
        auto metadata = client.readDownloadMetadata(metadataFile("owner/name", name));
        ASSERT_TRUE(metadata) << name;
        EXPECT_EQ(metadata->commitHash, FakeHub::kCommit);
    }
    EXPECT_EQ(client.readDownloadMetadata(metadataFile("owner/name", "weights.bin"))->etag,
              FakeHub::sha256Of(root / "models/owner/name/weights.bin"));
}

TEST_F(SnapshotTest, ASecondSnapshotReValidatesWithoutFetching) {
    client.snapshot(repo, "main", {});
    auto before = client.readDownloadMetadata(metadataFile("owner/name", "weights.bin"));
    hub.clearRequests();
    client.snapshot(repo, "main", {});
    EXPECT_TRUE(fileGets().empty());
    EXPECT_EQ(hub.requests("/resolve/").size(), 4u);  // one probe per file, every time
    // A new version of one file: only that file is fetched, and its metadata is rewritten.
    std::string changed = patternedBytes(large.size(), 9);
    addFile("owner/name", "weights.bin", changed);
    hub.setCommit("fedcba9876543210fedcba9876543210fedcba98");
    hub.clearRequests();
    client.snapshot(repo, "main", {});
    EXPECT_EQ(readFile(cache.path() / "models/owner/name/weights.bin"), changed);
    auto after = client.readDownloadMetadata(metadataFile("owner/name", "weights.bin"));
    EXPECT_EQ(after->commitHash, "fedcba9876543210fedcba9876543210fedcba98");
    EXPECT_NE(after->etag, before->etag);
    ASSERT_EQ(fileGets().size(), 2u);  // the 302 and the content host
    EXPECT_EQ(fileGets()[1].target, "/cdn/" + after->etag);
}

TEST_F(SnapshotTest, AnEmptyFolderWhereADigestTaggedFileBelongsIsReplacedByTheFile) {
    // weights.bin is large: its entity tag is its SHA-256. A folder has no content to compare with
    // it, so the file is fetched in its place, as for any other tag. (A folder holding anything
    // stays, and fails the download: FileDownloaderTest.)
    const fs::path folder = repoFolder("owner/name");
    fs::create_directories(folder / "weights.bin");
    fs::create_directories(folder / "config.json");
    fs::path result = client.snapshot(repo, "main", {"*.bin", "config.json"});
    EXPECT_EQ(readFile(result / "weights.bin"), large);
    EXPECT_EQ(readFile(result / "config.json"), "{\"model_type\": \"whisper\"}");
    EXPECT_EQ(client.readDownloadMetadata(metadataFile("owner/name", "weights.bin"))->etag,
              FakeHub::sha256Of(root / "models/owner/name/weights.bin"));
}

TEST_F(SnapshotTest, NoMatchingNamesCallsBackOnceAndFetchesNothing) {
    int calls = 0;
    fs::path folder = client.snapshot(repo, "main", {"*.nothing"}, [&](Progress& p) {
        ++calls;
        EXPECT_EQ(p.totalUnitCount(), 0);
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(folder, cache.path() / "models/owner/name");
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SnapshotTest, ABrokenTransferResumesInTheNextRun) {
    client.timing.transfer.numRetries = 0;
    hub.breakBody("weights.bin", 2 * kChunk + 5, 1);
    EXPECT_THROW(client.snapshot(repo, "main", {"*.bin"}), platform::net::TransportError);
    EXPECT_FALSE(fs::exists(cache.path() / "models/owner/name/weights.bin"));
    hub.clearRequests();
    client.snapshot(repo, "main", {"*.bin"});
    EXPECT_EQ(readFile(cache.path() / "models/owner/name/weights.bin"), large);
    ASSERT_EQ(fileGets().size(), 2u);
    EXPECT_EQ(fileGets()[1].range, "bytes=" + std::to_string(2 * kChunk) + "-");
}

TEST_F(SnapshotTest, ACancelledSnapshotThrowsAndKeepsWhatItFetched) {
    std::stop_source stop;
    // Stop as the second file ("tokenizer/tokenizer.json") starts: its transfer is cancelled too.
    auto cancelAfterFirstFile = [&](Progress& progress) {
        if (progress.completedUnitCount() == 1) stop.request_stop();
    };
    EXPECT_THROW(client.snapshot(repo, "main", {"*.json", "*.bin"}, cancelAfterFirstFile, stop.get_token()),
                 korbit::CancellationError);
    fs::path folder = cache.path() / "models/owner/name";
    EXPECT_EQ(readFile(folder / "config.json"), "{\"model_type\": \"whisper\"}");
    EXPECT_TRUE(fs::exists(metadataFile("owner/name", "config.json")));
    EXPECT_FALSE(fs::exists(folder / "weights.bin"));
    // The file under way may have finished before the stop reached it; then it is whole and recorded.
    EXPECT_EQ(fs::exists(folder / "tokenizer/tokenizer.json"),
              fs::exists(metadataFile("owner/name", "tokenizer/tokenizer.json")));
}

TEST_F(SnapshotTest, OfflineVerifiesEveryCachedFileFromTheCacheAlone) {
    client.snapshot(repo, "main", {});
    hub.clearRequests();
    client.useOfflineMode = true;
    EXPECT_EQ(client.snapshot(repo, "other-revision", {"*.md"}), cache.path() / "models/owner/name");
    EXPECT_TRUE(hub.requests().empty());

    // A file whose tag is no digest is accepted on its metadata; a digest tag is checked.
    writeFile(cache.path() / "models/owner/name/README.md", "edited locally");
    EXPECT_NO_THROW(client.snapshot(repo, "main", {}));
    std::string tampered = large;
    tampered[100] ^= 1;
    writeFile(cache.path() / "models/owner/name/weights.bin", tampered);
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "File integrity check failed: Hash mismatch for weights.bin");

    fs::remove(metadataFile("owner/name", "weights.bin"));
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: Metadata not available for weights.bin");
    writeFile(metadataFile("owner/name", "weights.bin"), "single line");
    CapturedLog log;
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: Metadata not available for weights.bin");
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines()[0].rfind("Invalid metadata file ", 0), 0u);
    EXPECT_FALSE(fs::exists(metadataFile("owner/name", "weights.bin")));
}

// A file whose metadata the cache holds must be there, a regular file: a missing one, a named
// pipe (never waited on) or a folder fails the check, named (the folder, not what it holds).
TEST_F(SnapshotTest, OfflineFailsNamingACachedFileThatIsMissingOrNoFile) {
    const fs::path folder = client.snapshot(repo, "main", {});
    client.useOfflineMode = true;
    const fs::path tokenizer = folder / "tokenizer/tokenizer.json";
    fs::remove(tokenizer);
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: " + tokenizer.string() + " is missing, though its metadata is cached");
    EXPECT_NO_THROW(client.snapshot(repo, "main", {"config.json"}));  // what the patterns leave out
    writeFile(tokenizer, "{\"model\": {}}");
    const fs::path weights = folder / "weights.bin";
    fs::remove(weights);
    EXPECT_EQ(velmora::test::refusedAtOnce<EnvironmentError>(weights, [&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: " + weights.string() + " is a named pipe, not a file");
    fs::create_directory(weights);
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: " + weights.string() + " is a folder, not a file");
    writeFile(weights / "notes.txt", "mine");
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: " + weights.string() + " is a folder, not a file");
}

TEST_F(SnapshotTest, ContentThatBeliesItsDigestIsCaughtByTheOfflineCheck) {
    // Online, a transfer is trusted once its size is right; the digest tag is checked offline.
    hub.corruptContent("weights.bin");
    fs::path folder = client.snapshot(repo, "main", {"weights.bin"});
    std::string served = readFile(folder / "weights.bin");
    ASSERT_EQ(served.size(), large.size());
    EXPECT_NE(served, large);
    client.useOfflineMode = true;
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "File integrity check failed: Hash mismatch for weights.bin");
}

TEST_F(SnapshotTest, OfflineFailuresOfAnEmptyOrMissingRepository) {
    client.useOfflineMode = true;
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: Repository not available locally");
    fs::create_directories(cache.path() / "models/owner/name/.cache/huggingface/download");
    writeFile(cache.path() / "models/owner/name/.hidden", "x");
    EXPECT_EQ(messageOf<EnvironmentError>([&] { client.snapshot(repo, "main", {}); }),
              "Offline mode error: No files available locally for this repository");
}

TEST_F(SnapshotTest, OfflineMetadataPathsComeFromTheRelativePath) {
    // The repository's own path text recurs below it; the metadata path must not be built by
    // replacing that text.
    client.useOfflineMode = true;
    fs::path folder = cache.path() / "models/owner/name";
    fs::path nested = folder / folder.relative_path() / "f.txt";
    writeFile(nested, "nested");
    fs::path relative = nested.lexically_relative(folder);
    client.writeDownloadMetadata(FakeHub::kCommit, "tag",
                                 folder / ".cache/huggingface/download" / (relative.string() + ".metadata"));
    EXPECT_EQ(client.snapshot(repo, "main", {}), folder);
}

TEST_F(SnapshotTest, TheNetworkStateDecidesUnlessTheClientDoes) {
    client.snapshot(repo, "main", {"*.json"});
    hub.clearRequests();
    ScopedEnv noSwitch("CI_DISABLE_NETWORK_MONITOR", nullptr);
    velmora::test::settleNetworkState(false);
    EXPECT_TRUE(korbit::NetworkMonitor::shared().state().shouldUseOfflineMode());
    client.snapshot(repo, "main", {"*.json"});
    EXPECT_TRUE(hub.requests().empty());  // offline: the cache alone

    client.useOfflineMode = false;
    client.snapshot(repo, "main", {"*.json"});
    EXPECT_FALSE(hub.requests().empty());
    client.useOfflineMode.reset();
    hub.clearRequests();
    {
        ScopedEnv disabled("CI_DISABLE_NETWORK_MONITOR", "1");
        EXPECT_FALSE(korbit::NetworkMonitor::shared().state().shouldUseOfflineMode());
        client.snapshot(repo, "main", {"*.json"});
        EXPECT_FALSE(hub.requests().empty());
    }
    {
        ScopedEnv other("CI_DISABLE_NETWORK_MONITOR", "true");
        EXPECT_TRUE(korbit::NetworkMonitor::shared().state().shouldUseOfflineMode());
    }
    velmora::test::settleNetworkState(true);
    EXPECT_FALSE(korbit::NetworkMonitor::shared().state().shouldUseOfflineMode());
    korbit::NetworkMonitor::shared().state().update(true, true, true);  // expensive, constrained: still online
    EXPECT_FALSE(korbit::NetworkMonitor::shared().state().shouldUseOfflineMode());
}

TEST_F(SnapshotTest, RepositoryNamesOutsideTheHubsRuleAreRefusedBeforeAnyRequest) {
    velmora::test::TempDir outside("outside");
    const std::vector<std::string> names = {"../../escape",
                                            "owner/../../escape",
                                            (outside.path() / "x").string(),
                                            "..",
                                            ".",
                                            "",
                                            "owner/name/extra",
                                            "owner//name",
                                            "/owner",
                                            "owner/",
                                            "-owner/name",
                                            "owner/name-",
                                            ".owner/name",
                                            "owner/name.",
                                            "own--er/name",
                                            "own..er/name",
                                            "owner\\name",
                                            "owner/na me",
                                            "owner/n\xc3\xa4me",
                                            "owner/name\n",
                                            std::string(97, 'a'),
                                            std::string(48, 'a') + "/" + std::string(48, 'b')};
    for (const std::string& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        for (const Repo& bad : {Repo(name), Repo(name, korbit::RepoType::datasets)}) {
            for (const auto& action : std::vector<std::function<void()>>{
                     [&] { client.snapshot(bad, "main", {}); },
                     [&] { client.getFilenames(bad, "main", {}); },
                     [&] { client.localRepoLocation(bad); },
                 }) {
                const HubClientError error = velmora::test::hubErrorOf(action);
                EXPECT_EQ(error.kind(), HubClientError::Kind::invalidRepositoryName) << error.what();
                EXPECT_EQ(error.text(), name);
            }
        }
        // Offline, the name would be a folder to look into.
        client.useOfflineMode = true;
        EXPECT_EQ(velmora::test::hubErrorOf([&] { client.snapshot(Repo(name), "main", {}); }).kind(),
                  HubClientError::Kind::invalidRepositoryName);
        client.useOfflineMode.reset();
    }
    EXPECT_STREQ(HubClientError::invalidRepositoryName("../../x\n").what(),
                 "Invalid repository name \"../../x\\n\": a name is one or two parts joined by \"/\", each of "
                 "letters, digits, \"-\", \"_\" and \".\", neither beginning nor ending with \"-\" or \".\", "
                 "without \"--\" or \"..\", of 96 characters at most");
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_FALSE(fs::exists(cache.path().parent_path() / "escape"));
    EXPECT_FALSE(fs::exists(cache.path() / "escape"));
    EXPECT_TRUE(fs::is_empty(outside.path()));

    // Names of one or two parts within the rule, the longest included, keep their place.
    for (const std::string& name :
         {std::string("owner/name"), std::string("openai/whisper-large-v3"), std::string("korbitinc/tremolan-coreml"),
          std::string("gpt2"), std::string("A_b.c/d-e_f.1"), std::string("_x_/9"), std::string(96, 'a'),
          std::string(47, 'a') + "/" + std::string(48, 'b')}) {
        EXPECT_EQ(client.localRepoLocation(Repo(name)), cache.path() / "models" / name);
        EXPECT_EQ(client.localRepoLocation(Repo(name, korbit::RepoType::spaces)), cache.path() / "spaces" / name);
    }
    EXPECT_EQ(client.snapshot(repo, "main", {"*.md"}), cache.path() / "models/owner/name");
}

TEST_F(SnapshotTest, TheFrontForwardsListingAndSnapshot) {
    korbit::HubApiWrapper front(cache.path(), std::string(), hub.endpoint(), false, fastTiming());
    EXPECT_EQ(front.getFilenames(repo, "main", {"*.md"}), std::vector<std::string>{"README.md"});
    EXPECT_EQ(front.snapshot(repo, "main", {"*.md"}), front.localRepoLocation(repo));
    EXPECT_EQ(readFile(front.localRepoLocation(repo) / "README.md"), "# readme");
}

TEST(HubFileManagement, ListsRegularFilesWithoutHiddenOnes) {
    velmora::test::TempDir folder;
    writeFile(folder / "a.bin", "a");
    writeFile(folder / "sub/b.bin", "b");
    writeFile(folder / ".hidden", "h");
    writeFile(folder / ".cache/huggingface/download/a.bin.metadata", "m");
    auto files = korbit::getFileUrls(folder.path());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<fs::path>{folder / "a.bin", folder / "sub/b.bin"}));
    EXPECT_TRUE(korbit::getFileUrls(folder / "missing").empty());
}

TEST(Progress, ChildrenAdvanceTheirParentByTheirPendingUnits) {
    auto overall = Progress::make(2);
    auto first = Progress::make(100);
    auto second = Progress::make(100);
    overall->addChild(first, 1);
    overall->addChild(second, 1);
    first->setCompletedUnitCount(50);
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 0.25);
    first->setCompletedUnitCount(100);
    EXPECT_EQ(overall->completedUnitCount(), 1);
    second->setCompletedUnitCount(99);
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 0.995);
    second->setCompletedUnitCount(100);
    EXPECT_TRUE(overall->isFinished());
    EXPECT_DOUBLE_EQ(Progress::make(0)->fractionCompleted(), 0.0);
}
