// The long-recording bench: the peak memory and wall time of the developer tool's commands on hours
// of audio, each command a process of its own (its peak resident size from wait4). The recordings
// are made once with sox under $TMPDIR/velmora-bench-long (/tmp without TMPDIR): digital silence at 16 kHz mono (the
// recogniser's own format, read as it lies) and a quiet tone at 44.1 kHz stereo (read, mixed and
// resampled). Each whole-recording figure is given against the Float32 samples the command holds.
//
//   build-release/Benchmarks/LongRecordingBench [hours of silence (10)] [hours of stereo (1)]
//     [--no-transcribe] [--tool PATH]
// (sox must be on PATH; the files take 1.15 GB an hour and 0.64 GB an hour). --tool measures another
// build of velmora-dev, such as one of an earlier revision. The quickest form: 0.01 0.01 (36 s each).

#include "BenchProgram.hpp"
#include "BenchmarkData.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using korbit::fixedDecimal;

namespace {

struct Run {
    double seconds = 0;
    double peakMegabytes = 0;
    int status = -1;
};

/// Runs the tool with the arguments, its output into `output` (or nowhere), and measures it.
Run measure(const std::vector<std::string>& args, const fs::path& output) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(output.empty() ? "/dev/null" : output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        dup2(none, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) * 1024.0 / 1e6;  // kibibytes to megabytes
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

/// sox <input> <file> <effects>, once: the file stays for later runs.
bool make(const fs::path& file, const std::string& input, const std::string& effects) {
    if (fs::exists(file)) return true;
    std::printf("making %s ...\n", file.c_str());
    std::fflush(stdout);
    const std::string part = file.string() + ".part.wav";
    if (std::system(("sox -q " + input + " '" + part + "' " + effects).c_str()) != 0) return false;
    fs::rename(part, file);
    return true;
}

std::size_t wordsIn(const fs::path& file) {
    std::ifstream in(file);
    std::size_t count = 0;
    for (std::string word; in >> word;) ++count;
    return count;
}

constexpr const char* kUsage =
    "usage: LongRecordingBench [SILENCE_HOURS (10)] [STEREO_HOURS (1)] [--no-transcribe] [--tool PATH]\n"
    "  peak memory and wall time of the developer tool's commands on hours of audio (sox must be on PATH)\n";

int runBench(velmora::bench::Arguments& arguments) {
    double silenceHours = 10, stereoHours = 1;
    bool transcribe = true;
    std::string tool = VELMORA_DEV_TOOL;
    std::vector<double> numbers;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--no-transcribe")
            transcribe = false;
        else if (a == "--tool")
            tool = arguments.valueOf(a);
        else if (!a.starts_with("-") && numbers.size() < 2)
            numbers.push_back(
                velmora::bench::decimalNumber(a, numbers.empty() ? "SILENCE_HOURS" : "STEREO_HOURS", 0.001, 100));
        else
            velmora::bench::Arguments::unknown(a);
    }
    if (!numbers.empty()) silenceHours = numbers[0];
    if (numbers.size() > 1) stereoHours = numbers[1];

    const fs::path folder = fs::temp_directory_path() / "velmora-bench-long";
    fs::create_directories(folder);
    const std::string model = velmora::bench::dataPath("models/test-speech");
    const std::string tokenizer = velmora::bench::dataPath("whisper-tokenizer/multilingual");
    // Named by whole seconds: two lengths that round to the same tenth of an hour are two files.
    const auto lengthName = [](double h) { return fixedDecimal(h * 3600, 0) + "s"; };
    const fs::path silence = folder / ("silence-" + lengthName(silenceHours) + ".wav");
    const fs::path stereo = folder / ("tone-" + lengthName(stereoHours) + ".wav");
    const auto seconds = [](double h) { return fixedDecimal(h * 3600, 0); };
    if (!make(silence, "-n -r 16000 -c 1 -b 16", "trim 0 " + seconds(silenceHours)) ||
        !make(stereo, "-n -r 44100 -c 2 -b 16", "synth " + seconds(stereoHours) + " sine 440 vol 0.05"))
        throw std::runtime_error("sox failed: is it installed (scripts/setup)?");

    struct Command {
        std::string name;
        std::vector<std::string> args;
        double floatMegabytes;  // the Float32 samples a whole load holds; 0 for one window
        std::string goal;
        fs::path transcript;
    };
    const double silenceFloat = silenceHours * 3600 * 16000 * 4 / 1e6;
    const double stereoFloat = stereoHours * 3600 * 16000 * 4 / 1e6;
    const fs::path out = folder / "out";
    fs::create_directories(out);
    const std::string stem = silence.stem().string();
    std::vector<Command> commands{
        {"audio load (16 kHz mono)", {tool, "audio", "load", silence}, silenceFloat, "<= 1.25x", {}},
        {"audio chunks (16 kHz mono)", {tool, "audio", "chunks", silence}, silenceFloat, "<= 1.25x", {}},
        {"audio load (44.1 kHz stereo)", {tool, "audio", "load", stereo}, stereoFloat, "<= 1.25x", {}},
        {"decode", {tool, "decode", model, silence, "--tokenizer", tokenizer}, 0, "< 300 MB", {}},
        {"transcribe-greedy", {tool, "transcribe-greedy", model, tokenizer, silence}, 0, "< 300 MB", {}},
        {"model mel", {tool, "model", "mel", model, silence}, 0, "< 300 MB", {}},
    };
    if (transcribe) {
        commands.push_back({"transcribe --chunking vad",
                            {tool, "transcribe", model, silence, "--tokenizer", tokenizer, "--chunking", "vad",
                             "--output-dir", out.string()},
                            silenceFloat,
                            "",
                            out / (stem + ".txt")});
        commands.push_back(
            {"transcribe",
             {tool, "transcribe", model, silence, "--tokenizer", tokenizer, "--output-dir", out.string()},
             silenceFloat,
             "",
             out / (stem + ".txt")});
    }

    std::printf("%s h of 16 kHz mono silence (Float32 %s MB), %s h of 44.1 kHz stereo tone (Float32 %s MB)\n",
                fixedDecimal(silenceHours, 1).c_str(), fixedDecimal(silenceFloat, 0).c_str(),
                fixedDecimal(stereoHours, 1).c_str(), fixedDecimal(stereoFloat, 0).c_str());
    std::printf("| command | peak memory | of the Float32 samples | goal | wall time | words |\n");
    std::printf("|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const Command& c : commands) {
        if (!c.transcript.empty()) fs::remove(c.transcript);
        const Run run = measure(c.args, {});
        if (run.status != 0) ++failures;
        const std::string ratio =
            c.floatMegabytes > 0 ? fixedDecimal(run.peakMegabytes / c.floatMegabytes, 2) + "x" : "-";
        const std::string words = c.transcript.empty() ? "-" : std::to_string(wordsIn(c.transcript));
        std::printf("| %s | %s MB | %s | %s | %s s | %s |%s\n", c.name.c_str(),
                    fixedDecimal(run.peakMegabytes, 0).c_str(), ratio.c_str(), c.goal.empty() ? "-" : c.goal.c_str(),
                    fixedDecimal(run.seconds, 1).c_str(), words.c_str(),
                    run.status == 0 ? "" : (" (status " + std::to_string(run.status) + ")").c_str());
        std::fflush(stdout);
    }
    if (failures > 0) throw std::runtime_error(std::to_string(failures) + " of the commands failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
