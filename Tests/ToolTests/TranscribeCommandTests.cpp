// velmora-dev transcribe: whole recordings of the trained test model through the transcription
// task, written as plain text, SubRip, WebVTT and JSON transcripts, and one clear line for each kind
// of bad input.

#include "ToolTests/ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <iterator>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kModel = dataPath("models/test-speech").string();
const std::string kTokenizer = dataPath("whisper-tokenizer/multilingual").string();
const std::string kLong = dataPath("testmodel/long-en.flac").string();  // 43 s, more than one window
const std::string kShort = dataPath("testmodel/en-01.wav").string();    // 2.22 s

ToolRun transcribe(std::vector<std::string> extra) {
    std::vector<std::string> arguments{"transcribe", kModel};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("--tokenizer");
    arguments.push_back(kTokenizer);
    return runTool(arguments);
}

TEST(TranscribeCommand, WritesTimedTranscriptsOfALongRecording) {
    TempDir folder;
    for (const std::string format : {"srt", "vtt", "json"}) {
        SCOPED_TRACE(format);
        const ToolRun run =
            transcribe({kLong, "--word-timestamps", "--format", format, "--output-dir", folder.path().string()});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto file = folder / ("long-en." + format);
        EXPECT_EQ(run.out, file.string() + "\n");
        // One progress line per window with segments.
        EXPECT_GE(lineCount(run.err), 2) << run.err;
        EXPECT_THAT(run.err, HasSubstr(kLong + ": "));
        EXPECT_THAT(run.err, HasSubstr(" of 43.3 s\n"));
        const std::string text = readFile(file);
        // One cue per word, the first one "zero".
        if (format == "srt") {
            EXPECT_THAT(text, StartsWith("1\n00:00:00,"));
        } else if (format == "vtt") {
            EXPECT_THAT(text, StartsWith("WEBVTT\n\n00:00."));
        }
        if (format != "json") {
            EXPECT_THAT(text, HasSubstr("\n zero\n"));
        }
        if (format != "json") continue;
        const auto result = nlohmann::json::parse(text);
        ASSERT_GE(result["segments"].size(), 2u);
        for (const auto& segment : result["segments"]) {
            ASSERT_TRUE(segment.contains("words"));
            EXPECT_EQ(segment["text"].get<std::string>().find("<|"), std::string::npos) << segment["text"];
            for (const auto& word : segment["words"]) {
                EXPECT_LE(segment["start"].get<double>(), word["start"].get<double>());
                EXPECT_LE(word["end"].get<double>(), segment["end"].get<double>());
            }
        }
        EXPECT_THAT(result["text"].get<std::string>(), StartsWith("zero garden friend"));
        EXPECT_EQ(result["language"], "en");
    }
}

TEST(TranscribeCommand, TranscribesEveryFileAndGoesOnPastOneThatFails) {
    TempDir folder;
    const std::string missing = (folder / "missing.wav").string();
    const ToolRun run =
        transcribe({dataPath("testmodel/en-01.wav").string(), missing, dataPath("testmodel/en-06.wav").string(),
                    "--output-dir", (folder / "out").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, (folder / "out/en-01.txt").string() + "\n" + (folder / "out/en-06.txt").string() + "\n");
    // Short recordings print no progress; the failure is one line naming the file.
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_THAT(run.err, StartsWith("error: " + missing + ": "));
    EXPECT_THAT(readFile(folder / "out/en-01.txt"), HasSubstr("friend twelve"));
    EXPECT_THAT(readFile(folder / "out/en-06.txt"), HasSubstr("pencil family\n"));
}

TEST(TranscribeCommand, RecordingsOfTheSameNameGetTranscriptsOfTheirOwn) {
    TempDir folder;
    // Two recordings named en-01.wav in different folders, one named like the second's new name,
    // and the first given twice.
    fs::create_directories(folder / "a");
    fs::create_directories(folder / "b");
    const std::string first = (folder / "a/en-01.wav").string(), second = (folder / "b/en-01.flac").string(),
                      third = (folder / "en-01-2.wav").string();
    fs::copy_file(dataPath("testmodel/en-01.wav"), first);
    fs::copy_file(dataPath("testmodel/en-06.wav"), second);
    fs::copy_file(dataPath("testmodel/ru-04.wav"), third);
    const fs::path out = folder / "out";
    for (const std::string workers : {"1", "2"}) {
        SCOPED_TRACE(workers);
        fs::remove_all(out);
        const ToolRun run = transcribe(
            {first, second, third, first, "--language", "en", "--workers", workers, "--output-dir", out.string()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, (out / "en-01.txt").string() + "\n" + (out / "en-01-2.txt").string() + "\n" +
                               (out / "en-01-2-2.txt").string() + "\n" + (out / "en-01-3.txt").string() + "\n");
        EXPECT_THAT(readFile(out / "en-01.txt"), HasSubstr("friend twelve"));
        EXPECT_THAT(readFile(out / "en-01-2.txt"), HasSubstr("pencil family"));
        EXPECT_THAT(readFile(out / "en-01-3.txt"), HasSubstr("friend twelve"));
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 4);
        // Each renamed transcript is named on standard error beside its recording.
        EXPECT_THAT(run.err, HasSubstr(second + ": written as " + (out / "en-01-2.txt").string()));
        EXPECT_THAT(run.err, HasSubstr(third + ": written as " + (out / "en-01-2-2.txt").string()));
        EXPECT_THAT(run.err, HasSubstr(first + ": written as " + (out / "en-01-3.txt").string()));
        EXPECT_EQ(lineCount(run.err), 3) << run.err;
    }
}

// A recording named talk.json, transcribed as JSON into its own folder, was overwritten by its
// transcript. An output that is an input's file, by its name or through a link, is refused before
// anything is done.
TEST(TranscribeCommand, RefusesToWriteOverItsOwnInput) {
    TempDir folder;
    const fs::path recording = folder / "x/talk.json";
    fs::create_directories(recording.parent_path());
    fs::copy_file(kShort, recording);
    fs::create_directory_symlink("x", folder / "linked");
    for (const fs::path& output : {folder / "x", folder / "linked"}) {
        const ToolRun run = transcribe({recording.string(), "--format", "json", "--output-dir", output.string()});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "error: transcribe: the output " + (output / "talk.json").string() +
                               " would overwrite the input " + recording.string() +
                               " (velmora-dev transcribe --help)\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(readFile(recording), readFile(kShort));

    // A model's files lie in its bundles: the decoder's description was replaced by a transcript.
    const fs::path model = folder / "mm";
    fs::copy(kModel, model, fs::copy_options::recursive);
    const fs::path named = folder / "model.wav";
    fs::copy_file(kShort, named);
    const fs::path bundle = model / "TextDecoder.mlmodelc";
    const ToolRun run = runTool({"transcribe", model.string(), named.string(), "--format", "json", "--output-dir",
                                 bundle.string(), "--tokenizer", kTokenizer});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "error: transcribe: the output " + (bundle / "model.json").string() +
                           " would overwrite the input " + (bundle / "model.json").string() +
                           " (velmora-dev transcribe --help)\n");
    EXPECT_TRUE(readFile(bundle / "model.json") == readFile(kModel + "/TextDecoder.mlmodelc/model.json"))
        << "the decoder's description is as it was";
}

TEST(TranscribeCommand, ClipsAndLanguageSteerTheRun) {
    TempDir folder;
    const ToolRun clipped =
        transcribe({kLong, "--clip", "0,5", "--format", "json", "--output-dir", folder.path().string()});
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    const auto result = nlohmann::json::parse(readFile(folder / "long-en.json"));
    ASSERT_FALSE(result["segments"].empty());
    for (const auto& segment : result["segments"]) EXPECT_LE(segment["end"].get<double>(), 5.02);
    EXPECT_EQ(clipped.err, "") << "a clip shorter than a window shows no progress";

    const ToolRun russian = transcribe(
        {dataPath("testmodel/ru-04.wav").string(), "--language", "ru", "--output-dir", folder.path().string()});
    ASSERT_EQ(russian.status, 0) << russian.err;
    EXPECT_THAT(readFile(folder / "ru-04.txt"), HasSubstr("карандаш"));
}

TEST(TranscribeCommand, RefusesBadOptionsByName) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const auto& c :
         {Case{{kLong, "--format", "doc"}, "--format must be txt, srt, vtt or json, not 'doc'"},
          Case{{kLong, "--language", "xx"}, "--language needs a language code"},
          // A language of the library that the test tokenizer has no token for.
          Case{{kShort, "--language", "yue"},
               "transcribe: --language yue: the vocabulary has no language token <|yue|>"},
          Case{{kLong, "--clip", "1,x"}, "--clip"}, Case{{kLong, "--clip", "-1"}, "--clip"}, Case{{}, "audio-file"},
          Case{{""}, "transcribe: <audio-file> is empty"},
          // A clip past the end of a 2.22 s recording, alone or with a longer one.
          Case{{kShort, "--clip", "100,200"}, "--clip 100,200: 100 is past the end of " + kShort + " (2.22 s)"},
          Case{{kLong, kShort, "--clip", "0,30"}, "--clip 0,30: 30 is past the end of " + kShort},
          Case{{kShort, kLong, "--clip", "40", "--workers", "2"}, "--clip 40: 40 is past the end of " + kShort}}) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        TempDir folder;
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--output-dir", (folder / "out").string()});
        const ToolRun run = transcribe(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(folder / "out")) << "no transcript of a refused run";
    }
    const ToolRun noModel = runTool({"transcribe", "/nonexistent-model", kLong});
    EXPECT_EQ(noModel.status, 1);
    EXPECT_THAT(noModel.err, HasSubstr("no model folder at /nonexistent-model"));
}

}  // namespace
}  // namespace velmora::test
