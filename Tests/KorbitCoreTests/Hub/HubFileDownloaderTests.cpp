#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubFileDownloader.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Platform/Crypto/Sha256.hpp"
#include "Platform/Net/TransportError.hpp"

#include <gmock/gmock.h>

#include <future>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using korbit::EnvironmentError;
using korbit::HubApi;
using korbit::HubFileDownloader;
using korbit::Repo;
using korbit::RepoType;
using korbit::Hub::HubClientError;
using velmora::test::FakeHub;
using velmora::test::HubTest;
using velmora::test::patternedBytes;
using velmora::test::readFile;
using velmora::test::refusedAtOnce;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

class FileDownloaderTest : public HubTest {
protected:
    const std::string commit = FakeHub::kCommit;
    const std::string otherCommit = "fedcba9876543210fedcba9876543210fedcba98";

    HubFileDownloader downloaderFor(const std::string& name, const std::string& revision = "main",
                                    const Repo& repo = Repo("owner/name")) const {
        HubApi client = makeHub();
        fs::path repoFolder = client.localRepoLocation(repo);
        return HubFileDownloader{
            client, repo,           revision,        repoFolder, repoFolder / ".cache/huggingface/download",
            name,   client.hfToken, client.endpoint, false};
    }
    std::string metadataText(const std::string& name) const { return readFile(metadataFile("owner/name", name)); }
};

}  // namespace

TEST_F(FileDownloaderTest, FetchesIntoTheCacheAndWritesTheMetadata) {
    std::string contents = patternedBytes(3 * kChunk + 9);
    addFile("owner/name", "sub/model.bin", contents);
    HubFileDownloader downloader = downloaderFor("sub/model.bin");
    std::vector<double> fractions;
    fs::path result = downloader.download([&](double f, std::optional<double>) { fractions.push_back(f); });
    EXPECT_EQ(result, repoFolder("owner/name") / "sub/model.bin");
    EXPECT_EQ(readFile(result), contents);
    EXPECT_EQ(fractions.size(), 4u);  // the start and three chunks
    EXPECT_EQ(metadataText("sub/model.bin").substr(0, 41 + FakeHub::smallFileEtag(contents).size() + 1),
              commit + "\n" + FakeHub::smallFileEtag(contents) + "\n");
    // The partial file lived in the metadata folder, below the same sub-folder, and is gone.
    EXPECT_TRUE(fs::is_directory(repoFolder("owner/name") / ".cache/huggingface/download/sub"));
    for (auto& entry : fs::recursive_directory_iterator(repoFolder("owner/name"))) {
        EXPECT_EQ(entry.path().string().find(".incomplete"), std::string::npos) << entry.path();
    }
}

TEST_F(FileDownloaderTest, KeepsAFileOfTheSameCommitWithoutWritingAnything) {
    addFile("owner/name", "config.json", "{}");
    writeFile(repoFolder("owner/name") / "config.json", "local copy");
    HubApi client = makeHub();
    client.writeDownloadMetadata(commit, "some-old-tag", metadataFile("owner/name", "config.json"));
    std::string before = metadataText("config.json");
    hub.omitHeader("ETag");  // the probe's completeness does not matter here
    std::this_thread::sleep_for(5ms);
    downloaderFor("config.json").download();
    EXPECT_EQ(readFile(repoFolder("owner/name") / "config.json"), "local copy");
    EXPECT_EQ(metadataText("config.json"), before);
    EXPECT_TRUE(fileGets().empty());
}

TEST_F(FileDownloaderTest, ReValidatesByEntityTagOrDigestWithoutFetching) {
    std::string large = patternedBytes(2 << 20);
    addFile("owner/name", "model.bin", large);
    addFile("owner/name", "config.json", "{}");
    hub.setCommit(otherCommit);
    HubApi client = makeHub();
    // Same tag, older commit: the metadata is rewritten with the new commit.
    writeFile(repoFolder("owner/name") / "config.json", "{}");
    client.writeDownloadMetadata(commit, FakeHub::smallFileEtag("{}"), metadataFile("owner/name", "config.json"));
    downloaderFor("config.json").download();
    EXPECT_EQ(metadataText("config.json").substr(0, 41), otherCommit + "\n");
    // No metadata, but the content's SHA-256 equals the 64-digit tag: kept, metadata written.
    writeFile(repoFolder("owner/name") / "model.bin", large);
    downloaderFor("model.bin").download();
    EXPECT_EQ(client.readDownloadMetadata(metadataFile("owner/name", "model.bin"))->etag,
              FakeHub::sha256Of(root / "models/owner/name/model.bin"));
    EXPECT_TRUE(fileGets().empty());
    // A 40-digit tag proves nothing about the content: without metadata the file is fetched.
    fs::remove(metadataFile("owner/name", "config.json"));
    writeFile(repoFolder("owner/name") / "config.json", "stale");
    downloaderFor("config.json").download();
    EXPECT_EQ(readFile(repoFolder("owner/name") / "config.json"), "{}");
    EXPECT_EQ(fileGets().size(), 1u);
}

TEST_F(FileDownloaderTest, AnIncompleteProbeIsRefusedWhateverIsCached) {
    addFile("owner/name", "config.json", "{}");
    writeFile(repoFolder("owner/name") / "config.json", "{}");
    makeHub().writeDownloadMetadata(otherCommit, FakeHub::smallFileEtag("{}"),
                                    metadataFile("owner/name", "config.json"));
    std::string before = metadataText("config.json");
    hub.omitHeader("X-Repo-Commit");
    EXPECT_EQ(velmora::test::messageOf<EnvironmentError>([&] { downloaderFor("config.json").download(); }),
              "Invalid metadata: File metadata must have been retrieved from server");
    EXPECT_EQ(metadataText("config.json"), before);
    EXPECT_TRUE(fileGets().empty());
}

TEST_F(FileDownloaderTest, AnInterruptedFetchResumesOnlyIntoThePartialFileOfTheSameVersion) {
    std::string first = patternedBytes(3 * kChunk, 1);
    addFile("owner/name", "model.bin", first);
    hub.breakBody("model.bin", kChunk + 100, 100);
    HubFileDownloader noRetries = downloaderFor("model.bin");
    noRetries.hub.timing.transfer.numRetries = 0;
    EXPECT_THROW(noRetries.download(), platform::net::TransportError);
    fs::path partial = repoFolder("owner/name") / ".cache/huggingface/download" /
                       ("model.bin." + FakeHub::smallFileEtag(first) + ".incomplete");
    ASSERT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(kChunk));
    EXPECT_FALSE(fs::exists(metadataFile("owner/name", "model.bin")));
    EXPECT_FALSE(fs::exists(repoFolder("owner/name") / "model.bin"));

    hub.breakBody("model.bin", 0, 0);
    hub.clearRequests();
    downloaderFor("model.bin").download();
    EXPECT_EQ(readFile(repoFolder("owner/name") / "model.bin"), first);
    EXPECT_EQ(fileGets().front().range, "bytes=" + std::to_string(kChunk) + "-");

    // A new version starts a partial file of its own; the old one is left alone.
    std::string second = patternedBytes(3 * kChunk, 2);
    addFile("owner/name", "model.bin", second);
    hub.setCommit(otherCommit);
    hub.breakBody("model.bin", kChunk + 100, 100);
    writeFile(partial, "left from before");
    noRetries = downloaderFor("model.bin");
    noRetries.hub.timing.transfer.numRetries = 0;
    EXPECT_THROW(noRetries.download(), platform::net::TransportError);
    EXPECT_EQ(readFile(partial), "left from before");
    fs::path secondPartial = repoFolder("owner/name") / ".cache/huggingface/download" /
                             ("model.bin." + FakeHub::smallFileEtag(second) + ".incomplete");
    EXPECT_EQ(fs::file_size(secondPartial), static_cast<std::uintmax_t>(kChunk));
    EXPECT_EQ(readFile(repoFolder("owner/name") / "model.bin"), first);  // the older copy stays
}

TEST_F(FileDownloaderTest, AddressesKeepTheRevisionInOneSegment) {
    EXPECT_EQ(downloaderFor("config.json", "refs/pr/1").source(),
              hub.endpoint() + "/owner/name/resolve/refs%2Fpr%2F1/config.json");
    EXPECT_EQ(downloaderFor("a b/c.json", "main", Repo("user/data", RepoType::datasets)).source(),
              hub.endpoint() + "/datasets/user/data/resolve/main/a%20b/c.json");
    HubFileDownloader noEndpoint = downloaderFor("x.json");
    noEndpoint.endpoint.reset();
    EXPECT_EQ(noEndpoint.source(), "https://huggingface.co/owner/name/resolve/main/x.json");
    noEndpoint.endpoint = "";
    EXPECT_THROW(noEndpoint.source(), HubClientError);

    addFile("user/data", "d.csv", "1,2", "datasets");
    HubFileDownloader dataset = downloaderFor("d.csv", "main", Repo("user/data", RepoType::datasets));
    EXPECT_EQ(readFile(dataset.download()), "1,2");
    EXPECT_TRUE(fs::exists(cache / "datasets/user/data/.cache/huggingface/download/d.csv.metadata"));
}

// A folder holding anything in a downloaded file's place, its metadata current, is no download and
// not the client's to remove: the download fails naming it before a byte is fetched, and it stays.
TEST_F(FileDownloaderTest, AFolderHoldingAnythingAtADownloadedFileFailsTheDownloadAndStays) {
    addFile("owner/name", "config.json", "{}");
    const fs::path folder = repoFolder("owner/name") / "config.json";
    writeFile(folder / "notes.txt", "mine");
    makeHub().writeDownloadMetadata(FakeHub::kCommit, FakeHub::smallFileEtag("{}"),
                                    metadataFile("owner/name", "config.json"));
    const HubFileDownloader downloader = downloaderFor("config.json");
    EXPECT_FALSE(downloader.downloaded());
    EXPECT_EQ(velmora::test::messageOf<korbit::NotAFileError>([&] { downloader.download(); }),
              "Cannot put the downloaded file at " + folder.string() + " (a folder, not a file): Directory not empty");
    EXPECT_EQ(readFile(folder / "notes.txt"), "mine");
    EXPECT_TRUE(fileGets().empty());
}

TEST_F(FileDownloaderTest, NamesAndTagsFromTheServerNeverLeaveTheCache) {
    addFile("owner/name", "config.json", "{}");
    for (const char* name : {"../escape.json", "/etc/passwd", "a/./b.json", "a/../../b.json", "a\\b.json", ""}) {
        HubFileDownloader downloader = downloaderFor(name);
        try {
            downloader.download();
            FAIL() << name;
        } catch (const HubClientError& e) {
            EXPECT_EQ(e.kind(), HubClientError::Kind::parseError) << name;
        }
    }
    EXPECT_FALSE(fs::exists(cache.path() / "models/owner/escape.json"));
    EXPECT_TRUE(hub.requests("/resolve/").empty());
    EXPECT_TRUE(HubFileDownloader::isSafeRelativeFilename("sub/.hidden/file..json"));

    hub.overrideHeader("ETag", "\"../../../outside\"");
    HubFileDownloader downloader = downloaderFor("config.json");
    EXPECT_EQ(downloader.incompleteDestination("../../../outside").parent_path(),
              repoFolder("owner/name") / ".cache/huggingface/download");
    EXPECT_EQ(readFile(downloader.download()), "{}");
    EXPECT_EQ(makeHub().readDownloadMetadata(metadataFile("owner/name", "config.json"))->etag, "../../../outside");
    EXPECT_EQ(std::distance(fs::directory_iterator(cache.path()), fs::directory_iterator()), 1);  // only "models"
}

TEST_F(FileDownloaderTest, ACancelledFetchWritesNoMetadataAndKeepsItsBytes) {
    std::string contents = patternedBytes(3 * kChunk);
    addFile("owner/name", "model.bin", contents);
    hub.stallMidBody("model.bin", kChunk + 10, 5s);
    HubApi client = makeHub();
    client.timing.transfer.requestTimeout = 10s;
    fs::path repo = client.localRepoLocation(Repo("owner/name"));
    HubFileDownloader downloader{
        client,      Repo("owner/name"), "main",          repo, repo / ".cache/huggingface/download",
        "model.bin", std::nullopt,       client.endpoint, false};
    std::stop_source stop;
    auto start = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, [&] {
        downloader.download(
            [&](double fraction, std::optional<double>) {
                if (fraction > 0) stop.request_stop();
            },
            stop.get_token());
    });
    EXPECT_ANY_THROW(result.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(fs::exists(repo / "model.bin"));
    EXPECT_FALSE(fs::exists(metadataFile("owner/name", "model.bin")));
    EXPECT_EQ(fs::file_size(repo / ".cache/huggingface/download" /
                            ("model.bin." + FakeHub::smallFileEtag(contents) + ".incomplete")),
              static_cast<std::uintmax_t>(kChunk));
}

TEST_F(FileDownloaderTest, TwoDownloadsOfOneFileNeverShareThePartialFile) {
    std::string contents = patternedBytes(4 * kChunk);
    addFile("owner/name", "model.bin", contents);
    hub.stallMidBody("model.bin", kChunk, 300ms, 1);
    HubFileDownloader first = downloaderFor("model.bin");
    first.hub.timing.transfer.requestTimeout = 5s;  // the stall is no failure here
    HubFileDownloader second = downloaderFor("model.bin");
    auto a = std::async(std::launch::async, [&] { return first.download(); });
    std::this_thread::sleep_for(100ms);
    auto b = std::async(std::launch::async, [&] { return second.download(); });
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(readFile(repoFolder("owner/name") / "model.bin"), contents);
    EXPECT_EQ(fileGets().size(), 1u);  // the second waited, then found the file current
}

// A named pipe at the partial file or at the metadata file ends the download at once with an error
// naming it; the pipe stays and nothing is fetched.
TEST_F(FileDownloaderTest, APipeAtAFileOfTheCacheEndsTheDownloadWithItsName) {
    addFile("owner/name", "model.bin", patternedBytes(2 << 20));  // tagged with its digest
    const HubFileDownloader downloader = downloaderFor("model.bin");
    const std::string etag = FakeHub::sha256Of(root / "models/owner/name/model.bin");
    for (const fs::path& pipe : {downloader.incompleteDestination(etag), downloader.metadataPath()}) {
        EXPECT_THAT(refusedAtOnce<std::exception>(pipe, [&] { downloader.download(); }),
                    testing::HasSubstr(pipe.string() + " (a named pipe, not a file)"));
    }
    EXPECT_TRUE(fileGets().empty());
}

// A named pipe or an empty folder in a downloaded file's place, its metadata current, is no
// download: the fetch replaces it, never waiting on a pipe (it was taken for the file, and its
// reader waited for good). A folder left the model without its file, and passed for it.
TEST_F(FileDownloaderTest, APipeOrAnEmptyFolderAtADownloadedFileIsFetchedAgainInItsPlace) {
    const std::string contents = patternedBytes(2 << 20);  // tagged with its digest
    addFile("owner/name", "model.bin", contents);
    const HubFileDownloader downloader = downloaderFor("model.bin");
    const fs::path file = downloader.download();
    const std::size_t fetches = fileGets().size();
    const std::pair<const char*, int (*)(const char*)> kinds[] = {
        {"a named pipe", [](const char* path) { return ::mkfifo(path, 0600); }},
        {"an empty folder", [](const char* path) { return ::mkdir(path, 0700); }},
    };
    for (const auto& [kind, make] : kinds) {
        SCOPED_TRACE(kind);
        hub.clearRequests();
        fs::remove(file);
        ASSERT_EQ(make(file.c_str()), 0);
        EXPECT_TRUE(velmora::test::endsWithin(5s, file, [&] { EXPECT_EQ(downloader.download(), file); }));
        ASSERT_TRUE(fs::is_regular_file(file));
        EXPECT_EQ(readFile(file), contents);
        EXPECT_EQ(fileGets().size(), fetches);
    }
}
