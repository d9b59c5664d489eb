// transcribe-greedy and speech write as the README has a new user run them: bad inputs are refused
// with a line that says what is wrong, and a transcript can be written out as subtitles.

#include "ToolTests/ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <utility>

namespace velmora::test {
namespace {

using ::testing::HasSubstr;

const std::string kModel = dataPath("models/test-speech").string();
const std::string kTokenizer = dataPath("whisper-tokenizer/multilingual").string();
const std::string kAudio = dataPath("audio/jfk.flac").string();

// A 16 kHz mono 16-bit WAV file with no samples.
std::string emptyWav() {
    std::string bytes = "RIFF";
    auto add32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto add16 = [&](std::uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xff));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    add32(36);
    bytes += "WAVEfmt ";
    add32(16);
    add16(1);  // PCM
    add16(1);  // mono
    add32(16000);
    add32(32000);
    add16(2);
    add16(16);
    bytes += "data";
    add32(0);
    return bytes;
}

void expectFailure(const ToolRun& run, const std::string& message) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_EQ(run.out, "");
}

TEST(TranscribeGreedy, RefusesWhatWouldGiveGarbage) {
    const ToolRun unknownLanguage = runTool({"transcribe-greedy", kModel, kTokenizer, kAudio, "--language", "xx"});
    EXPECT_EQ(unknownLanguage.status, 2);
    EXPECT_EQ(unknownLanguage.err,
              "error: transcribe-greedy: --language needs a language code such as en or ru, not "
              "'xx' (velmora-dev transcribe-greedy --help)\n");
    // The English-only tokenizer has one token fewer than the model's multilingual vocabulary.
    const std::string english = dataPath("whisper-tokenizer/english").string();
    expectFailure(runTool({"transcribe-greedy", kModel, english, kAudio}),
                  "the tokenizer in " + english + " does not match the model in " + kModel +
                      ": the model has a vocabulary of 51865 tokens, the tokenizer 51864");

    TempDir folder;
    writeFile(folder / "empty.wav", emptyWav());
    expectFailure(runTool({"transcribe-greedy", kModel, kTokenizer, (folder / "empty.wav").string()}),
                  "the audio file " + (folder / "empty.wav").string() + " holds no samples");
    expectFailure(runTool({"transcribe-greedy", kModel, (folder / "nowhere").string(), kAudio}),
                  "there is no folder " + (folder / "nowhere").string());
}

TEST(TranscribeGreedy, WritesAResultThatSpeechWriteTurnsIntoSubtitles) {
    TempDir folder;
    const std::string result = (folder / "new/jfk.json").string();
    // A folder that is not there is not made, as for --dump-mel and every file the tool writes.
    const ToolRun nowhere = runTool({"transcribe-greedy", kModel, kTokenizer, kAudio, "--result", result});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_THAT(nowhere.err, HasSubstr("error: Cannot write " + result + ": the folder " + (folder / "new").string() +
                                       " does not exist"));
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
    std::filesystem::create_directory(folder / "new");
    const ToolRun transcribed = runTool({"transcribe-greedy", kModel, kTokenizer, kAudio, "--result", result});
    ASSERT_EQ(transcribed.status, 0) << transcribed.err;
    ASSERT_TRUE(std::filesystem::exists(result));

    const ToolRun written =
        runTool({"speech", "write", "srt", result, "--output-dir", (folder / "subtitles").string()});
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "file://" + (folder / "subtitles/jfk.srt").string() + "\n");
    const std::string srt = readFile(folder / "subtitles/jfk.srt");
    EXPECT_THAT(srt, ::testing::StartsWith("1\n00:00:00,000 --> 00:00:11,000\n"));
    // The transcript's text, as transcribe-greedy printed it.
    const std::size_t text = transcribed.out.find("text: ");
    ASSERT_NE(text, std::string::npos);
    EXPECT_THAT(srt, HasSubstr(transcribed.out.substr(text + 6)));

    const ToolRun notJson =
        runTool({"transcribe-greedy", kModel, kTokenizer, kAudio, "--result", (folder / "r.txt").string()});
    EXPECT_EQ(notJson.status, 2);
    EXPECT_THAT(notJson.err, HasSubstr("--result needs a file name ending in .json"));
}

// --result and --dump-mel replaced a file of the model's bundles: its next load failed.
TEST(TranscribeGreedy, RefusesToWriteOverTheModel) {
    TempDir folder;
    const std::filesystem::path model = folder / "mm";
    std::filesystem::copy(kModel, model, std::filesystem::copy_options::recursive);
    for (const auto& [option, file] : {std::pair{"--result", "TextDecoder.mlmodelc/model.json"},
                                       std::pair{"--dump-mel", "AudioEncoder.mlmodelc/weights.safetensors"}}) {
        SCOPED_TRACE(option);
        const std::string output = (model / file).string();
        const ToolRun run = runTool({"transcribe-greedy", model.string(), kTokenizer, kAudio, option, output});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "error: transcribe-greedy: the output " + output + " would overwrite the input " + output +
                               " (velmora-dev transcribe-greedy --help)\n");
        EXPECT_TRUE(readFile(output) == readFile(kModel + "/" + file)) << "the model's file is as it was";
    }
}

TEST(SpeechWrite, TheNameIsAFileOfTheOutputFolder) {
    TempDir folder;
    const std::string result = (folder / "jfk.json").string();
    ASSERT_EQ(runTool({"transcribe-greedy", kModel, kTokenizer, kAudio, "--result", result}).status, 0);
    const std::string out = (folder / "a/b/out").string();
    for (const std::string name : {"../../escape", "sub/name", "", ".", ".."}) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool({"speech", "write", "srt", result, "--output-dir", out, "--name", name});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr("speech write: --name "));
        EXPECT_EQ(run.out, "");
    }
    // Nothing was written, inside the folder or out of it.
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path()))
        if (entry.is_regular_file()) files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"jfk.json"});
}

TEST(SpeechWrite, NamesTheFileThatIsNoResult) {
    TempDir folder;
    writeFile(folder / "broken.json", "{");
    writeFile(folder / "other.json", R"({"text": 1})");
    expectFailure(
        runTool({"speech", "write", "vtt", (folder / "broken.json").string()}),
        (folder / "broken.json").string() + " is not a transcription result: The given data was not valid JSON");
    expectFailure(runTool({"speech", "write", "vtt", (folder / "other.json").string()}),
                  (folder / "other.json").string() + " is not a transcription result: Expected a string for \"text\"");
    expectFailure(runTool({"speech", "write", "vtt", (folder / "none.json").string()}),
                  "Cannot open " + (folder / "none.json").string());
    const ToolRun unknownFormat = runTool({"speech", "write", "ass", (folder / "other.json").string()});
    EXPECT_EQ(unknownFormat.status, 2);
    EXPECT_EQ(unknownFormat.err,
              "error: speech write: unknown transcript format 'ass' (srt, vtt or json) (velmora-dev speech --help)\n");
}

}  // namespace
}  // namespace velmora::test
