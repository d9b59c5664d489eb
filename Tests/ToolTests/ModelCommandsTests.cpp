// velmora-dev models, download and transcribe --variant against the loopback hub serving the
// repository that scripts/fake-model-repo lays out: the trained test model as a variant, a support
// file and the speech tokenizer. From a repository name to transcripts, and one error line for a
// variant the repository lacks or a download that fails.

#include "ToolTests/ToolRun.hpp"

#include "FakeHub/FakeHub.hpp"
#include "FakeHub/HostileServer.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kRepoFolder = "models/korbitinc/tremolan-coreml/openai_whisper-test-base";

/// The repository served on loopback, and a download base of its own.
class ModelCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        served_ = new TempDir("velmora-served");
        const ToolRun layout = runProgram((dataPath().parent_path().parent_path() / "scripts/fake-model-repo").string(),
                                          {served_->path().string()});
        ASSERT_EQ(layout.status, 0) << layout.err;
    }
    static void TearDownTestSuite() {
        delete served_;
        served_ = nullptr;
    }

    ToolRun tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--endpoint", hub.endpoint(), "--base", base.path().string()});
        return runTool(arguments);
    }
    std::vector<std::string> filesBelow(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static TempDir* served_;
    FakeHub hub{served_->path()};
    TempDir base{"velmora-base"};
    TempDir out{"velmora-out"};
};
TempDir* ModelCommands::served_ = nullptr;

TEST_F(ModelCommands, ModelsListsTheRepositorysRecommendationElseTheBuiltInTable) {
    const ToolRun run = runTool({"models", "--endpoint", hub.endpoint()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recommended: openai_whisper-test-base\navailable:\n  openai_whisper-test-base\n");
    EXPECT_EQ(run.err, "");

    // A repository without a support file: the library's own table answers, without the test model.
    const ToolRun fallback = runTool({"models", "--repo", "openai/whisper-base", "--endpoint", hub.endpoint()});
    ASSERT_EQ(fallback.status, 0) << fallback.err;
    EXPECT_THAT(fallback.out, StartsWith("recommended: openai_whisper-"));
    EXPECT_THAT(fallback.out, HasSubstr("\navailable:\n  openai_whisper-"));
    EXPECT_THAT(fallback.out, ::testing::Not(HasSubstr("test-base")));
    EXPECT_THAT(fallback.err,
                StartsWith("warning: no model support file from openai/whisper-base at " + hub.endpoint() +
                           " (no file matching \"config.json\" in openai/whisper-base)"));
}

TEST(ModelsCommand, SaysOnStandardErrorWhenTheBuiltInTableAnswersForABrokenHub) {
    // The endless listing gives up after 64 MiB, so that a tool without a cap ends too.
    const HostileServer endless(HostileMode::endlessBody, 64u << 20);
    const HostileServer garbage(HostileMode::garbageJson);
    for (const auto* server : {&endless, &garbage}) {
        const ToolRun run = runTool({"models", "--endpoint", server->endpoint()});
        SCOPED_TRACE(run.err);
        EXPECT_EQ(run.status, 0);
        EXPECT_THAT(run.out, StartsWith("recommended: openai_whisper-"));
        EXPECT_EQ(lineCount(run.err), 1);
        EXPECT_THAT(run.err, StartsWith("warning: no model support file from korbitinc/tremolan-coreml at " +
                                        server->endpoint() + " ("));
        EXPECT_THAT(run.err, HasSubstr(server->endpoint() + "/api/models/korbitinc/tremolan-coreml/revision/main"));
        EXPECT_THAT(run.err, EndsWith("the built-in table answers\n"));
    }
    EXPECT_THAT(runTool({"models", "--endpoint", endless.endpoint()}).err, HasSubstr("larger than 8 MiB"));
}

TEST_F(ModelCommands, DownloadFetchesTheVariantsFolderWithAProgressBar) {
    const ToolRun run = tool({"download", "test-base"});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path folder = base / kRepoFolder;
    EXPECT_EQ(run.out, folder.string() + "\n");
    EXPECT_EQ(filesBelow(folder), filesBelow(dataPath("models/test-speech")));
    for (const auto& name : filesBelow(folder))
        EXPECT_EQ(readFile(folder / name), readFile(dataPath("models/test-speech") / name)) << name;
    // One line redrawn in place, ending full.
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_THAT(run.err, StartsWith("\rtest-base ["));
    EXPECT_THAT(run.err, HasSubstr("[##############################] 100%"));
    EXPECT_THAT(run.err, EndsWith("\n"));
}

TEST_F(ModelCommands, AMissingVariantOrAFailedDownloadIsOneErrorLine) {
    const ToolRun missing = tool({"download", "large-v9"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(lineCount(missing.err), 1) << missing.err;
    EXPECT_THAT(missing.err,
                StartsWith("error: download of 'large-v9' failed: No models found matching \"*openai*large-v9/*\""));

    hub.answerStatus("GET", "TextDecoder", 500);
    const ToolRun failed = tool({"download", "test-base"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    // The progress line is ended before the error's own line.
    EXPECT_THAT(failed.err, HasSubstr("\nerror: download of 'test-base' failed: "));
    EXPECT_EQ(failed.err.find("error:"), failed.err.rfind("error:")) << failed.err;
    EXPECT_THAT(failed.err, EndsWith("\n"));

    const ToolRun transcribe = tool({"transcribe", "--variant", "large-v9", dataPath("testmodel/en-01.wav").string()});
    EXPECT_EQ(transcribe.status, 1);
    EXPECT_EQ(lineCount(transcribe.err), 1) << transcribe.err;
    EXPECT_THAT(transcribe.err, HasSubstr("No models found matching \"*openai*large-v9/*\""));
}

// Without the hub a whole copy on disk serves, with a warning; without one the error names the hub.
TEST_F(ModelCommands, DownloadUsesTheCopyOnDiskWhenTheHubCannotBeReached) {
    ASSERT_EQ(tool({"download", "test-base"}).status, 0);
    const fs::path folder = base / kRepoFolder;
    const ToolRun offline =
        runTool({"download", "test-base", "--endpoint", "http://127.0.0.1:9", "--base", base.path().string()});
    ASSERT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(offline.out, folder.string() + "\n");
    EXPECT_THAT(offline.err, StartsWith("warning: The model hub at http://127.0.0.1:9 could not be reached ("));
    EXPECT_THAT(offline.err, EndsWith("; using the copy on disk in " + folder.string() + "\n"));

    TempDir empty{"velmora-empty"};
    const ToolRun none =
        runTool({"download", "test-base", "--endpoint", "http://127.0.0.1:9", "--base", empty.path().string()});
    EXPECT_EQ(none.status, 1);
    EXPECT_THAT(none.err, StartsWith("error: download of 'test-base' failed: The model hub at http://127.0.0.1:9 "
                                     "could not be reached ("));
    EXPECT_THAT(none.err, HasSubstr("; no complete copy of \"test-base\" is in "));
}

TEST_F(ModelCommands, TranscribeAVariantInABatchDetectingEachLanguage) {
    std::vector<std::string> files;
    for (const char* name : {"en-01.wav", "ru-02.wav", "en-03.wav", "ru-04.wav", "en-05.wav"})
        files.push_back(dataPath(std::string("testmodel/") + name).string());
    std::vector<std::string> arguments{"transcribe", "--variant", "test-base",    "--detect-language",
                                       "--workers",  "3",         "--output-dir", out.path().string()};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ToolRun run = tool(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    // The tokenizer came from the same hub, into the download base.
    EXPECT_TRUE(fs::exists(base / "models/openai/whisper-base/tokenizer.json"));

    std::string expectedOut;
    for (const auto& file : files) {
        const std::string stem = fs::path(file).stem().string();
        const std::string language = stem.substr(0, 2);
        expectedOut += (out / (stem + ".txt")).string() + "\n";
        EXPECT_THAT(run.err, HasSubstr(file + ": language " + language + "\n"));
        // The same text as the recording alone, through the downloaded folder in the given language.
        TempDir alone;
        const ToolRun single =
            runTool({"transcribe", (base / kRepoFolder).string(), file, "--language", language, "--tokenizer",
                     dataPath("whisper-tokenizer/multilingual").string(), "--output-dir", alone.path().string()});
        ASSERT_EQ(single.status, 0) << single.err;
        const std::string text = readFile(out / (stem + ".txt"));
        EXPECT_FALSE(text.empty()) << stem;
        EXPECT_EQ(text, readFile(alone / (stem + ".txt"))) << stem;
    }
    EXPECT_EQ(run.out, expectedOut);
}

TEST_F(ModelCommands, ChunkingAtSilencesKeepsTheTimesOfTheWholeRecording) {
    const std::string longRecording = dataPath("testmodel/long-en.flac").string();
    const ToolRun run = tool({"transcribe", "--variant", "test-base", "--chunking", "vad", "--workers", "2", "--format",
                              "json", "--output-dir", out.path().string(), longRecording});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto result = nlohmann::json::parse(readFile(out / "long-en.json"));
    const auto& segments = result["segments"];
    ASSERT_GE(segments.size(), 3u);
    // The pieces' segments follow one another on the recording's time line, each at or after the
    // window it was found in: a piece's times were moved together with its seeks.
    double previousStart = -1, lastSeek = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const double start = segments[i]["start"].get<double>();
        const double seek = segments[i]["seek"].get<double>() / 16000.0;
        EXPECT_GE(start, previousStart) << i;
        EXPECT_GE(start, seek - 0.05) << i;
        EXPECT_LT(start, seek + 30.0) << i;
        previousStart = start;
        lastSeek = std::max(lastSeek, seek);
    }
    // The first piece ends at a pause before 15 s.
    EXPECT_GT(lastSeek, 10.0);
    EXPECT_LE(segments.back()["end"].get<double>(), 43.4);
    EXPECT_THAT(result["text"].get<std::string>(), StartsWith("zero garden friend"));
}

TEST_F(ModelCommands, ConflictingOrUnknownTranscribeOptionsAreRefused) {
    const std::string file = dataPath("testmodel/en-01.wav").string();
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"transcribe", "--variant", "test-base", "--language", "en", "--detect-language", file},
             {"transcribe", "--variant", "test-base", "--chunking", "silence", file},
             {"transcribe", "--variant", "test-base", "--workers", "0", file},
             {"transcribe", "--variant", "test-base"}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun run = tool(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
    }
    // Nothing was downloaded for a refused command line.
    EXPECT_TRUE(hub.requests().empty());
}

}  // namespace
}  // namespace velmora::test
