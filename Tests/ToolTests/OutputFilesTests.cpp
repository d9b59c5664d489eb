// velmora-dev on a nearly full disk: every file it writes goes aside first and takes its name only
// when whole, so that a write that fails leaves the earlier file of that name as it was, and no cut
// file beside it. And over what else may stand at an output's name: a link stays and its file gets
// the output, a named pipe stays and its reader gets the output, and the output's mode is the
// replaced file's or follows the umask.

#include "ToolTests/ToolRun.hpp"

#include "Platform/Audio/AudioFile.hpp"
#include "Support/FifoReader.hpp"
#include "Support/FileMode.hpp"
#include "Support/ScopedUmask.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kModel = dataPath("models/test-speech").string();
const std::string kTokenizer = dataPath("whisper-tokenizer/multilingual").string();
const std::string kJfk = dataPath("audio/jfk.flac").string();         // 11 s
const std::string kShort = dataPath("testmodel/en-01.wav").string();  // 1.9 s

/// Every file below the folder, by its path within it, with its bytes.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    return files;
}

/// A run that wrote `file` once and, its disk nearly full, fails the second time: an error naming
/// the file, and the folder holding what the first run left, byte for byte.
void expectFailedRewrite(const std::vector<std::string>& arguments, const fs::path& folder, const fs::path& file,
                         int blocks) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const ToolRun first = runTool(arguments);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(fs::exists(file));
    // The limit must cut the file for the second run to fail honestly.
    ASSERT_GT(fs::file_size(file), static_cast<std::uintmax_t>(blocks) * 512);
    const auto before = filesBelow(folder);

    const ToolRun second = runToolWithFileSizeLimit(blocks, arguments);
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_THAT(second.err, HasSubstr("error: "));
    EXPECT_THAT(second.err, HasSubstr(file.filename().string()));
    EXPECT_THAT(second.err, HasSubstr("File too large"));
    EXPECT_EQ(filesBelow(folder), before);
}

TEST(OutputFiles, TranscriptsAndResultsAreReplacedWholeOrNotAtAll) {
    TempDir folder;
    const fs::path out = folder / "out";
    // transcribe writes its JSON with the writer of speech write, which the runs below reach: the
    // model runtime keeps its buffers in memory files that a limit this small would cut first.
    const fs::path result = out / "jfk.json";
    fs::create_directories(out);
    expectFailedRewrite({"transcribe-greedy", kModel, kTokenizer, kJfk, "--result", result.string()}, out, result, 1);
    expectFailedRewrite({"speech", "write", "json", result.string(), "--output-dir", (out / "again").string()}, out,
                        out / "again/jfk.json", 1);
    const fs::path mel = out / "jfk.mel";
    expectFailedRewrite({"transcribe-greedy", kModel, kTokenizer, kJfk, "--dump-mel", mel.string()}, out, mel, 16);
}

TEST(OutputFiles, AudioIsReplacedWholeOrNotAtAll) {
    TempDir folder;
    const fs::path wav = folder / "jfk.wav";
    expectFailedRewrite({"audio", "load", kJfk, "--output", wav.string()}, folder.path(), wav, 16);
}

TEST(OutputFiles, ACheckpointOrBundleThatFailsLeavesTheEarlierOneWhole) {
    TempDir folder;
    const fs::path checkpoint = folder / "checkpoint";
    ASSERT_EQ(runTool({"model", "random", checkpoint.string(), "--checkpoint", "--width", "64", "--heads", "2",
                       "--layers", "1"})
                  .status,
              0);
    const auto before = filesBelow(checkpoint);

    // Other sizes on a nearly full disk: neither their sizes nor their weights replace the earlier ones.
    const ToolRun wider = runToolWithFileSizeLimit(
        2, {"model", "random", checkpoint.string(), "--checkpoint", "--width", "128", "--heads", "2", "--layers", "1"});
    EXPECT_EQ(wider.status, 1) << wider.err;
    EXPECT_EQ(filesBelow(checkpoint), before);

    // Bundles of another seed whose decoder does not fit: the encoder, which does, stays the earlier one too.
    const fs::path model = folder / "model";
    std::vector<std::string> random{"model",   "random", model.string(), "--width", "64",
                                    "--heads", "2",      "--layers",     "1"};
    ASSERT_EQ(runTool(random).status, 0);
    const auto earlier = filesBelow(model);
    random.insert(random.end(), {"--seed", "2"});
    const ToolRun reseeded = runToolWithFileSizeLimit(1024, random);
    EXPECT_EQ(reseeded.status, 1) << reseeded.err;
    EXPECT_THAT(reseeded.err, HasSubstr("TextDecoder.mlmodelc/weights.safetensors: File too large"));
    EXPECT_EQ(filesBelow(model), earlier);

    const fs::path bundles = folder / "bundles";
    expectFailedRewrite({"model", "convert", checkpoint.string(), bundles.string()}, bundles,
                        bundles / "MelSpectrogram.mlmodelc/weights.safetensors", 2);
}

/// The names of the staging folders in a model folder.
std::set<std::string> stagingFolders(const fs::path& model) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(model))
        if (entry.path().filename().string().starts_with(".velmora-staging-"))
            names.insert(entry.path().filename().string());
    return names;
}

// A bundle whose weights file could not be replaced (a folder stood there) failed the run after
// the bundles before it had become the new ones: a new encoder beside the old decoder.
TEST(OutputFiles, ABundleSetIsReplacedWholeOrNotAtAll) {
    TempDir folder;
    const fs::path model = folder / "model";
    std::vector<std::string> random{"model",   "random", model.string(), "--width", "64",
                                    "--heads", "2",      "--layers",     "1"};
    ASSERT_EQ(runTool(random).status, 0);
    const fs::path weights = model / "TextDecoder.mlmodelc/weights.safetensors";
    fs::remove(weights);
    fs::create_directories(weights / "kept");
    const auto earlier = filesBelow(model);

    random.insert(random.end(), {"--seed", "2"});
    const ToolRun reseeded = runTool(random);
    EXPECT_EQ(reseeded.status, 1);
    EXPECT_EQ(reseeded.err, "error: Cannot replace " + weights.string() + ": Is a directory\n");
    EXPECT_TRUE(filesBelow(model) == earlier) << "a file of the earlier set changed";
    EXPECT_TRUE(fs::is_directory(weights / "kept"));
    EXPECT_THAT(stagingFolders(model), ::testing::IsEmpty());
}

/// Starts the tool and stops it (SIGSTOP) once `started` says that its work is under way.
pid_t stoppedOnce(const std::vector<std::string>& arguments, const std::function<bool()>& started) {
    const pid_t child = startTool(arguments);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!started() && std::chrono::steady_clock::now() < deadline) usleep(1000);
    ::kill(child, SIGSTOP);
    int status = 0;
    if (waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status) || !started()) {
        ADD_FAILURE() << "the tool ended or never began its work";
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return child;
}

/// Starts the tool and stops it once its staging folder is made in the model folder: named, and
/// held by its run (its lock file in place).
pid_t stoppedWhileStaging(const std::vector<std::string>& arguments, const fs::path& model) {
    fs::create_directories(model);
    return stoppedOnce(arguments, [&] {
        const auto names = stagingFolders(model);
        return names.size() == 1 && fs::exists(model / *names.begin() / ".velmora-folder.lock");
    });
}

// Ctrl-C while bundles were written left their staging folder (145 MB for --size medium), and a run
// ended where it cannot clean up (SIGKILL) left one that no later run removed. A later run removed
// any folder named ".staging.*" instead, a user's too.
TEST(OutputFiles, AnInterruptedRunLeavesNoStagingFolderAndALaterRunRemovesAnAbandonedOne) {
    TempDir folder;
    const fs::path model = folder / "model";
    const std::vector<std::string> base{"model", "random", model.string(), "--size", "base"};
    pid_t child = stoppedWhileStaging(base, model);
    ASSERT_GT(child, 0);
    ::kill(child, SIGINT);
    ::kill(child, SIGCONT);
    EXPECT_EQ(waitForExit(child), 128 + SIGINT);
    EXPECT_THAT(stagingFolders(model), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(model / "MelSpectrogram.mlmodelc"));

    child = stoppedWhileStaging(base, model);
    ASSERT_GT(child, 0);
    ::kill(child, SIGKILL);
    EXPECT_EQ(waitForExit(child), 128 + SIGKILL);
    ASSERT_EQ(stagingFolders(model).size(), 1u);
    writeFile(model / ".staging.photos/beach.jpg", "a picture");
    const ToolRun later =
        runTool({"model", "random", model.string(), "--width", "64", "--heads", "2", "--layers", "1"});
    EXPECT_EQ(later.status, 0) << later.err;
    EXPECT_THAT(stagingFolders(model), ::testing::IsEmpty());
    EXPECT_EQ(readFile(model / ".staging.photos/beach.jpg"), "a picture");
}

// Ctrl-C or SIGTERM while a long recording was written left its temporary file beside the output
// (172 MB for an hour), and no later run removed it.
TEST(OutputFiles, AnInterruptedWriteLeavesNoTemporaryFile) {
    TempDir folder;
    const fs::path recording = folder / "long.wav";
    platform::audio::AudioBuffer buffer;
    buffer.sampleRate = 16000;
    buffer.channels = 1;
    buffer.samples.assign(std::size_t{16000} * 60 * 30, 0.25f);  // 30 minutes: 115 MB written
    platform::audio::writeAudioFile(recording, buffer, platform::audio::AudioFileType::wavInt16);
    buffer.samples = {};
    const fs::path output = folder / "sig/out.wav";
    fs::create_directories(output.parent_path());
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(::strsignal(signal));
        const pid_t child = stoppedOnce({"audio", "load", recording.string(), "--output", output.string()},
                                        [&] { return !fs::is_empty(output.parent_path()); });
        ASSERT_GT(child, 0);
        ::kill(child, signal);
        ::kill(child, SIGCONT);
        EXPECT_EQ(waitForExit(child), 128 + signal);
        EXPECT_TRUE(fs::is_empty(output.parent_path())) << "a temporary file or the output is left";
    }
}

TEST(OutputFiles, APathThroughALinkAndDotDotIsWhereTheKernelTakesIt) {
    // lnk leads two folders down, so lnk/.. is far, not the working folder.
    TempDir folder;
    fs::create_directories(folder / "far/deep");
    fs::create_symlink("far/deep", folder / "lnk");
    const fs::path far = fs::canonical(folder / "far");
    ASSERT_EQ(
        runTool({"transcribe-greedy", kModel, kTokenizer, kShort, "--result", (folder / "r.json").string()}).status, 0);
    // Files of the outputs' names in the working folder, which must stay as they are.
    for (const char* name : {"r.srt", "en-01.srt", "en-01.txt", "r2.json", "r2.mel", "part.wav"})
        writeFile(folder / name, "mine");
    auto runIn = [&](const std::vector<std::string>& arguments) {
        const ToolRun run = runToolIn(folder.path(), arguments);
        EXPECT_EQ(run.status, 0) << testing::PrintToString(arguments) << "\n" << run.err;
        return run;
    };

    EXPECT_EQ(runIn({"speech", "write", "srt", "r.json", "--output-dir", "lnk/.."}).out,
              "file://" + (far / "r.srt").string() + "\n");
    EXPECT_THAT(readFile(far / "r.srt"), HasSubstr("00:00:00,000 --> "));
    // A folder asked for is made where the kernel takes its name, and written into.
    EXPECT_EQ(runIn({"speech", "write", "vtt", "r.json", "--output-dir", "lnk/../newdir"}).out,
              "file://" + (far / "newdir/r.vtt").string() + "\n");
    EXPECT_THAT(readFile(far / "newdir/r.vtt"), ::testing::StartsWith("WEBVTT\n\n"));
    EXPECT_FALSE(fs::exists(folder / "newdir"));

    for (const std::string format : {"srt", "txt"}) {
        const ToolRun run = runIn(
            {"transcribe", kModel, kShort, "--tokenizer", kTokenizer, "--format", format, "--output-dir", "lnk/.."});
        // The path printed is the one written.
        EXPECT_EQ(run.out, "lnk/../en-01." + format + "\n");
        EXPECT_THAT(readFile(far / ("en-01." + format)), HasSubstr("friend"));
    }

    const ToolRun greedy = runIn(
        {"transcribe-greedy", kModel, kTokenizer, kShort, "--result", "lnk/../r2.json", "--dump-mel", "lnk/../r2.mel"});
    EXPECT_THAT(greedy.err, HasSubstr("wrote lnk/../r2.json\n"));
    EXPECT_THAT(readFile(far / "r2.json"), HasSubstr("\"segments\""));
    EXPECT_TRUE(fs::exists(far / "r2.mel"));
    runIn({"audio", "load", kShort, "--output", "lnk/../part.wav"});
    EXPECT_TRUE(fs::exists(far / "part.wav"));

    for (const char* name : {"r.srt", "en-01.srt", "en-01.txt", "r2.json", "r2.mel", "part.wav"})
        EXPECT_EQ(readFile(folder / name), "mine") << name;
}

/// An output of the tool: the name the command gives its file, and the command writing that file.
struct Output {
    std::string fileName;
    std::function<std::vector<std::string>(const fs::path& file)> command;
};

/// Whether two runs wrote the same output, what tells the runs apart aside: a result's timings and
/// the second a float WAV's peak chunk was written in.
::testing::AssertionResult sameOutput(const std::string& fileName, const std::string& got,
                                      const std::string& expected) {
    auto lasting = [&](std::string bytes) {
        if (fileName.ends_with(".wav")) {
            if (const auto peak = bytes.find("PEAK"); peak < 128 && peak + 16 <= bytes.size())
                bytes.replace(peak + 12, 4, 4, '\0');
            return bytes;
        }
        if (!fileName.ends_with(".json")) return bytes;
        auto result = nlohmann::json::parse(bytes, nullptr, false);
        if (result.is_discarded()) return "(no JSON) " + bytes;
        result.erase("timings");
        return result.dump();
    };
    if (lasting(got) == lasting(expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "another output: " << got.size() << " bytes, not " << expected.size()
                                         << " (it begins " << testing::PrintToString(got.substr(0, 48)) << ")";
}

TEST(OutputFiles, ALinkOrANamedPipeStaysAndTheModeIsTheOldFilesOrFollowsTheUmask) {
    TempDir folder;
    const fs::path result = folder / "input" / "en-01.json";
    fs::create_directories(result.parent_path());
    ASSERT_EQ(runTool({"transcribe-greedy", kModel, kTokenizer, kShort, "--result", result.string()}).status, 0);
    const std::vector<Output> outputs = {
        {"en-01.wav",
         [](const fs::path& file) -> std::vector<std::string> {
             return {"audio", "load", kShort, "--output", file.string()};
         }},
        {"en-01.mel",
         [](const fs::path& file) -> std::vector<std::string> {
             return {"transcribe-greedy", kModel, kTokenizer, kShort, "--dump-mel", file.string()};
         }},
        {"en-01.json",
         [](const fs::path& file) -> std::vector<std::string> {
             return {"transcribe-greedy", kModel, kTokenizer, kShort, "--result", file.string()};
         }},
        {"en-01.srt",
         [&](const fs::path& file) -> std::vector<std::string> {
             return {"speech", "write", "srt", result.string(), "--output-dir", file.parent_path().string()};
         }},
        {"en-01.txt",
         [](const fs::path& file) -> std::vector<std::string> {
             return {
                 "transcribe", kModel, kShort, "--tokenizer", kTokenizer, "--output-dir", file.parent_path().string()};
         }},
    };
    for (const Output& output : outputs) {
        SCOPED_TRACE(output.fileName);
        const fs::path plain = folder / "plain" / output.fileName;
        fs::create_directories(plain.parent_path());
        ToolRun run;
        {
            const ScopedUmask mask(077);
            run = runTool(output.command(plain));
        }
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(modeOf(plain), 0600u);
        const std::string expected = readFile(plain);

        // A link into a synced folder, to a file that others may read.
        const fs::path synced = folder / "synced" / output.fileName;
        writeFile(synced, "the earlier one");
        fs::permissions(synced, fs::perms(0640), fs::perm_options::replace);
        const fs::path link = folder / "linked" / output.fileName;
        fs::create_directories(link.parent_path());
        fs::create_symlink(fs::path("..") / "synced" / output.fileName, link);
        run = runTool(output.command(link));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(sameOutput(output.fileName, readFile(synced), expected));
        EXPECT_EQ(modeOf(synced), 0640u);

        const fs::path pipePath = folder / "piped" / output.fileName;
        fs::create_directories(pipePath.parent_path());
        FifoReader pipe(pipePath);
        run = runTool(output.command(pipePath));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(sameOutput(output.fileName, pipe.bytes(), expected));
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(pipePath)));
    }
}

TEST(OutputFiles, AnOutputNamedByAnOpenDescriptorGoesThroughIt) {
    TempDir folder;
    const fs::path plain = folder / "plain.wav";
    ASSERT_EQ(runTool({"audio", "load", kShort, "--output", plain.string()}).status, 0);
    const std::string wav = readFile(plain);

    // `>> existing.log`: the earlier lines stay and the recording follows them.
    const std::string earlier = "an earlier line\n";
    writeFile(folder / "existing.log", earlier);
    const std::string script =
        "cd \"$1\" && \"$0\" audio load \"$2\" --output /dev/stdout >> existing.log && "
        // A descriptor on a file deleted meanwhile: no file is made by the name /proc gives it.
        "exec 3> gone.txt && rm gone.txt && \"$0\" audio load \"$2\" --output /proc/self/fd/3 > /dev/null && "
        "wc -c < /proc/self/fd/3";
    const ToolRun run = runProgram("/bin/sh", {"-c", script, VELMORA_DEV_PATH, folder.path().string(), kShort});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string appended = readFile(folder / "existing.log");
    EXPECT_TRUE(appended.starts_with(earlier));
    EXPECT_TRUE(sameOutput("plain.wav", appended.substr(std::min(earlier.size(), appended.size())), wav));
    EXPECT_EQ(run.out, std::to_string(wav.size()) + "\n");
    EXPECT_THAT(run.err, HasSubstr("written /dev/stdout"));  // the tool's own lines keep off its output
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"existing.log", "plain.wav"}));

    // Mel features on standard output, the transcript beside them on standard error.
    const fs::path mel = folder / "plain.mel";
    ASSERT_EQ(runTool({"transcribe-greedy", kModel, kTokenizer, kShort, "--dump-mel", mel.string()}).status, 0);
    const ToolRun dumped = runTool({"transcribe-greedy", kModel, kTokenizer, kShort, "--dump-mel", "/dev/stdout"});
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_TRUE(dumped.out == readFile(mel));
    EXPECT_THAT(dumped.err, HasSubstr("text: "));
}

}  // namespace
}  // namespace velmora::test
