// The developer tool's command lines: every command refuses what it does not know with one line
// that names the option, and takes what it knows in either spelling.

#include "ToolTests/ToolRun.hpp"

#include "FakeHub/FakeHub.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

const std::string kEnglishTokenizer = dataPath("whisper-tokenizer/english").string();

void expectUsageError(const std::vector<std::string>& arguments, const std::string& named,
                      const std::map<std::string, std::string>& environment = {}) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const ToolRun run = runTool(arguments, environment);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("stoi"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(CommandLine, TheToolAloneOrAnUnknownCommandIsAUsageError) {
    const ToolRun alone = runTool({});
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.out, "");
    EXPECT_TRUE(alone.err.starts_with("usage: velmora-dev <command> [arguments]\n")) << alone.err;
    EXPECT_NE(alone.err.find("transcribe-greedy"), std::string::npos) << alone.err;
    const ToolRun bogus = runTool({"bogus"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_EQ(bogus.out, "");
    EXPECT_EQ(bogus.err, "error: unknown command 'bogus' (velmora-dev --help)\n");
    expectUsageError({"--bogus"}, "unknown command '--bogus'");
    expectUsageError({""}, "unknown command ''");
}

TEST(CommandLine, UnknownOptionsAreRefusedOnEveryCommandWithoutActing) {
    TempDir folder;
    expectUsageError({"model", "random", (folder / "m").string(), "--sise", "base"}, "--sise");
    EXPECT_FALSE(fs::exists(folder / "m"));
    expectUsageError({"model", "describe", "x", "--verbose"}, "--verbose");
    expectUsageError({"tok", "encode", kEnglishTokenizer, "--no-specials", "Hello"}, "--no-specials");
    expectUsageError({"tok", "encode", kEnglishTokenizer, "--skip-special", "Hello"}, "--skip-special");
    expectUsageError({"speech", "options", "--pretty"}, "--pretty");
    expectUsageError({"speech", "write", "srt", "r.json", "--output", "x"}, "--output");
    expectUsageError({"transcribe-greedy", "m", "t", "a.wav", "--lang", "ru"}, "--lang");
    expectUsageError({"model", "random", (folder / "m").string(), "-s"}, "-s");
    expectUsageError({"speech", "options", "--timestamps=yes"}, "--timestamps");
}

TEST(CommandLine, AMisspeltOptionNeverReachesTheHub) {
    TempDir root;
    FakeHub hub(root.path());
    expectUsageError({"hub", "ls", "--offine", "--endpoint", hub.endpoint(), "owner/name"}, "--offine");
    expectUsageError({"hub", "ls", "owner/name", "--offline", "--endpoint", hub.endpoint()}, "--offline");
    EXPECT_TRUE(hub.requests().empty());
}

TEST(CommandLine, MissingValuesArgumentsAndSubcommandsAreNamed) {
    expectUsageError({"model", "random", "m", "--width"}, "--width needs a value");
    expectUsageError({"speech", "ratio", "--text"}, "--text needs a value");
    expectUsageError({"speech", "write", "srt"}, "<result.json>");
    expectUsageError({"transcribe-greedy", "m", "t"}, "<audio-file>");
    expectUsageError({"model", "describe", "a", "b"}, "unexpected argument 'b'");
    expectUsageError({"speech", "bogus"}, "unknown subcommand 'bogus'");
    expectUsageError({"hub"}, "missing subcommand");
    expectUsageError({"tok", "encode"}, "<folder>");
}

TEST(CommandLine, BadNumbersNameTheOptionAndTheValue) {
    expectUsageError({"model", "random", "m", "--seed", "abc"}, "--seed needs an integer, not 'abc'");
    expectUsageError({"model", "random", "m", "--width", "12x"}, "--width needs an integer, not '12x'");
    expectUsageError({"model", "random", "m", "--width", "0"}, "--width needs an integer from 1");
    expectUsageError({"model", "random", "m", "--layers", "99999999999999999999"}, "--layers");
    expectUsageError({"speech", "ratio", "--tokens", "1,x,3"}, "--tokens needs an integer, not 'x'");
    expectUsageError({"speech", "ratio", "--tokens", "1,-2"}, "--tokens needs an integer from 0");
    expectUsageError({"tok", "decode", kEnglishTokenizer, "50257", "1.5"}, "not '1.5'");
}

TEST(CommandLine, ValuesOutOfRangeAreOneLineAndStatus2) {
    const std::string jfk = dataPath("audio/jfk.flac").string();  // 11 s, two channels
    expectUsageError({"audio", "load", jfk, "--start", "100"},
                     "--start 100 is past the end of the recording (11.00 s)");
    expectUsageError({"audio", "load", jfk, "--start", "11"}, "--start 11 is past the end");
    expectUsageError({"audio", "load", jfk, "--end", "2", "--start", "5"}, "--end 2 must come after --start 5");
    expectUsageError({"audio", "load", jfk, "--end", "30"}, "--end 30 is past the end of the recording (11.00 s)");
    expectUsageError({"audio", "load", jfk, "--start", "-1"}, "--start must be 0 or more, not -1");
    expectUsageError({"audio", "load", jfk, "--channel", "5"}, "--channel 5: the recording has 2 channels (0 to 1)");
    expectUsageError({"audio", "load", jfk, "--channels", "0,7"},
                     "--channels 7: the recording has 2 channels (0 to 1)");
    expectUsageError({"audio", "load", jfk, "--channels", ","}, "--channels needs at least one channel");
    expectUsageError({"audio", "load", dataPath("testmodel/en-01.wav").string(), "--channel", "1"},
                     "--channel 1: the recording has 1 channel (0)");
    expectUsageError({"audio", "load", jfk, "--channel", "0", "--channels", "0"}, "exclude each other");
    // Shorter than one sample: an empty WAV file would be written as if that were the range.
    TempDir folder;
    expectUsageError(
        {"audio", "load", jfk, "--start", "1", "--end", "1.00001", "--output", (folder / "x.wav").string()},
        "audio load: the range from --start 1 to --end 1.00001 holds no sample at 16000 Hz");
    EXPECT_TRUE(fs::is_empty(folder.path()));
    expectUsageError({"transcribe", "m", jfk, "--clip", "5,1"}, "--clip 5,1: a stretch must end after it starts");
    // en-01.wav is 2.22 s long, jfk.flac 11 s.
    const std::string shortRecording = dataPath("testmodel/en-01.wav").string();
    expectUsageError({"transcribe", "m", shortRecording, "--clip", "100,200"},
                     "transcribe: --clip 100,200: 100 is past the end of " + shortRecording + " (2.22 s)");
    expectUsageError({"transcribe", "m", shortRecording, "--clip", "1,2.5"},
                     "transcribe: --clip 1,2.5: 2.5 is past the end of " + shortRecording + " (2.22 s)");
    expectUsageError({"transcribe", "m", shortRecording, "--clip", "0,1,2.3"},
                     "2.3 is past the end of " + shortRecording);
    expectUsageError({"transcribe", "m", jfk, shortRecording, "--clip", "0,5", "--workers", "2"},
                     "5 is past the end of " + shortRecording);
    expectUsageError({"tok", "decode", kEnglishTokenizer, "50257", "60000", "2147483647"},
                     "token id 60000 is not in the vocabulary (ids 0 to 51863)");
    expectUsageError({"speech", "ratio", "--tokens", ","}, "--tokens needs at least one token");
    // One ratio is printed: the other option would be passed over in silence.
    expectUsageError({"speech", "ratio", "--tokens", "1,2", "--text", "hi"},
                     "speech ratio: --tokens and --text exclude each other");
}

TEST(CommandLine, NumbersBeyondWhatTheirOptionMeansAreRefused) {
    const std::string jfk = dataPath("audio/jfk.flac").string();
    // Kept in half or single precision, these would turn into infinity; a chunk this long has no sample count.
    expectUsageError({"decode", "m", jfk, "--temperature", "1e9"},
                     "decode: --temperature needs a number from 0 to 10, not 1e9");
    expectUsageError({"decode", "m", jfk, "--temperature", "1e999"},
                     "--temperature needs a number from 0 to 10, not 1e999");
    expectUsageError({"transcribe", "m", jfk, "--clip", "0,1e308"},
                     "transcribe: --clip needs a number from 0 to 1e+09, not 1e308");
    expectUsageError({"audio", "chunks", jfk, "--max-seconds", "1e300"},
                     "audio chunks: --max-seconds needs a number from 0.1 to 1e+09, not 1e300");
    // Shorter than one frame of the voice detector, no chunk could be found to hold voice: nothing
    // would be printed, as for a recording of silence.
    expectUsageError({"audio", "chunks", jfk, "--max-seconds", "0.0001"},
                     "audio chunks: --max-seconds needs a number from 0.1 to 1e+09, not 0.0001");
    expectUsageError({"audio", "chunks", jfk, "--max-seconds", "0.09"}, "--max-seconds needs a number from 0.1");
    expectUsageError({"audio", "chunks", jfk, "--max-seconds", "0"}, "--max-seconds needs a number from 0.1");
    expectUsageError({"audio", "load", jfk, "--start", "1e39"},
                     "audio load: --start needs a number a float holds (below 3.4e+38 in size), not 1e39");
}

TEST(CommandLine, EmptyNamesAreRefusedBeforeAnythingIsDone) {
    TempDir root;
    FakeHub hub(root.path());
    const std::string jfk = dataPath("audio/jfk.flac").string();
    const std::string endpoint = hub.endpoint();
    expectUsageError({"transcribe", "m", jfk, "--output-dir", ""}, "transcribe: --output-dir is empty");
    expectUsageError({"transcribe", "--variant", "", jfk, "--endpoint", endpoint}, "transcribe: --variant is empty");
    expectUsageError({"download", "tiny", "--base=", "--endpoint", endpoint}, "download: --base is empty");
    expectUsageError({"download", "", "--endpoint", endpoint}, "download: <variant> is empty");
    expectUsageError({"tok", "encode", "--hub", "", "--endpoint", endpoint, "hello"}, "tok encode: --hub is empty");
    // An empty pattern matches no file: an empty listing or download that says nothing of why.
    expectUsageError({"hub", "ls", "owner/name", "*.json", "", "--endpoint", endpoint}, "hub ls: <pattern> is empty");
    expectUsageError({"hub", "snapshot", "owner/name", "", "--endpoint", endpoint, "--base", (root / "base").string()},
                     "hub snapshot: <pattern> is empty");
    expectUsageError({"transcribe-greedy", "m", "t", jfk, "--dump-mel", ""}, "transcribe-greedy: --dump-mel is empty");
    expectUsageError({"decode", "m", jfk, "--tokenizer", ""}, "decode: --tokenizer is empty");
    expectUsageError({"transcribe", "m", ""}, "transcribe: <audio-file> is empty");
    for (const std::string action : {"encode", "tokens", "decode"})
        expectUsageError({"tok", action, "", "hi"}, "tok " + action + ": <folder> is empty");
    expectUsageError({"transcribe", "m", jfk, "", "--output-dir", "out"}, "transcribe: <audio-file> is empty");
    expectUsageError({"transcribe", "", jfk}, "transcribe: <model-folder> is empty");
    expectUsageError({"transcribe", "--variant", "tiny", "", "--endpoint", endpoint},
                     "transcribe: <audio-file> is empty");
    expectUsageError({"meeting", "record", "--title", "", "--seconds", "1"}, "meeting record: --title is empty",
                     {{"HF_ENDPOINT", endpoint}});
    EXPECT_TRUE(hub.requests().empty());
}

TEST(CommandLine, ValuesOutsideAnOptionsChoicesNameTheValue) {
    TempDir root;
    FakeHub hub(root.path());
    expectUsageError({"hub", "ls", "a/b", "--kind", "bogus", "--endpoint", hub.endpoint()},
                     "hub ls: --kind must be models, datasets or spaces, not 'bogus'");
    expectUsageError({"hub", "snapshot", "a/b", "--kind", "model", "--endpoint", hub.endpoint()},
                     "hub snapshot: --kind must be models, datasets or spaces, not 'model'");
    expectUsageError({"transcribe-greedy", "m", "t", "a.wav", "--language", "q"},
                     "transcribe-greedy: --language needs a language code such as en or ru, not 'q'");
    expectUsageError({"speech", "write", "xyz", "r.json"},
                     "speech write: unknown transcript format 'xyz' (srt, vtt or json)");
    EXPECT_TRUE(hub.requests().empty());
}

TEST(CommandLine, RepositoryNamesOutsideTheHubsRuleAreRefusedBeforeAnyRequest) {
    TempDir root, base, outside;
    FakeHub hub(root.path());
    const std::string endpoint = hub.endpoint(), in = (base / "in").string();
    const std::string jfk = dataPath("audio/jfk.flac").string();
    for (const std::string& name : {std::string("../../x"), (outside / "x").string(), std::string("owner/name/x")}) {
        const std::string named = "Invalid repository name \"" + name + "\"";
        expectUsageError({"hub", "snapshot", name, "--endpoint", endpoint, "--base", in}, "hub snapshot: " + named);
        expectUsageError({"hub", "ls", name, "--endpoint", endpoint}, "hub ls: " + named);
        expectUsageError({"download", "x", "--repo", name, "--endpoint", endpoint, "--base", in},
                         "download: --repo: " + named);
        expectUsageError({"transcribe", "--variant", "x", "--repo", name, "--endpoint", endpoint, "--base", in, jfk},
                         "transcribe: --repo: " + named);
        expectUsageError({"models", "--repo", name, "--endpoint", endpoint}, "models: --repo: " + named);
        expectUsageError({"tok", "encode", "--hub", name, "--endpoint", endpoint, "--base", in, "hello"},
                         "tok encode: --hub: " + named);
    }
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_TRUE(fs::is_empty(base.path()));
    EXPECT_TRUE(fs::is_empty(outside.path()));
}

TEST(CommandLine, ModelSizesStayWithinWhatABundleMayAskFor) {
    TempDir folder;
    const std::string model = (folder / "m").string();
    expectUsageError({"model", "random", model, "--layers", "100000"},
                     "model random: --layers needs an integer from 1 to 64, not 100000");
    expectUsageError({"model", "random", model, "--frames", "99999999"}, "--frames needs an integer from 1 to 1500");
    // Each size within its bound, but together more weights than a bundle may hold.
    expectUsageError({"model", "random", model, "--width", "4096", "--heads", "64", "--layers", "64"},
                     "weights, more than the 2147483648 a bundle may hold");
    expectUsageError({"model", "random", model, "--dtype", "f8"}, "--dtype is f16 or f32, not 'f8'");
    expectUsageError({"model", "random", model, "--size", "huge"}, "--size: Unknown model size \"huge\"");
    EXPECT_FALSE(fs::exists(model));
}

TEST(CommandLine, AnOptionOfTheCommandIsNoValueOfAnother) {
    TempDir folder;
    const std::string recording = dataPath("testmodel/en-01.wav").string();
    const ToolRun swallowed = runToolIn(folder.path(), {"audio", "load", recording, "--output", "--end"});
    EXPECT_EQ(swallowed.status, 2);
    EXPECT_EQ(swallowed.err,
              "error: audio load: --output needs a value, not the option --end (velmora-dev audio --help)\n");
    EXPECT_EQ(swallowed.out, "");
    EXPECT_TRUE(fs::is_empty(folder.path()));
    expectUsageError({"transcribe", "m", recording, "--language", "--detect-language"},
                     "transcribe: --language needs a value, not the option --detect-language");
    expectUsageError({"speech", "write", "srt", "r.json", "--name", "--output-dir=out"},
                     "speech write: --name needs a value, not the option --output-dir=out");
    expectUsageError({"model", "random", "m", "--size", "--help"}, "--size needs a value, not the option --help");

    // Joined to its option, or when the command has no such option, it is a value.
    const ToolRun joined = runToolIn(folder.path(), {"audio", "load", recording, "--output=--end"});
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_TRUE(fs::is_regular_file(folder / "--end"));
    const ToolRun other = runToolIn(folder.path(), {"audio", "load", recording, "--output", "--seconds"});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_TRUE(fs::is_regular_file(folder / "--seconds"));
}

TEST(CommandLine, AnEmptyTextIsAText) {
    // An empty text has no ratio to compute: infinite, as for a text that is not UTF-8.
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"speech", "ratio", "--text", ""}, {"speech", "ratio", "--text="}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "inf\n");
    }
}

TEST(CommandLine, OptionsTakeEitherSpellingAndDoubleDashEndsThem) {
    const ToolRun spaced = runTool({"speech", "ratio", "--tokens", "1,2,3,1,2,3"});
    const ToolRun joined = runTool({"speech", "ratio", "--tokens=1,2,3,1,2,3"});
    EXPECT_EQ(spaced.status, 0) << spaced.err;
    EXPECT_EQ(joined.out, spaced.out);

    // After "--" a word that looks like an option is text to encode.
    const ToolRun asText = runTool({"tok", "tokens", kEnglishTokenizer, "--", "--no-special"});
    EXPECT_EQ(asText.status, 0) << asText.err;
    EXPECT_NE(asText.out.find("special"), std::string::npos) << asText.out;
}

// `speech options > /dev/full` and `--version >&-` exited 0 with nothing written: standard output is
// checked once whatever ran is done.
TEST(CommandLine, AStandardOutputThatCannotBeWrittenIsAFailure) {
    auto runWith = [](const std::string& arguments, const std::string& redirection) {
        return runProgram("/bin/sh", {"-c", "exec \"$0\" " + arguments + " " + redirection, VELMORA_DEV_PATH});
    };
    ToolRun run = runWith("speech options", "> /dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: cannot write standard output: No space left on device\n");
    run = runWith("--version", ">&-");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: cannot write standard output: Bad file descriptor\n");
    // Nothing to write is nothing lost, and a command that failed keeps its own status.
    run = runWith("speech ratio", ">&-");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lineCount(run.err), 1) << run.err;

    // A closed descriptor was taken by the first file the program opened, and its output went there:
    // the transcript's path "o/a.txt\n" into an eventfd of the transcription, which took its 8 bytes
    // for a count (exit 0), or, with standard input closed too, the report into the pipe that
    // watches for Ctrl-C, which took its first letter for a signal (exit 247).
    TempDir folder;
    std::filesystem::copy_file(dataPath("testmodel/en-01.wav"), folder / "a.wav");
    run = runProgram("/bin/sh",
                     {"-c", "cd \"$1\" && exec \"$0\" transcribe \"$2\" a.wav --tokenizer \"$3\" --output-dir o >&-",
                      VELMORA_DEV_PATH, folder.path().string(), dataPath("models/test-speech").string(),
                      dataPath("whisper-tokenizer/multilingual").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: cannot write standard output: Bad file descriptor\n");
    EXPECT_TRUE(std::filesystem::exists(folder / "o/a.txt"));
    run =
        runWith("model random " + (folder / "mz").string() + " --size tiny --width 32 --heads 2 --layers 1", "<&- >&-");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: cannot write standard output: Bad file descriptor\n");
    // An output named as standard output fails as the closed descriptor it is, and says so once.
    run = runWith("audio load " + dataPath("audio/jfk.flac").string() + " --output /dev/stdout", ">&-");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with("\nerror: Cannot write /dev/stdout: Bad file descriptor\n")) << run.err;
    EXPECT_EQ(run.err.find("error:"), run.err.rfind("error:")) << run.err;
}

TEST(CommandLine, HelpPrintsTheCommandsUsageAndSucceeds) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"model", "--help"},
                                               {"model", "random", "--help"},
                                               {"hub", "-h"},
                                               {"speech", "write", "--help"},
                                               {"tok", "--help"},
                                               {"transcribe-greedy", "--help"},
                                               {"decode", "--help"},
                                               {"transcribe", "--help"}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out.starts_with("usage: velmora-dev " + arguments[0])) << run.out;
        EXPECT_EQ(run.err, "");
    }
    const ToolRun tool = runTool({"--help"});
    EXPECT_EQ(tool.status, 0);
    EXPECT_NE(tool.out.find("transcribe-greedy"), std::string::npos);
}

}  // namespace
}  // namespace velmora::test
