// Bench program of the model runtime: for each model size, the encoder time of one 30 s window,
// the decoder time per token with a full 224-position cache, the mel time of one window, load
// time and peak memory, next to the machine's measured SGEMM rate and memory bandwidth.
//
//   ModelRuntimeBench [tiny base small ...] [--repeat N] [--rounds R] [--models FOLDER] [--quick]
//   ModelRuntimeBench --steadiness SIZE [--processes P] [--windows W] [--models FOLDER]
//
// --quick measures the machine on a 1024^3 SGEMM and a 64 MiB buffer instead: it only shows that
// the program runs (tiny --repeat 1 --rounds 1 --quick, as scripts/bench-smoke does); its shares
// and ratios are not the goals' figures.
//
// Each size runs in a child process of its own so that its peak memory is its own; the memory
// bandwidth is measured again just before each size, so that the decoder's ratio compares figures
// of the same minute on a busy machine. The encoder's share of the SGEMM rate comes from R rounds
// that alternate one SGEMM measurement and one encoder window in the same process, after the peak
// memory is taken. Random-weight bundles (half precision, as checkpoints ship) are made once under
// FOLDER. The program ends with a table of the figures that have goals, next to those goals.
//
// With --steadiness, P fresh processes one after another each run W encoder windows back to back
// (nothing else in them), and the program prints every window, each process's median, and the
// median of all windows next to the best: whether a window's time depends on the process it lands
// in or on the moment. Each window is paired with a probe of the machine's capacity taken just
// before and just after it (MachineCapacity.hpp); the window's time over the shorter probe tells a
// window slowed by the machine (both move together) from one slowed by the encoder itself.
//
// OpenBLAS's own threads, once a threaded product has woken them, spin for about 2^28 cycles
// (0.1 s here) before they sleep; an encoder window measured right after an SGEMM would share the
// processors with them. The program therefore runs with OPENBLAS_THREAD_TIMEOUT=4 (it starts
// itself again with it when it is not set): they sleep at once.

#include "BenchProgram.hpp"
#include "LoadAverages.hpp"
#include "MachineCapacity.hpp"
#include "Median.hpp"
#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Model.hpp"
#include "Platform/ML/VectorProducts.hpp"
#include "ProcessStatus.hpp"
#include "VectorPathInUse.hpp"

#include <cblas.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using velmora::bench::median;
using velmora::bench::statusMegabytes;

using namespace platform::ml;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velmora::bench::loadAverages;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

/// Processor time of the whole process (all threads), in seconds.
double processorTime() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

/// 30 s of quiet noise at 16 kHz (one encoder window), the same for the same seed.
MLMultiArray randomAudio(std::uint32_t seed) {
    MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
    float* samples = audio.mutableData<float>();
    for (int i = 0; i < 480000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        samples[i] = 0.1f * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f);
    }
    return audio;
}

/// OpenBLAS SGEMM on a large square product with its own threads (the physical limit of the
/// encoder's products); a product of 1024 with `quick`.
class GemmRate {
public:
    explicit GemmRate(bool quick)
        : kN(quick ? 1024 : 3072), a_(static_cast<std::size_t>(kN) * kN, 0.5f), b_(a_.size(), 0.25f), c_(a_.size()) {}

    /// GFLOP/s: the median of `calls` products after one untimed one. `perProcessorSecond` gets the
    /// rate per second of processor time of the process (all threads).
    double measure(int threads, int calls, double* perProcessorSecond = nullptr) {
        openblas_set_num_threads(threads);
        std::vector<double> times, processor;
        for (int r = 0; r <= calls; ++r) {
            const auto t = Clock::now();
            const double p = processorTime();
            cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, kN, kN, kN, 1, a_.data(), kN, b_.data(), kN, 0,
                        c_.data(), kN);
            if (r) {
                times.push_back(since(t));
                processor.push_back(processorTime() - p);
            }
        }
        openblas_set_num_threads(1);
        const double flop = 2.0 * kN * kN * static_cast<double>(kN) / 1e9;
        if (perProcessorSecond) *perProcessorSecond = flop / median(processor);
        return flop / median(times);
    }

private:
    const int kN;
    std::vector<float> a_, b_, c_;
};

/// The goals of the figures with goals, by standard size (0: none). On the AVX2 path the encoder
/// runs in the same kind of register tiles as on AVX-512 and is held to one share for all three.
struct Goals {
    double peakMB, encoderShare;
};

Goals goalsOf(const std::string& size, VectorPath path) {
    const bool avx2 = path == VectorPath::avx2;
    if (size.starts_with("tiny")) return {244, avx2 ? 70.0 : 55.0};
    if (size.starts_with("base")) return {333, avx2 ? 70.0 : 60.0};
    if (size.starts_with("small")) return {725, avx2 ? 70.0 : 65.0};
    return {0, 0};
}

/// The vector path the runtime takes, and OpenBLAS's kernel.
std::string pathsInUse() {
    return velmora::bench::vectorPathInUse() + ", OpenBLAS kernel " + openblas_get_corename();
}

/// Memory read bandwidth (GB/s): every thread sums its share of a buffer far larger than the caches,
/// on huge pages like the decoder's weights (64 MiB with `quick`).
double measureBandwidth(int threads, bool quick) {
    const std::size_t n = std::size_t{1} << (quick ? 24 : 28);  // 1 GiB of floats
    AlignedBuffer buffer(n * sizeof(float));
    float* data = reinterpret_cast<float*>(buffer.data());
    std::fill(data, data + n, 1.0f);
    std::vector<double> times;
    for (int r = 0; r < 4; ++r) {
        std::vector<std::thread> pool;
        std::vector<double> sums(static_cast<std::size_t>(threads));
        const auto t = Clock::now();
        for (int i = 0; i < threads; ++i)
            pool.emplace_back([&, i] {
                const std::size_t b = n / threads * i, e = i + 1 == threads ? n : n / threads * (i + 1);
                float s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, s5 = 0, s6 = 0, s7 = 0;
                for (std::size_t k = b; k + 8 <= e; k += 8) {
                    s0 += data[k];
                    s1 += data[k + 1];
                    s2 += data[k + 2];
                    s3 += data[k + 3];
                    s4 += data[k + 4];
                    s5 += data[k + 5];
                    s6 += data[k + 6];
                    s7 += data[k + 7];
                }
                sums[static_cast<std::size_t>(i)] = s0 + s1 + s2 + s3 + s4 + s5 + s6 + s7;
            });
        for (auto& th : pool) th.join();
        if (r > 0) times.push_back(since(t));
    }
    return static_cast<double>(n * sizeof(float)) / median(times) / 1e9;
}

struct Sizes {
    double encoderGflop, crossGflop, decoderWeightBytes, crossBytes, float32WeightBytes, encoderHalfBytes;
};

Sizes sizesOf(const Hyperparameters& p) {
    const double t = p.nAudioCtx, d = p.nAudioState, dt = p.nTextState, m = p.nMels, v = p.nVocab;
    Sizes s{};
    s.encoderGflop = (2 * 2 * t * d * 3 * m + 2 * t * d * 3 * d +
                      p.nAudioLayer * (2 * t * d * 3 * d + 4 * t * t * d + 2 * t * d * d + 16 * t * d * d)) /
                     1e9;
    s.crossGflop = p.nTextLayer * 2 * t * d * 2 * dt / 1e9;
    // Per token: every one-row layer in half precision, the embedding for the logits, and the
    // cached cross-attention keys/values in half precision.
    s.decoderWeightBytes = 2 * (p.nTextLayer * (3 * dt * dt + dt * dt + dt * dt + dt * dt + 8 * dt * dt) + v * dt);
    s.crossBytes = 2.0 * p.nTextLayer * 2 * t * dt;
    const double encoderParams = d * m * 3 + d * d * 3 + t * d + p.nAudioLayer * 12 * d * d;
    const double decoderParams =
        v * dt + p.nTextCtx * dt + p.nTextLayer * (4 * dt * dt + 2 * dt * dt + 2 * dt * d + 8 * dt * dt);
    s.float32WeightBytes = 4 * (encoderParams + decoderParams);
    s.encoderHalfBytes = 2 * encoderParams;
    return s;
}

int runSize(const std::string& size, const fs::path& folder, int repeat, int rounds, double bandwidth,
            const std::string& resultPath, bool quick) {
    const Hyperparameters p = standardHyperparameters(size);
    const Sizes sz = sizesOf(p);
    auto t = Clock::now();
    auto mel = MLModel::load(folder / "MelSpectrogram.mlmodelc");
    auto encoder = MLModel::load(folder / "AudioEncoder.mlmodelc");
    auto decoder = MLModel::load(folder / "TextDecoder.mlmodelc");
    const double loadTime = since(t);

    const MLMultiArray audio = randomAudio(1);
    std::vector<double> melTimes, encoderTimes, crossTimes, tokenTimes;
    MLMultiArray features, embeds;
    for (int r = 0; r <= repeat; ++r) {
        t = Clock::now();
        features = mel->predict({{"audio", audio}}).at("melspectrogram_features");
        if (r) melTimes.push_back(since(t));
    }
    for (int r = 0; r <= repeat; ++r) {
        t = Clock::now();
        embeds = encoder->predict({{"melspectrogram_features", features}}).at("encoder_output_embeds");
        if (r) encoderTimes.push_back(since(t));
    }

    const std::int64_t e = static_cast<std::int64_t>(p.nTextLayer) * p.nTextState;
    MLMultiArray ids({1}, MLMultiArrayDataType::int32), length({1}, MLMultiArrayDataType::int32);
    MLMultiArray keys({1, e, 1, 224}, MLMultiArrayDataType::float16),
        values({1, e, 1, 224}, MLMultiArrayDataType::float16);
    MLMultiArray update({1, 224}, MLMultiArrayDataType::int32), padding({1, 224}, MLMultiArrayDataType::float16);
    ids.setValue(std::int64_t{0}, 50258);
    length.setValue(std::int64_t{0}, 223);  // the last position: all 224 columns take part
    update.setValue(std::int64_t{223}, 1);
    auto* kh = keys.mutableData<Float16>();
    auto* vh = values.mutableData<Float16>();
    for (std::int64_t i = 0; i < keys.count(); ++i) {
        kh[i] = Float16(0.01f * static_cast<float>(i % 97));
        vh[i] = Float16(0.02f * static_cast<float>(i % 89));
    }
    std::map<std::string, MLMultiArray> in{{"input_ids", ids},
                                           {"cache_length", length},
                                           {"key_cache", keys},
                                           {"value_cache", values},
                                           {"kv_cache_update_mask", update},
                                           {"encoder_output_embeds", embeds},
                                           {"decoder_key_padding_mask", padding}};
    const int tokens = 30 * repeat;
    for (int r = 0; r <= tokens; ++r) {
        t = Clock::now();
        decoder->predict(in);
        if (r) tokenTimes.push_back(since(t));
    }
    // A caller that hands over a new array with the same contents each call (or writes into the
    // same one) costs a comparison of the contents: the cross-attention cache is reused.
    std::vector<double> copiedTimes;
    for (int r = 0; r <= tokens; ++r) {
        MLMultiArray copy(embeds.shape(), MLMultiArrayDataType::float16);
        std::memcpy(copy.mutableBytes(), embeds.bytes(), static_cast<std::size_t>(embeds.count()) * 2);
        in["encoder_output_embeds"] = copy;
        t = Clock::now();
        decoder->predict(in);
        if (r) copiedTimes.push_back(since(t));
    }
    // The first call on a new window's encoder output also computes its cross-attention keys and
    // values (each round changes the contents, so nothing is reused).
    for (int r = 0; r < std::max(2, repeat); ++r) {
        MLMultiArray copy(embeds.shape(), MLMultiArrayDataType::float16);
        std::memcpy(copy.mutableBytes(), embeds.bytes(), static_cast<std::size_t>(embeds.count()) * 2);
        copy.setValue(std::int64_t{0}, 0.001 * (r + 1));
        in["encoder_output_embeds"] = copy;
        t = Clock::now();
        decoder->predict(in);
        crossTimes.push_back(since(t) - median(tokenTimes));
    }

    // Everything the models need is allocated by now: the peak is theirs (the SGEMM's buffers come after).
    const double peak = statusMegabytes("VmHWM");

    // The encoder's share of the SGEMM rate: rounds that alternate the two, so that both see the
    // same minute of a shared machine.
    const int threads = ComputePool::shared().threadCount();
    GemmRate gemm(quick);
    std::vector<double> gemmRates, roundTimes, shares, processorShares;
    for (int r = 0; r < rounds; ++r) {
        double gemmPerProcessorSecond = 0;
        gemmRates.push_back(gemm.measure(threads, 2, &gemmPerProcessorSecond));
        t = Clock::now();
        const double processorStart = processorTime();
        embeds = encoder->predict({{"melspectrogram_features", features}}).at("encoder_output_embeds");
        roundTimes.push_back(since(t));
        shares.push_back(sz.encoderGflop / roundTimes.back() / gemmRates.back());
        processorShares.push_back(sz.encoderGflop / (processorTime() - processorStart) / gemmPerProcessorSecond);
    }
    const double gemmRate = median(gemmRates), share = 100 * median(shares);

    const double encoderTime = median(roundTimes), crossTime = median(crossTimes), tokenTime = median(tokenTimes);
    const double streamTime = sz.decoderWeightBytes / (bandwidth * 1e9);
    const double streamAllTime = (sz.decoderWeightBytes + sz.crossBytes) / (bandwidth * 1e9);
    std::printf(
        "%-9s | %8.1f ms %5.0f GF/s %4.0f%% | %7.1f ms | %8.1f ms | %6.2f ms  %4.2fx w  %4.2fx w+kv %5.1f GB/s | %6.1f "
        "ms | %6.2f s | %7.0f MB %5.2fx\n",
        size.c_str(), encoderTime * 1e3, sz.encoderGflop / encoderTime, share, crossTime * 1e3,
        (encoderTime + crossTime) * 1e3, tokenTime * 1e3, tokenTime / streamTime, tokenTime / streamAllTime, bandwidth,
        median(melTimes) * 1e3, loadTime, peak, peak * 1024 * 1024 / sz.float32WeightBytes);
    std::printf("%-9s   decoder per token when each call brings a copy of the encoder output: %.2f ms\n", "",
                median(copiedTimes) * 1e3);
    // Per second of processor time the share does not depend on how much of the machine others
    // take; with more than one thread it counts the workers' waiting too.
    std::printf(
        "%-9s   encoder %.1f ms in the first runs; SGEMM %.0f GF/s interleaved (%d rounds); share per "
        "processor second %.0f%%; encoder weights in half precision %.0f MB\n",
        "", median(encoderTimes) * 1e3, gemmRate, rounds, 100 * median(processorShares),
        sz.encoderHalfBytes / (1024 * 1024));
    std::fflush(stdout);
    // Numbers for the parent in the locale-independent form.
    std::string result;
    for (const double value : {peak, encoderTime * 1e3, gemmRate, share}) {
        char text[64];
        result.append(text, std::to_chars(text, text + sizeof text, value).ptr).push_back(' ');
    }
    if (std::FILE* f = std::fopen(resultPath.c_str(), "w")) {
        std::fputs(result.c_str(), f);
        std::fclose(f);
    }
    return 0;
}

/// W encoder windows back to back in this process, each between two probes of the machine's
/// capacity; the window and the shorter probe (seconds) go to the result file, in pairs.
int runSteadinessChild(const fs::path& folder, int windows, const std::string& resultPath) {
    auto mel = MLModel::load(folder / "MelSpectrogram.mlmodelc");
    auto encoder = MLModel::load(folder / "AudioEncoder.mlmodelc");
    const MLMultiArray audio = randomAudio(7);
    const MLMultiArray features = mel->predict({{"audio", audio}}).at("melspectrogram_features");
    encoder->predict({{"melspectrogram_features", features}});  // pages touched, caches warm
    auto& pool = ComputePool::shared();
    velmora::bench::machineCapacityProbe(pool);
    std::string result;
    auto write = [&](double value) {
        char text[64];
        result.append(text, std::to_chars(text, text + sizeof text, value).ptr).push_back(' ');
    };
    for (int w = 0; w < windows; ++w) {
        const double before = velmora::bench::machineCapacityProbe(pool);
        const auto t = Clock::now();
        encoder->predict({{"melspectrogram_features", features}});
        const double window = since(t);
        const double after = velmora::bench::machineCapacityProbe(pool);
        write(window);
        write(std::min(before, after));  // a hiccup only lengthens a probe
    }
    if (std::FILE* f = std::fopen(resultPath.c_str(), "w")) {
        std::fputs(result.c_str(), f);
        std::fclose(f);
    }
    return 0;
}

/// The steadiness of the encoder: P processes of W windows each.
int runSteadiness(const std::string& size, const fs::path& models, int processes, int windows) {
    const fs::path folder = models / size;
    if (!fs::exists(folder / "AudioEncoder.mlmodelc/model.json")) {
        std::fprintf(stderr, "making random %s bundles in %s\n", size.c_str(), folder.c_str());
        makeRandomModelFolder(folder, standardHyperparameters(size), 1, TensorDataType::F16);
    }
    const std::string loadAtStart = loadAverages();
    const int threads = ComputePool::shared().threadCount();
    std::printf("encoder steadiness, %s, %d threads, %s: %d processes of %d windows, ms per window\n", size.c_str(),
                threads, pathsInUse().c_str(), processes, windows);
    const std::string self = fs::read_symlink("/proc/self/exe");
    const fs::path resultFile = models / ("steadiness-" + std::to_string(getpid()));
    std::vector<double> all, processMedians, relative, allProbes;
    for (int p = 0; p < processes; ++p) {
        std::fflush(stdout);
        const std::string w = std::to_string(windows), resultArg = resultFile.string(), modelsArg = models.string();
        const pid_t pid = fork();
        if (pid == 0) {
            execl(self.c_str(), self.c_str(), "--steadiness-child", size.c_str(), w.c_str(), resultArg.c_str(),
                  "--models", modelsArg.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        std::vector<double> times, probes;
        if (std::FILE* f = std::fopen(resultArg.c_str(), "r")) {
            double window = 0, probe = 0;
            while (std::fscanf(f, "%lf %lf", &window, &probe) == 2) {
                times.push_back(window * 1e3);
                probes.push_back(probe * 1e3);
            }
            std::fclose(f);
        }
        std::remove(resultArg.c_str());
        if (times.empty()) throw std::runtime_error("the steadiness process " + std::to_string(p) + " failed");
        std::printf("process %2d: median %7.1f |", p, median(times));
        for (double t : times) std::printf(" %.1f", t);
        std::printf("\n            probe  %7.2f |", median(probes));
        for (double t : probes) std::printf(" %.2f", t);
        std::printf("\n");
        for (std::size_t i = 0; i < times.size(); ++i) relative.push_back(times[i] / probes[i]);
        allProbes.insert(allProbes.end(), probes.begin(), probes.end());
        all.insert(all.end(), times.begin(), times.end());
        processMedians.push_back(median(times));
    }
    const double best = *std::min_element(all.begin(), all.end());
    const double mid = median(all);
    std::printf(
        "best window %.1f ms; median window %.1f ms (%.2fx the best: goal <= 1.10 %s); process medians %.1f to %.1f "
        "ms; worst window %.1f ms\n",
        best, mid, mid / best, mid / best <= 1.10 ? "met" : "MISSED",
        *std::min_element(processMedians.begin(), processMedians.end()),
        *std::max_element(processMedians.begin(), processMedians.end()), *std::max_element(all.begin(), all.end()));
    const double bestRelative = *std::min_element(relative.begin(), relative.end());
    const double midRelative = median(relative);
    std::printf(
        "against the machine's capacity at the moment (window / probe): median %.2fx the best (%.1f against %.1f); "
        "the probes' median %.2fx their best\n",
        midRelative / bestRelative, midRelative, bestRelative,
        median(allProbes) / *std::min_element(allProbes.begin(), allProbes.end()));
    std::printf("load average %s at the start, %s at the end\n", loadAtStart.c_str(), loadAverages().c_str());
    return 0;
}

constexpr const char* kUsage =
    "usage: ModelRuntimeBench [SIZE...] [--repeat N] [--rounds R] [--models FOLDER] [--quick]\n"
    "       ModelRuntimeBench --steadiness SIZE [--processes P] [--windows W] [--models FOLDER]\n"
    "SIZE: tiny, base, small, medium, large-v3, large-v3-turbo (.en for the first four); default tiny base small\n";

int runBench(velmora::bench::Arguments& arguments) {
    std::vector<std::string> sizes;
    int repeat = 5, rounds = 7;
    fs::path models = fs::temp_directory_path() / "velmora-bench-models";
    std::string child, resultPath, steadiness, steadinessChild;
    int processes = 8, windows = 9;
    double bandwidth = 0;
    bool quick = false;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--repeat")
            repeat = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--rounds")
            rounds = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--models")
            models = arguments.valueOf(a);
        else if (a == "--steadiness")
            steadiness = arguments.valueOf(a);
        else if (a == "--processes")
            processes = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--windows")
            windows = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--quick")
            quick = true;
        else if (a == "--steadiness-child") {
            // Children of this program: the size, then what the parent hands over, then the result file.
            steadinessChild = arguments.valueOf(a);
            windows = static_cast<int>(arguments.wholeOf(a, 1, 1000));
            resultPath = arguments.valueOf(a);
        } else if (a == "--child") {
            child = arguments.valueOf(a);
            bandwidth = arguments.numberOf(a, 0, 1e6);
            resultPath = arguments.valueOf(a);
        } else if (a.starts_with("-"))
            velmora::bench::Arguments::unknown(a);
        else {
            platform::ml::standardHyperparameters(a);  // an unknown size is refused before any work
            sizes.push_back(a);
        }
    }
    if (!child.empty()) return runSize(child, models / child, repeat, rounds, bandwidth, resultPath, quick);
    if (!steadinessChild.empty()) return runSteadinessChild(models / steadinessChild, windows, resultPath);
    if (!steadiness.empty()) return runSteadiness(steadiness, models, processes, windows);
    if (sizes.empty()) sizes = {"tiny", "base", "small"};

    const std::string loadAtStart = loadAverages();
    const int threads = ComputePool::shared().threadCount();
    const double gemmRate = GemmRate(quick).measure(threads, 5);
    bandwidth = measureBandwidth(threads, quick);
    std::printf("machine: %d threads, OpenBLAS SGEMM %.0f GFLOP/s (%d^3, %d threads), memory read %.1f GB/s%s\n",
                threads, gemmRate, quick ? 1024 : 3072, threads, bandwidth,
                quick ? " (quick: not the goals' figures)" : "");
    std::printf("%s\n", pathsInUse().c_str());
    std::printf(
        "encoder: one 30 s window (convolutions and blocks), median of the rounds that alternate it with\n"
        "an SGEMM measurement, and its share of that SGEMM rate; cross K/V: the decoder's first call on a window;\n"
        "decoder: per token at position 223 (224 cache columns), x = time / time to stream its weights\n"
        "(w: half-precision layers and embedding; w+kv: also the half-precision cross-attention\n"
        "keys/values) at the memory read rate measured just before that size;\n"
        "memory: peak resident of the process, and its ratio to the Float32 weights.\n\n");
    std::printf("%-9s | %-27s | %-10s | %-11s | %-45s | %-9s | %-8s | %s\n", "size", "encoder (SGEMM share)",
                "cross K/V", "enc + K/V", "decoder per token (memory read rate)", "mel", "load", "peak memory");
    struct Row {
        std::string size;
        double peak = 0, encoderMs = 0, gemm = 0, share = 0;
        bool ok = false;
    };
    std::vector<Row> rows;
    const fs::path resultFile = models / ("result-" + std::to_string(getpid()));
    for (const auto& size : sizes) {
        const fs::path folder = models / size;
        if (!fs::exists(folder / "TextDecoder.mlmodelc/model.json")) {
            std::fprintf(stderr, "making random %s bundles in %s\n", size.c_str(), folder.c_str());
            makeRandomModelFolder(folder, standardHyperparameters(size), 1, TensorDataType::F16);
        }
        bandwidth = measureBandwidth(threads, quick);
        const std::string self = fs::read_symlink("/proc/self/exe");
        const std::string bw = std::to_string(bandwidth), rep = std::to_string(repeat), rnd = std::to_string(rounds);
        const std::string modelsArg = models.string(), resultArg = resultFile.string();
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            execl(self.c_str(), self.c_str(), "--child", size.c_str(), bw.c_str(), resultArg.c_str(), "--repeat",
                  rep.c_str(), "--rounds", rnd.c_str(), "--models", modelsArg.c_str(),
                  quick ? "--quick" : static_cast<const char*>(nullptr), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Row row;
        row.size = size;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            if (std::FILE* f = std::fopen(resultArg.c_str(), "r")) {
                char text[256] = {};
                const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
                std::fclose(f);
                const char *at = text, *end = text + n;
                int read = 0;
                for (double* value : {&row.peak, &row.encoderMs, &row.gemm, &row.share}) {
                    if (at >= end) break;
                    const auto parsed = std::from_chars(at, end, *value);
                    if (parsed.ec != std::errc()) break;
                    at = parsed.ptr + 1;
                    ++read;
                }
                row.ok = read == 4;
            }
        std::remove(resultArg.c_str());
        if (!row.ok) std::fprintf(stderr, "%s: the run failed\n", size.c_str());
        rows.push_back(row);
    }

    std::printf("\nfigures with goals (load average %s at the start, %s at the end; %d threads; %s)\n",
                loadAtStart.c_str(), loadAverages().c_str(), threads, pathsInUse().c_str());
    std::printf("%-9s | %-30s | %-52s\n", "size", "peak memory, all three models", "encoder, share of the SGEMM rate");
    for (const auto& row : rows) {
        if (!row.ok) {
            std::printf("%-9s | failed\n", row.size.c_str());
            continue;
        }
        const Goals g = goalsOf(row.size, bestVectorPath());
        char memory[64], speed[96];
        if (g.peakMB > 0)
            std::snprintf(memory, sizeof memory, "%5.0f MB (goal <= %3.0f MB) %s", row.peak, g.peakMB,
                          row.peak <= g.peakMB ? "met" : "MISSED");
        else
            std::snprintf(memory, sizeof memory, "%5.0f MB", row.peak);
        if (g.encoderShare > 0)
            std::snprintf(speed, sizeof speed, "%3.0f%% (goal >= %2.0f%%) %-6s %7.1f ms, SGEMM %4.0f GF/s", row.share,
                          g.encoderShare, row.share >= g.encoderShare ? "met" : "MISSED", row.encoderMs, row.gemm);
        else
            std::snprintf(speed, sizeof speed, "%3.0f%% %7.1f ms, SGEMM %4.0f GF/s", row.share, row.encoderMs,
                          row.gemm);
        std::printf("%-9s | %-30s | %s\n", row.size.c_str(), memory, speed);
    }
    const auto failed = std::count_if(rows.begin(), rows.end(), [](const Row& row) { return !row.ok; });
    if (failed > 0) throw std::runtime_error(std::to_string(failed) + " of the sizes failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // OpenBLAS reads its spin time when it starts: set it, then start again.
    if (!std::getenv("OPENBLAS_THREAD_TIMEOUT")) {
        setenv("OPENBLAS_THREAD_TIMEOUT", "4", 1);
        execv("/proc/self/exe", argv);
        velmora::bench::printError(velmora::bench::programName(argv[0]),
                                   std::string("cannot start again: ") + std::strerror(errno));
        return 1;
    }
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
