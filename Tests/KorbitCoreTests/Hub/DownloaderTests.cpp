#include "FakeHub/HostileServer.hpp"
#include "KorbitCore/External/Hub/Downloader.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Platform/Crypto/Sha256.hpp"
#include "Platform/Net/TransportError.hpp"
#include "Support/FileSizeLimit.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <system_error>

using namespace std::chrono_literals;
using korbit::Downloader;
using korbit::DownloadState;
using platform::net::TransportError;
using velmora::test::FakeHub;
using velmora::test::FileSizeLimit;
using velmora::test::patternedBytes;
using velmora::test::readFile;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

// Short retry waits; an idle time-out no pause of a busy machine reaches. Tests of the time-out
// itself set a short one and let the server stall ten times as long.
Downloader::Timing fast(std::chrono::milliseconds idleTimeout = 10s) {
    Downloader::Timing timing;
    timing.requestTimeout = idleTimeout;
    timing.retryWait = 10ms;
    return timing;
}
constexpr std::chrono::milliseconds kShortTimeout = 1s;

struct Outcome {
    std::vector<DownloadState> states;
    const DownloadState& last() const { return states.back(); }
    std::vector<double> progress() const {
        std::vector<double> values;
        for (const auto& s : states) {
            if (s.kind == DownloadState::Kind::downloading) values.push_back(s.progress);
        }
        return values;
    }
};

// Reads states until the transfer completes or fails.
Outcome readAll(Downloader::Subscription& subscription) {
    Outcome outcome;
    while (auto state = subscription.next()) {
        outcome.states.push_back(*state);
        if (state->kind == DownloadState::Kind::completed || state->kind == DownloadState::Kind::failed) break;
    }
    return outcome;
}

template <typename E>
std::optional<E> errorAs(const DownloadState& state) {
    try {
        std::rethrow_exception(state.error);
    } catch (const E& e) {
        return e;
    } catch (...) {
        return std::nullopt;
    }
}

class DownloaderTest : public velmora::test::HubTest {
protected:
    fs::path destination = cache / "repo/file.bin";
    fs::path partial = cache / "repo/.cache/huggingface/download/file.bin.tag.incomplete";

    std::string serve(const std::string& contents, const std::string& name = "file.bin") {
        writeFile(root / ("models/owner/name/" + name), contents);
        return hub.endpoint() + "/owner/name/resolve/main/" + name;
    }
    void preparePartial(const std::string& contents = "") { writeFile(partial, contents); }
    /// One transfer of `url` into the destination, its states read to the end.
    Outcome fetch(const std::string& url, std::optional<std::int64_t> expected,
                  std::optional<std::string> token = std::nullopt, std::int64_t chunk = kChunk,
                  Downloader::Timing timing = fast()) {
        Downloader downloader(destination, partial, false, chunk, timing);
        auto subscription = downloader.download(url, token, expected);
        return readAll(subscription);
    }
};

std::int64_t sizeOf(const std::string& contents) {
    return static_cast<std::int64_t>(contents.size());
}

}  // namespace

TEST_F(DownloaderTest, WritesWholeChunksAndReportsProgressOncePerChunk) {
    std::string contents = patternedBytes(kChunk * 2 + 5);
    std::string url = serve(contents);
    preparePartial();
    Outcome outcome = fetch(url, sizeOf(contents));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(outcome.states.front().kind, DownloadState::Kind::notStarted);
    auto progress = outcome.progress();
    ASSERT_EQ(progress.size(), 3u);  // the start, then one per chunk; none for the last 5 bytes
    EXPECT_EQ(progress[0], 0.0);
    EXPECT_DOUBLE_EQ(progress[1], double(kChunk) / double(contents.size()));
    EXPECT_DOUBLE_EQ(progress[2], double(2 * kChunk) / double(contents.size()));
    EXPECT_FALSE(outcome.states[1].speed);
    EXPECT_TRUE(outcome.states[2].speed);
    EXPECT_EQ(outcome.last().url, destination);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_EQ(hub.requests("/resolve/").front().range, "-");
}

// A named pipe where the partial file belongs is never waited on: the transfer fails at once
// naming it, fetches nothing and leaves the pipe.
TEST_F(DownloaderTest, APipeAtThePartialFileFailsTheTransferAtOnce) {
    const std::string url = serve(patternedBytes(kChunk));
    fs::create_directories(partial.parent_path());
    ASSERT_EQ(::mkfifo(partial.c_str(), 0600), 0);
    Outcome outcome;
    EXPECT_TRUE(velmora::test::endsWithin(5s, partial, [&] { outcome = fetch(url, kChunk); }));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<std::system_error>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_THAT(error->what(), testing::StartsWith("cannot open the partial file " + partial.string() +
                                                   " (a named pipe, not a file)"));
    EXPECT_TRUE(fs::is_fifo(partial));
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_TRUE(hub.requests("/resolve/").empty());
}

TEST_F(DownloaderTest, ResumesFromThePartialFileWithARange) {
    std::string contents = patternedBytes(16384);
    std::string url = serve(contents);
    preparePartial(contents.substr(0, 4096));
    Outcome outcome = fetch(url, 16384);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(outcome.progress(), std::vector<double>{0.25});
    EXPECT_EQ(readFile(destination), contents);
    auto gets = hub.requests("/resolve/");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].range, "bytes=4096-");
}

TEST_F(DownloaderTest, WithoutExpectedSizeReportsOnlyTheStartAndSkipsTheSizeCheck) {
    std::string contents = patternedBytes(kChunk * 3);
    std::string url = serve(contents);
    preparePartial();
    writeFile(destination, "an older copy");
    Outcome outcome = fetch(url, std::nullopt);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(outcome.progress(), std::vector<double>{0.0});
    EXPECT_EQ(readFile(destination), contents);  // the older copy is replaced
}

TEST_F(DownloaderTest, RetriesABrokenBodyFromTheBytesOnDisk) {
    std::string contents = patternedBytes(kChunk * 3 + 100);
    std::string url = serve(contents);
    hub.breakBody("file.bin", kChunk + 1000, 2);
    preparePartial();
    Outcome outcome = fetch(url, sizeOf(contents));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    auto gets = hub.requests("/resolve/");
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[0].range, "-");
    // One chunk reached the disk before each break; the bytes after it were asked for again.
    EXPECT_EQ(gets[1].range, "bytes=" + std::to_string(kChunk) + "-");
    EXPECT_EQ(gets[2].range, "bytes=" + std::to_string(2 * kChunk) + "-");
}

TEST_F(DownloaderTest, GivesUpAfterTheRetriesWithoutProgressAndKeepsThePartialFile) {
    std::string contents = patternedBytes(kChunk * 2);
    std::string url = serve(contents);
    hub.breakBody("file.bin", 1000, 10);
    preparePartial();
    Outcome outcome = fetch(url, sizeOf(contents));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    auto error = errorAs<TransportError>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TransportError::Kind::connectionLost);
    EXPECT_EQ(hub.requests("/resolve/").size(), 6u);  // the first attempt and five retries
    EXPECT_TRUE(fs::exists(partial));
    EXPECT_FALSE(fs::exists(destination));
}

TEST_F(DownloaderTest, AServerThatIgnoresRangesDoesNotCorruptThePartialFile) {
    std::string contents = patternedBytes(kChunk + 777);
    std::string url = serve(contents);
    hub.ignoreRange(true);
    preparePartial(contents.substr(0, 5000));
    Outcome outcome = fetch(url, sizeOf(contents));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_EQ(hub.requests("/resolve/").front().range, "bytes=5000-");

    // Without an expected size the whole body still replaces what was there.
    fs::remove(destination);
    preparePartial("garbage that is not a start of the file");
    ASSERT_EQ(fetch(url, std::nullopt).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
}

TEST_F(DownloaderTest, APartialFileLongerThanTheFileStartsOver) {
    std::string contents = patternedBytes(3000);
    std::string url = serve(contents);
    preparePartial(patternedBytes(5000, 7));
    ASSERT_EQ(fetch(url, 3000).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_EQ(hub.requests("/resolve/").front().range, "-");
}

TEST_F(DownloaderTest, ARangePastTheEndEitherFinishesOrStartsOverOnce) {
    std::string contents = patternedBytes(3000);
    std::string url = serve(contents);
    // The partial file already holds every byte (the process stopped before the move).
    preparePartial(contents);
    {
        ASSERT_EQ(fetch(url, 3000).last().kind, DownloadState::Kind::completed);
        EXPECT_EQ(readFile(destination), contents);
        EXPECT_EQ(hub.requests("/resolve/").size(), 1u);
    }
    // A 416 that does not confirm the size: the file is fetched again from the start, once.
    hub.clearRequests();
    fs::remove(destination);
    preparePartial(contents.substr(0, 1000));
    hub.answerStatus("GET", "/resolve/", 416, 1);
    {
        ASSERT_EQ(fetch(url, 3000).last().kind, DownloadState::Kind::completed);
        EXPECT_EQ(readFile(destination), contents);
        auto gets = hub.requests("/resolve/");
        ASSERT_EQ(gets.size(), 2u);
        EXPECT_EQ(gets[1].range, "-");
    }
    hub.answerStatus("GET", "/resolve/", 416, -1);
    preparePartial(contents.substr(0, 1000));
    Outcome outcome = fetch(url, 3000);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    EXPECT_TRUE(errorAs<korbit::DownloadError>(outcome.last()));
}

TEST_F(DownloaderTest, BadStatusesAndSilentServersAreNotRetried) {
    std::string url = serve(patternedBytes(1000));
    preparePartial();
    hub.answerStatus("GET", "/resolve/", 500, 1);
    {
        Outcome outcome = fetch(url, 1000);
        ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
        auto error = errorAs<korbit::DownloadError>(outcome.last());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), korbit::DownloadError::Kind::unexpectedError);
        EXPECT_EQ(hub.requests("/resolve/").size(), 1u);
    }
    hub.clearRequests();
    hub.stallBeforeHead("/resolve/", 10 * kShortTimeout);
    auto start = std::chrono::steady_clock::now();
    Outcome outcome = fetch(url, 1000, std::nullopt, kChunk, fast(kShortTimeout));
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    auto error = errorAs<TransportError>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TransportError::Kind::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5 * kShortTimeout);  // not the stall's end
    EXPECT_EQ(hub.requests("/resolve/").size(), 1u);
}

TEST_F(DownloaderTest, AStallInTheBodyIsAnIdleTimeOutAndIsRetried) {
    std::string contents = patternedBytes(kChunk * 2 + 10);
    std::string url = serve(contents);
    hub.stallMidBody("file.bin", kChunk + 10, 10 * kShortTimeout);
    preparePartial();
    ASSERT_EQ(fetch(url, sizeOf(contents), std::nullopt, kChunk, fast(kShortTimeout)).last().kind,
              DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    auto gets = hub.requests("/resolve/");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[1].range, "bytes=" + std::to_string(kChunk) + "-");
}

TEST_F(DownloaderTest, CancelKeepsTheWrittenChunksForALaterResume) {
    std::string contents = patternedBytes(kChunk * 2 + 10);
    std::string url = serve(contents);
    hub.stallMidBody("file.bin", kChunk + 10, 5s);
    preparePartial();
    {
        Downloader downloader(destination, partial, false, kChunk, fast());
        auto subscription = downloader.download(url, std::nullopt, sizeOf(contents));
        // Wait for the first chunk, then cancel while the server stalls.
        while (auto state = subscription.next()) {
            if (state->kind == DownloadState::Kind::downloading && state->progress > 0) break;
        }
        downloader.cancel();
        auto state = subscription.next();
        ASSERT_TRUE(state);
        ASSERT_EQ(state->kind, DownloadState::Kind::failed);
        auto error = errorAs<TransportError>(*state);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), TransportError::Kind::cancelled);
    }
    EXPECT_EQ(Downloader::incompleteFileSize(partial), kChunk);
    EXPECT_EQ(Downloader::incompleteFileSize(cache / "missing"), 0);
    ASSERT_EQ(fetch(url, sizeOf(contents)).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_EQ(hub.requests("/resolve/").back().range, "bytes=" + std::to_string(kChunk) + "-");
}

// Past the size at which bytes are handed to the system's write-back: a break keeps the whole
// chunks, and a server that then ignores the range has the file started over from nothing.
TEST_F(DownloaderTest, ALargeTransferKeepsWholeChunksAcrossBreaksAndRestarts) {
    constexpr std::int64_t chunk = 4 << 20;
    const std::string contents = patternedBytes(static_cast<std::size_t>(3 * chunk + 4321));
    const std::string url = serve(contents);
    hub.breakBody("file.bin", 2 * chunk + 100'000, 1);
    preparePartial();
    ASSERT_EQ(fetch(url, sizeOf(contents), std::nullopt, chunk).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    auto gets = hub.requests("/resolve/");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[1].range, "bytes=" + std::to_string(2 * chunk) + "-");

    hub.clearRequests();
    fs::remove(destination);
    hub.breakBody("file.bin", 2 * chunk + 100'000, 1);
    hub.ignoreRange(true);
    preparePartial();
    ASSERT_EQ(fetch(url, sizeOf(contents), std::nullopt, chunk).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_EQ(hub.requests("/resolve/").size(), 2u);
}

TEST_F(DownloaderTest, AMissingPartialFileIsAFileError) {
    std::string url = serve(patternedBytes(100));
    Outcome outcome = fetch(url, 100);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    EXPECT_TRUE(errorAs<std::system_error>(outcome.last()));
    EXPECT_TRUE(hub.requests("/resolve/").empty());
}

TEST_F(DownloaderTest, AFullDiskFailsWithTheReasonAndKeepsTheWholeChunksForAResume) {
    const std::string contents = patternedBytes(5 * kChunk + 77);
    const std::string url = serve(contents);
    preparePartial();
    Outcome outcome;
    {
        FileSizeLimit limit(static_cast<rlim_t>(2 * kChunk + kChunk / 2));
        outcome = fetch(url, sizeOf(contents));
    }
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<std::system_error>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), std::errc::file_too_large);
    EXPECT_NE(std::string(error->what()).find("cannot write the partial file " + partial.string()), std::string::npos)
        << error->what();
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_EQ(readFile(partial), contents.substr(0, 2 * kChunk));

    ASSERT_EQ(fetch(url, sizeOf(contents)).last().kind, DownloadState::Kind::completed);
    EXPECT_EQ(readFile(destination), contents);
    EXPECT_EQ(hub.requests("/resolve/").back().range, "bytes=" + std::to_string(2 * kChunk) + "-");
}

// The flush before the move is what makes a file in place a whole file after a power cut; when it
// fails, the file stays where a later transfer finds it and nothing is reported as done.
TEST_F(DownloaderTest, AFileThatCannotBeFlushedIsNotMovedIntoPlace) {
    const std::string url = serve(patternedBytes(3 * kChunk));
    fs::create_directories(partial.parent_path());
    fs::create_symlink("/dev/null", partial);  // takes every write, refuses a flush
    Outcome outcome = fetch(url, 3 * kChunk);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<std::system_error>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_NE(std::string(error->what()).find("cannot flush the partial file"), std::string::npos) << error->what();
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_TRUE(fs::is_symlink(partial));
}

TEST_F(DownloaderTest, TheTokenGoesToTheHubButNotToTheContentHost) {
    std::string contents = patternedBytes(3 << 20);
    std::string url = serve(contents, "big.bin");  // above the hub's 1 MiB threshold: served by the content host
    preparePartial();
    ASSERT_EQ(fetch(url, sizeOf(contents), "secret", Downloader::kDefaultChunkSize).last().kind,
              DownloadState::Kind::completed);
    EXPECT_EQ(platform::crypto::Sha256::hex(readFile(destination)),
              FakeHub::sha256Of(root / "models/owner/name/big.bin"));
    auto requests = hub.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].authorization, "Bearer secret");
    EXPECT_EQ(requests[1].host.rfind("localhost:", 0), 0u);
    EXPECT_FALSE(requests[1].authorization);

    // An empty token sends no header at all.
    hub.clearRequests();
    preparePartial();
    ASSERT_EQ(fetch(url, sizeOf(contents), std::string(), Downloader::kDefaultChunkSize).last().kind,
              DownloadState::Kind::completed);
    EXPECT_FALSE(hub.requests().front().authorization);
}

TEST(Broadcaster, ReplaysTheLatestStateAndEndsReadersWhenGone) {
    std::optional<korbit::Broadcaster<int>::Subscription> early, late;
    {
        korbit::Broadcaster<int> broadcaster([] { return std::optional<int>(-1); });
        early = broadcaster.subscribe();
        broadcaster.broadcast(1);
        broadcaster.broadcast(2);
        late = broadcaster.subscribe();
        broadcaster.broadcast(3);
    }
    std::vector<int> seenEarly, seenLate;
    while (auto v = early->next()) seenEarly.push_back(*v);
    while (auto v = late->next()) seenLate.push_back(*v);
    EXPECT_EQ(seenEarly, (std::vector<int>{-1, 1, 2, 3}));
    EXPECT_EQ(seenLate, (std::vector<int>{2, 3}));
}

TEST(Downloader, BackgroundSwitchIsRecordedInTheSessionSettings) {
    Downloader background("/tmp/x", "/tmp/x.incomplete", true);
    EXPECT_TRUE(background.sessionConfig().isBackground);
    EXPECT_EQ(background.sessionConfig().identifier, "tessaloom.hub.downloader");
    EXPECT_FALSE(background.sessionConfig().isDiscretionary);
    EXPECT_TRUE(background.sessionConfig().sessionSendsLaunchEvents);
    EXPECT_EQ(background.chunkSize(), 10485760);
    Downloader foreground("/tmp/x", "/tmp/x.incomplete");
    EXPECT_FALSE(foreground.sessionConfig().isBackground);
}

TEST_F(DownloaderTest, ABodyLongerThanAnnouncedStopsAtTheAnnouncedSize) {
    // The server gives up after 8 MiB, so that an engine without the bound ends with a whole file.
    velmora::test::HostileServer endless(velmora::test::HostileMode::endlessBody, 8u << 20);
    preparePartial();
    const std::string url = endless.endpoint() + "/owner/name/resolve/main/file.bin";
    Outcome outcome = fetch(url, 100000);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<TransportError>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TransportError::Kind::responseTooLarge);
    EXPECT_THAT(error->what(), ::testing::HasSubstr(url));
    EXPECT_THAT(error->what(), ::testing::HasSubstr("100000 bytes"));
    // Not retried, and nothing of it kept to resume from.
    EXPECT_EQ(endless.connections(), 1);
    EXPECT_EQ(Downloader::incompleteFileSize(partial), 0);
    EXPECT_FALSE(fs::exists(destination));
}

TEST_F(DownloaderTest, AHeadTrickledPastItsDeadlineFailsTheTransfer) {
    // A header line every 20 ms keeps the idle time-out from running out; the server gives up
    // after 1000 lines with an empty body.
    velmora::test::HostileServer trickle(velmora::test::HostileMode::trickledHead, 1000, 20ms);
    preparePartial();
    Downloader::Timing timing = fast();
    timing.headDeadline = 300ms;
    Outcome outcome =
        fetch(trickle.endpoint() + "/owner/name/resolve/main/file.bin", std::nullopt, std::nullopt, kChunk, timing);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<TransportError>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TransportError::Kind::timedOut);
    EXPECT_FALSE(fs::exists(destination));
}

// A hub may announce a file larger than the disk: the transfer is refused before a byte is asked
// for, with both figures, instead of filling the disk.
TEST_F(DownloaderTest, AFileLargerThanTheFreeSpaceIsRefusedBeforeAnyRequest) {
    const std::string url = serve(patternedBytes(100));
    preparePartial();
    Outcome outcome = fetch(url, 1'000'000'000'000'000);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<std::system_error>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), std::errc::no_space_on_device);
    EXPECT_THAT(error->what(),
                ::testing::MatchesRegex(destination.string() + " needs 1000000000000000 bytes, but the disk holding " +
                                        partial.parent_path().string() + " has [0-9]+ bytes free.*"));
    EXPECT_TRUE(hub.requests("/resolve/").empty());
    EXPECT_EQ(Downloader::incompleteFileSize(partial), 0);
    EXPECT_FALSE(fs::exists(destination));
}

// /dev/full refuses every write as a full disk does: the error says so and where.
TEST_F(DownloaderTest, ADiskThatFillsDuringTheTransferEndsItSayingSo) {
    const std::string url = serve(patternedBytes(3 * kChunk));
    fs::create_directories(partial.parent_path());
    fs::create_symlink("/dev/full", partial);
    Outcome outcome = fetch(url, 3 * kChunk);
    ASSERT_EQ(outcome.last().kind, DownloadState::Kind::failed);
    const auto error = errorAs<std::system_error>(outcome.last());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), std::errc::no_space_on_device);
    EXPECT_THAT(error->what(), ::testing::HasSubstr("cannot write the partial file " + partial.string() +
                                                    ": the disk is full; the bytes written so far stay there"));
    EXPECT_EQ(hub.requests("/resolve/").size(), 1u) << "not retried";
    EXPECT_FALSE(fs::exists(destination));
}
