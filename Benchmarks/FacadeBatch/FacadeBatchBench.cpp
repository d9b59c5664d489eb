// The facade's batch transcription: 16 held-out recordings of the trained test model in one call,
// at worker counts 1, 2, 4, 8 and the default (16). The counts take turns within every round (the
// machine is shared), and the table gives each one's median wall time, its speed-up over one
// worker and the processor time it took (user and system, all threads). The peak memory of each
// count is that of a process of its own (this program with --memory N) that loads the model and
// transcribes the batch once.
//
//   build-release/Benchmarks/FacadeBatchBench [rounds]

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

/// The 16 recordings, and their length in seconds.
std::vector<std::vector<float>> loadBatch(double& seconds) {
    // The twelve held-out recordings, then the first four again.
    std::vector<std::vector<float>> batch;
    seconds = 0;
    for (int i = 0; i < 16; ++i) {
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
double peakMegabytes(std::int64_t workers) {
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const std::string command = "'" + self + "' --memory " + std::to_string(workers);
    FILE* child = popen(command.c_str(), "r");
    if (!child) return -1;
    long kilobytes = -1;
    if (std::fscanf(child, "%ld", &kilobytes) != 1) kilobytes = -1;
    pclose(child);
    return static_cast<double>(kilobytes) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    double audioSeconds = 0;
    const auto batch = loadBatch(audioSeconds);
    if (argc > 2 && std::string(argv[1]) == "--memory") {
        tremolan::DecodingOptions options;
        options.concurrentWorkerCount = std::atoll(argv[2]);
        loadFacade()->transcribe(batch, options);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%ld\n", usage.ru_maxrss);
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto whisper = loadFacade();

    const tremolan::DecodingOptions defaults;
    const std::vector<std::int64_t> counts = {1, 2, 4, 8, defaults.concurrentWorkerCount};
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
            if (texts != firstTexts) {
                std::fprintf(stderr, "worker count %lld changed the texts\n", static_cast<long long>(counts[c]));
                return 1;
            }
        }
    }

    std::printf("16 recordings, %s s of audio, %d rounds, %u hardware threads\n", fixedDecimal(audioSeconds, 1).c_str(),
                rounds, std::thread::hardware_concurrency());
    std::printf("%-8s %10s %9s %8s %12s %9s\n", "workers", "median s", "speed-up", "rtf", "processor s", "peak MB");
    const double one = median(seconds[0]);
    for (std::size_t c = 0; c < counts.size(); ++c) {
        const double m = median(seconds[c]);
        std::printf("%-8lld %10s %9s %8s %12s %9s%s\n", static_cast<long long>(counts[c]), fixedDecimal(m, 3).c_str(),
                    fixedDecimal(one / m, 2).c_str(), fixedDecimal(m / audioSeconds, 4).c_str(),
                    fixedDecimal(median(processor[c]), 2).c_str(), fixedDecimal(peakMegabytes(counts[c]), 1).c_str(),
                    c + 1 == counts.size() ? "   (the default)" : "");
    }
    return 0;
}
