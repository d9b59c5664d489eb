// velmora-dev download and transcribe --variant when the hub goes away after the download, answers
// what no hub answers, or announces a file larger than the disk, and when a folder stands where a
// downloaded file was.

#include "ToolTests/ToolRun.hpp"

#include "FakeHub/FakeHub.hpp"
#include "FakeHub/HostileServer.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/HeardText.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr const char* kClosed = "http://127.0.0.1:9";

/// The trained test model served as the variant "test-base" with the tokenizer its widths call for,
/// and a download base of the test's own.
class DownloadedModel : public ::testing::Test {
protected:
    void SetUp() override {
        repository.addTestModel("openai_whisper-test-base");
        repository.addTokenizer("base");
    }
    ToolRun download(const std::string& endpoint) {
        return runTool({"download", "test-base", "--base", base.path().string(), "--endpoint", endpoint});
    }
    /// en-01.wav transcribed through the variant, its transcript in `out`.
    ToolRun transcribe(const std::string& endpoint) {
        return runTool({"transcribe", "--variant", "test-base", "--base", base.path().string(), "--endpoint", endpoint,
                        "--output-dir", out.path().string(), dataPath("testmodel/en-01.wav").string()});
    }
    void expectTheTranscriptIsRight() {
        const std::string text = readFile(out / "en-01.txt");
        velmora::test::expectHeard("en-01.wav", text, 1);
    }
    fs::path tokenizerFolder() const { return base / "models/openai/whisper-base"; }

    TempDir served{"velmora-served"};
    TempDir base{"velmora-base"};
    TempDir out{"velmora-out"};
    FakeModelRepository repository{served.path()};
};

TEST_F(DownloadedModel, TheDownloadBringsTheTokenizerSoThatNoHubIsNeededAfterIt) {
    {
        FakeHub hub(served.path());
        const ToolRun fetched = download(hub.endpoint());
        ASSERT_EQ(fetched.status, 0) << fetched.err;
    }
    EXPECT_EQ(readFile(tokenizerFolder() / "tokenizer.json"),
              readFile(dataPath("whisper-tokenizer/multilingual/tokenizer.json")));

    const ToolRun offline = transcribe(kClosed);
    ASSERT_EQ(offline.status, 0) << offline.err;
    EXPECT_THAT(offline.err, HasSubstr("warning: The model hub at http://127.0.0.1:9 could not be reached ("));
    EXPECT_THAT(offline.err, HasSubstr("; using the copy on disk in "));
    expectTheTranscriptIsRight();
}

TEST_F(DownloadedModel, WithoutItsTokenizerOrTheHubTheErrorSaysBoth) {
    {
        FakeHub hub(served.path());
        ASSERT_EQ(download(hub.endpoint()).status, 0);
    }
    fs::remove_all(tokenizerFolder());
    for (const auto& run : {download(kClosed), transcribe(kClosed)}) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr("the tokenizer openai/whisper-base of this model is not on this computer"));
        EXPECT_THAT(run.err, HasSubstr("The model hub at http://127.0.0.1:9 could not be reached ("));
    }
}

// A Wi-Fi portal answers every address with its sign-in page: no hub's answer, so the copy on disk serves.
TEST_F(DownloadedModel, AHubAnswerThatIsNoListingLeavesTheCopyOnDiskInUseAndIsQuoted) {
    {
        FakeHub hub(served.path());
        ASSERT_EQ(download(hub.endpoint()).status, 0);
    }
    const HostileServer portal(HostileMode::portalPage);
    const ToolRun run = transcribe(portal.endpoint());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("warning: The model hub at " + portal.endpoint() + " answered what is no hub's"));
    EXPECT_THAT(run.err, HasSubstr("is not a listing (it begins \"<!DOCTYPE html>"));
    EXPECT_THAT(run.err, HasSubstr("; using the copy on disk in "));
    expectTheTranscriptIsRight();
}

// A folder where a downloaded file was is no file. One that holds anything stays, and the download
// fails naming it; an empty one makes room: the file is fetched in its place, and the model serves.
TEST_F(DownloadedModel, AFolderAtADownloadedFileIsFetchedOverWhenEmptyAndNamedOtherwise) {
    FakeHub hub(served.path());
    ASSERT_EQ(download(hub.endpoint()).status, 0);
    const fs::path weights = base.path() / "models" / FakeModelRepository::kRepo /
                             "openai_whisper-test-base/AudioEncoder.mlmodelc/weights.safetensors";
    fs::remove(weights);
    writeFile(weights / "notes.txt", "mine");
    const ToolRun refused = download(hub.endpoint());
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("error: download of 'test-base' failed: Cannot put the downloaded file at " +
                                       weights.string() + " (a folder, not a file): Directory not empty\n"));
    EXPECT_EQ(readFile(weights / "notes.txt"), "mine");

    fs::remove(weights / "notes.txt");
    const ToolRun fetched = download(hub.endpoint());
    ASSERT_EQ(fetched.status, 0) << fetched.err;
    EXPECT_EQ(readFile(weights), readFile(dataPath("models/test-speech/AudioEncoder.mlmodelc/weights.safetensors")));
    const ToolRun run = transcribe(hub.endpoint());
    ASSERT_EQ(run.status, 0) << run.err;
    expectTheTranscriptIsRight();
}

// A transcript named like a tokenizer file replaced the downloaded tokenizer, and the next run
// without the hub failed. The variant's files are inputs, brought by the download or there before
// it; refused before any of them is asked for when they are there.
TEST_F(DownloadedModel, AnOutputOverTheDownloadedTokenizerIsRefused) {
    const fs::path named = out / "tokenizer.wav";
    fs::copy_file(dataPath("testmodel/en-01.wav"), named);
    const fs::path tokenizer = tokenizerFolder() / "tokenizer.json";
    FakeHub hub(served.path());
    auto transcribeInto = [&](const fs::path& folder) {
        return runTool({"transcribe", "--variant", "test-base", "--base", base.path().string(), "--endpoint",
                        hub.endpoint(), "--format", "json", "--output-dir", folder.string(), named.string()});
    };
    const std::string refused = "error: transcribe: the output " + tokenizer.string() + " would overwrite the input " +
                                tokenizer.string() + " (velmora-dev transcribe --help)\n";
    const ToolRun downloaded = transcribeInto(tokenizerFolder());
    EXPECT_EQ(downloaded.status, 2);
    EXPECT_TRUE(downloaded.err.ends_with(refused)) << downloaded.err;
    EXPECT_TRUE(readFile(tokenizer) == readFile(dataPath("whisper-tokenizer/multilingual/tokenizer.json")))
        << "the tokenizer is as downloaded";

    const std::size_t asked = hub.requests().size();
    const ToolRun there = transcribeInto(tokenizerFolder());
    EXPECT_EQ(there.status, 2);
    EXPECT_EQ(there.err, refused);
    EXPECT_EQ(hub.requests().size(), asked) << "nothing was downloaded";
    EXPECT_TRUE(readFile(tokenizer) == readFile(dataPath("whisper-tokenizer/multilingual/tokenizer.json")))
        << "the tokenizer is as downloaded";
    // The model's files are the variant's too.
    const fs::path model = base / "models" / FakeModelRepository::kRepo / "openai_whisper-test-base";
    fs::copy_file(named, out / "model.wav");
    const ToolRun decoder = runTool({"transcribe", "--variant", "test-base", "--base", base.path().string(),
                                     "--endpoint", hub.endpoint(), "--format", "json", "--output-dir",
                                     (model / "TextDecoder.mlmodelc").string(), (out / "model.wav").string()});
    EXPECT_EQ(decoder.status, 2);
    EXPECT_THAT(decoder.err,
                HasSubstr("would overwrite the input " + (model / "TextDecoder.mlmodelc/model.json").string()));
    EXPECT_EQ(hub.requests().size(), asked);
}

TEST_F(DownloadedModel, AFileLargerThanTheDiskIsRefusedBeforeAByteIsWritten) {
    FakeHub hub(served.path());
    hub.overrideHeader("X-Linked-Size", "1000000000000000");
    const ToolRun run = download(hub.endpoint());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_search(
        run.err, std::regex("error: download of 'test-base' failed: .+\\.mlmodelc/[a-z.]+ needs 1000000000000000 "
                            "bytes, but the disk holding .+ has [0-9]+ bytes free")))
        << run.err;
    for (const auto& entry : fs::recursive_directory_iterator(base.path())) {
        if (entry.is_regular_file() && entry.path().extension() == ".incomplete") {
            EXPECT_EQ(entry.file_size(), 0u) << entry.path();
        }
    }
    EXPECT_TRUE(hub.requests("/cdn/").empty()) << "no transfer began";
}

}  // namespace
}  // namespace velmora::test
