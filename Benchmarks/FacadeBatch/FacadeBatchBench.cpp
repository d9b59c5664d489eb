// The facade's batch transcription: 16 held-out recordings of the trained test model in one call,
// at worker counts 1, 2, 4, 8 and the default (16). The counts take turns within every round (the
// machine is shared), and the table gives each one's median wall time, its speed-up over one
// worker and the processor time it took (user and system, all threads). The peak memory of each
// count is that of a process of its own (this program with --memory N) that loads the model and
// transcribes the batch once.
//
//   build-release/Benchmarks/FacadeBatchBench [ROUNDS] [--counts 1,2,4,8,16] [--recordings 16]
//
// --counts measures only those worker counts, --recordings a batch of another size (the held-out
// recordings in turn; the quickest form: 1 --counts 1,2 --recordings 4).

#include "BenchProgram.hpp"
#include "BenchmarkData.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Median.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using korbit::fixedDecimal;

namespace {

using velmora::bench::median;

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// The batch of `count` recordings, and their length in seconds.
std::vector<std::vector<float>> loadBatch(int count, double& seconds) {
    // The twelve held-out recordings, then from the first again (16: the first four again).
    std::vector<std::vector<float>> batch;
    seconds = 0;
    for (int i = 0; i < count; ++i) {
        const int n = i % 12;
        const std::string file =
            std::string(n < 6 ? "testmodel/en-0" : "testmodel/ru-0") + std::to_string(n % 6 + 1) + ".wav";
        batch.push_back(tremolan::AudioProcessor::loadAudioAsFloatArray(velmora::bench::dataPath(file)));
        seconds += static_cast<double>(batch.back().size()) / 16000.0;
    }
    return batch;
}

std::shared_ptr<tremolan::Tremolan> loadFacade() {
    tremolan::TremolanConfig config;
    config.modelFolder = velmora::bench::dataPath("models/test-speech");
    config.tokenizerFolder = velmora::bench::dataPath("whisper-tokenizer/multilingual");
    return tremolan::Tremolan::create(config);
}

/// The peak resident size, in MB, of a process of its own transcribing the batch at the count.
double peakMegabytes(std::int64_t workers, int recordings) {
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const std::string command =
        "'" + self + "' --memory " + std::to_string(workers) + " --recordings " + std::to_string(recordings);
    FILE* child = popen(command.c_str(), "r");
    if (!child) throw std::runtime_error("cannot start " + command);
    long kilobytes = -1;
    const bool read = std::fscanf(child, "%ld", &kilobytes) == 1;
    if (pclose(child) != 0 || !read)
        throw std::runtime_error("the memory run at " + std::to_string(workers) + " workers failed");
    return static_cast<double>(kilobytes) / 1024.0;
}

constexpr const char* kUsage =
    "usage: FacadeBatchBench [ROUNDS] [--counts 1,2,4,8,16] [--recordings 16]\n"
    "  held-out recordings of the test model in one facade call at each worker count, ROUNDS (5) times\n";

int runBench(velmora::bench::Arguments& arguments) {
    const tremolan::DecodingOptions defaults;
    std::vector<std::int64_t> counts = {1, 2, 4, 8, defaults.concurrentWorkerCount};
    int rounds = 5, recordings = 16;
    std::optional<std::int64_t> memoryOf;
    bool roundsGiven = false;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--counts") {
            counts.clear();
            std::stringstream list(arguments.valueOf(a));
            for (std::string item; std::getline(list, item, ',');)
                counts.push_back(velmora::bench::wholeNumber(item, "--counts", 1, 1024));
            if (counts.empty()) throw velmora::bench::UsageError("--counts needs at least one count");
        } else if (a == "--recordings") {
            recordings = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        } else if (a == "--memory") {
            // A child of this program: one batch at the count, then its peak resident size in KiB.
            memoryOf = arguments.wholeOf(a, 1, 1024);
        } else if (!a.starts_with("-") && !roundsGiven) {
            rounds = static_cast<int>(velmora::bench::wholeNumber(a, "ROUNDS", 1, 1000));
            roundsGiven = true;
        } else {
            velmora::bench::Arguments::unknown(a);
        }
    }
    double audioSeconds = 0;
    const auto batch = loadBatch(recordings, audioSeconds);
    if (memoryOf) {
        tremolan::DecodingOptions options;
        options.concurrentWorkerCount = *memoryOf;
        loadFacade()->transcribe(batch, options);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%ld\n", usage.ru_maxrss);
        return 0;
    }
    const auto whisper = loadFacade();

    std::vector<std::vector<double>> seconds(counts.size()), processor(counts.size());
    std::vector<std::string> firstTexts;
    // One unmeasured run pages the weights in.
    whisper->transcribe(batch, defaults);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < counts.size(); ++c) {
            tremolan::DecodingOptions options;
            options.concurrentWorkerCount = counts[c];
            const auto start = Clock::now();
            const double startProcessor = processorSeconds();
            const auto results = whisper->transcribe(batch, options);
            seconds[c].push_back(std::chrono::duration<double>(Clock::now() - start).count());
            processor[c].push_back(processorSeconds() - startProcessor);
            // Every worker count must give the same texts.
            std::vector<std::string> texts;
            for (const auto& result : results) texts.push_back(result ? result->at(0)->text() : "<failed>");
            if (firstTexts.empty()) firstTexts = texts;
            if (texts != firstTexts)
                throw std::runtime_error("worker count " + std::to_string(counts[c]) + " changed the texts");
        }
    }

    std::printf("%d recordings, %s s of audio, %d rounds, %u hardware threads\n", recordings,
                fixedDecimal(audioSeconds, 1).c_str(), rounds, std::thread::hardware_concurrency());
    std::printf("%-8s %10s %9s %8s %12s %9s\n", "workers", "median s", "speed-up", "rtf", "processor s", "peak MB");
    const double one = median(seconds[0]);
    for (std::size_t c = 0; c < counts.size(); ++c) {
        const double m = median(seconds[c]);
        std::printf("%-8lld %10s %9s %8s %12s %9s%s\n", static_cast<long long>(counts[c]), fixedDecimal(m, 3).c_str(),
                    fixedDecimal(one / m, 2).c_str(), fixedDecimal(m / audioSeconds, 4).c_str(),
                    fixedDecimal(median(processor[c]), 2).c_str(),
                    fixedDecimal(peakMegabytes(counts[c], recordings), 1).c_str(),
                    counts[c] == defaults.concurrentWorkerCount ? "   (the default)" : "");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
