#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubFileManagement.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Platform/Crypto/Sha256.hpp"

#include <gmock/gmock.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <regex>

using korbit::EnvironmentError;
using korbit::HubApi;
using korbit::Hub::HubClientError;
using testing::AllOf;
using testing::HasSubstr;
using testing::StartsWith;
using velmora::test::CapturedLog;
using velmora::test::messageOf;
using velmora::test::readFile;
using velmora::test::refusedAtOnce;
using velmora::test::TempDir;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

// A client whose hub never answers, over a temporary folder.
class HubMetadata : public ::testing::Test {
protected:
    TempDir folder;
    HubApi client{folder.path(), std::string(), std::string("http://127.0.0.1:1")};
};

}  // namespace

TEST_F(HubMetadata, WritesThreeLinesAndReadsThemBack) {
    fs::path path = folder / "repo/.cache/huggingface/download/sub/model.bin.metadata";
    double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    client.writeDownloadMetadata("0123456789abcdef0123456789abcdef01234567", "etag-1", path);
    std::string text = readFile(path);
    EXPECT_TRUE(
        std::regex_match(text, std::regex("0123456789abcdef0123456789abcdef01234567\netag-1\n[0-9]+\\.[0-9]+\n")))
        << text;
    auto metadata = client.readDownloadMetadata(path);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->commitHash, "0123456789abcdef0123456789abcdef01234567");
    EXPECT_EQ(metadata->etag, "etag-1");
    EXPECT_EQ(metadata->filename, "model.bin");
    double written = metadata->timestamp.time_since_epoch().count();
    EXPECT_GE(written, before - 1);
    EXPECT_LE(written, before + 60);
    // Rewriting replaces the file whole.
    client.writeDownloadMetadata("c2", "e2", path);
    EXPECT_EQ(client.readDownloadMetadata(path)->etag, "e2");
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(HubMetadata, ReaderAcceptsWhatReadsAsANumberAndTrimsPieces) {
    writeFile(folder / "a.metadata.metadata", "  commit \n\tetag\n17e8\nextra line\n");
    auto metadata = client.readDownloadMetadata(folder / "a.metadata.metadata");
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->commitHash, "commit");
    EXPECT_EQ(metadata->etag, "etag");
    EXPECT_EQ(metadata->filename, "a");
    EXPECT_EQ(metadata->timestamp.time_since_epoch().count(), 17e8);
    writeFile(folder / "whole.metadata", "c\ne\n1733500000.0\n");
    EXPECT_EQ(client.readDownloadMetadata(folder / "whole.metadata")->timestamp.time_since_epoch().count(),
              1733500000.0);
    EXPECT_FALSE(client.readDownloadMetadata(folder / "missing.metadata"));
}

TEST_F(HubMetadata, BadFilesAreLoggedRemovedAndTreatedAsMissing) {
    struct Case {
        std::string contents;
        std::string reason;
    };
    std::vector<Case> cases = {
        {"c\ne\n12:30\n", "Invalid metadata: Invalid timestamp format"},
        {"only one line", "Invalid metadata: Metadata file is missing required fields"},
        // CR LF gives an empty piece between CR and LF: the time text is then the tag's line.
        {"c\r\ne\r\n1.5\r\n", "Invalid metadata: Invalid timestamp format"},
    };
    for (const auto& c : cases) {
        fs::path path = folder / "x.metadata";
        writeFile(path, c.contents);
        CapturedLog log;
        EXPECT_FALSE(client.readDownloadMetadata(path));
        EXPECT_FALSE(fs::exists(path));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0], "Invalid metadata file file://" + path.string() + ": " + c.reason +
                                      ". Removing it from disk and continuing.");
    }
    fs::path binary = folder / "binary.metadata";
    writeFile(binary, "c\n\xff\n1\n");
    CapturedLog log;
    EXPECT_FALSE(client.readDownloadMetadata(binary));
    EXPECT_FALSE(fs::exists(binary));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("Error reading metadata file file://" + binary.string() + ": ", 0), 0u);
}

TEST_F(HubMetadata, ABadFileThatCannotBeRemovedIsAnError) {
    fs::path path = folder / "dir.metadata";
    writeFile(path / "inside", "x");  // a folder with something in it: reading and removing both fail
    CapturedLog log;
    EXPECT_THAT(messageOf<EnvironmentError>([&] { client.readDownloadMetadata(path); }),
                StartsWith("Invalid metadata: Could not remove corrupted metadata file: "));
}

TEST_F(HubMetadata, WriteFailuresNameThePath) {
    writeFile(folder / "blocker", "a file where a folder should be");
    fs::path path = folder / "blocker/sub/x.metadata";
    EXPECT_THAT(messageOf<EnvironmentError>([&] { client.writeDownloadMetadata("c", "e", path); }),
                StartsWith("Failed to write file: Failed to write metadata to " + path.string() + ": "));
}

TEST_F(HubMetadata, FileDigestStreamsTheFileAndReportsEveryFailure) {
    writeFile(folder / "empty", "");
    EXPECT_EQ(client.computeFileHash(folder / "empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::string bytes = velmora::test::patternedBytes(5 * (1 << 19));  // 2.5 MiB: three reads
    writeFile(folder / "big", bytes);
    EXPECT_EQ(client.computeFileHash(folder / "big"), platform::crypto::Sha256::hex(bytes));
    EXPECT_EQ(messageOf<HubClientError>([&] { client.computeFileHash(folder / "absent.bin"); }),
              "File not found: absent.bin");
    // A read that fails part-way is an error, not the digest of what was read.
    fs::create_directories(folder / "a-folder");
    EXPECT_THAT(messageOf<HubClientError>([&] { client.computeFileHash(folder / "a-folder"); }),
                StartsWith("File system error: "));
}

// Reading, writing, hashing or moving a file of the cache never waits on a named pipe standing
// there: each step is refused at once, naming the pipe, which stays.
TEST_F(HubMetadata, APipeAtACacheFileIsRefusedAtOnceWithItsName) {
    const fs::path pipe = folder / "model.bin.metadata";
    const std::string named = pipe.string() + " (a named pipe, not a file)";
    EXPECT_THAT(refusedAtOnce<EnvironmentError>(pipe, [&] { client.readDownloadMetadata(pipe); }),
                StartsWith("Invalid metadata: Cannot open " + named));
    EXPECT_THAT(refusedAtOnce<EnvironmentError>(pipe, [&] { client.writeDownloadMetadata("c", "e", pipe); }),
                AllOf(StartsWith("Failed to write file: "), HasSubstr(named)));
    EXPECT_THAT(refusedAtOnce<HubClientError>(pipe, [&] { client.computeFileHash(pipe); }),
                StartsWith("File system error: Cannot open " + named));
    EXPECT_THAT(refusedAtOnce<std::system_error>(pipe, [&] { HubApi::configuration(pipe); }),
                StartsWith("Cannot open " + named));
    EXPECT_THAT(refusedAtOnce<std::system_error>(pipe, [&] { korbit::moveDownloadedFile(pipe, folder / "moved"); }),
                StartsWith("Cannot move " + named));
    EXPECT_FALSE(fs::exists(folder / "moved"));
}

// A finished file never takes the place of a folder holding anything (its contents are not the
// client's to judge): the move fails naming it, and both stay. An empty folder makes room.
TEST_F(HubMetadata, AFolderHoldingAnythingIsNeverMovedOver) {
    const fs::path from = folder / "model.bin.incomplete";
    const fs::path to = folder / "repo/model.bin";
    writeFile(from, "file");
    writeFile(to / "sub/notes.txt", "mine");
    EXPECT_EQ(messageOf<korbit::NotAFileError>([&] { korbit::moveDownloadedFile(from, to); }),
              "Cannot put the downloaded file at " + to.string() + " (a folder, not a file): Directory not empty");
    EXPECT_EQ(readFile(to / "sub/notes.txt"), "mine");
    EXPECT_EQ(readFile(from), "file");
    fs::remove_all(to / "sub");
    korbit::moveDownloadedFile(from, to);
    EXPECT_EQ(readFile(to), "file");
}

// A socket or a device there is refused as well: never removed as bad metadata, read (/dev/zero
// never ends) or taken for a missing file. A socket is not written to; a device is written in place.
TEST_F(HubMetadata, ASocketOrADeviceAtACacheFileIsRefusedAndKept) {
    const fs::path socketPath = folder / "socket.metadata";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    const fs::path devicePath = folder / "device.metadata";
    fs::create_symlink("/dev/null", devicePath);
    for (const auto& [path, kind] : {std::pair{socketPath, "a socket"}, std::pair{devicePath, "a character device"}}) {
        const std::string named = path.string() + " (" + kind + ", not a file)";
        EXPECT_THAT(messageOf<EnvironmentError>([&] { client.readDownloadMetadata(path); }),
                    StartsWith("Invalid metadata: Cannot open " + named));
        EXPECT_THAT(messageOf<HubClientError>([&] { client.computeFileHash(path); }),
                    StartsWith("File system error: Cannot open " + named));
    }
    EXPECT_THAT(messageOf<EnvironmentError>([&] { client.writeDownloadMetadata("c", "e", socketPath); }),
                HasSubstr(socketPath.string() + " (a socket, not a file)"));
    client.writeDownloadMetadata("c", "e", devicePath);
    EXPECT_TRUE(fs::is_socket(socketPath));
    EXPECT_EQ(fs::read_symlink(devicePath), "/dev/null");
    ::close(listening);
}

TEST(HubProbeReply, AnEmptyLocationIsNoLocation) {
    const std::string url = "http://127.0.0.1:9/owner/name/resolve/main/model.bin";
    platform::net::HttpResponse redirect;
    redirect.statusCode = 302;
    redirect.url = url;
    redirect.headers.add("Location", "");
    redirect.headers.add("X-Linked-Size", "12");
    const auto metadata = HubApi::fileMetadata(redirect, url);
    EXPECT_EQ(metadata.location, url);
    EXPECT_EQ(metadata.size, 12);

    redirect.headers.set("Location", "http://localhost:9/cdn/abc");
    EXPECT_EQ(HubApi::fileMetadata(redirect, url).location, "http://localhost:9/cdn/abc");
}
