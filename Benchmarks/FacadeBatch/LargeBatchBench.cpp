// A batch of 16 recordings on a random bundle of the large-v3 sizes (32 + 32 layers of width 1280,
// 128 mel bands; the multilingual vocabulary of 51865 tokens, whose tokenizer the test data has), in
// one facade call with the silence chunking on: each 45 s recording is cut into pieces, batched from
// inside its own child. Prints the wall time, the most instances each model had at once (a watcher
// samples them), what is left after the call, and the peak resident size (VmHWM) next to the
// weights' size. The weights are random, so the texts mean nothing; decoding stops after 8 tokens.
//
//   build-release/Benchmarks/FacadeLargeBatchBench FOLDER [RECORDINGS] [--size large-v3]
//
// FOLDER receives the bundles when it has none (about 3 GB of half-precision weights: put it
// under /tmp and remove it afterwards). --size runs another standard size's bundles (the quickest
// form: FOLDER 1 --size tiny).

#include "BenchProgram.hpp"
#include "BenchmarkData.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "LargeBundle.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "ProcessStatus.hpp"
#include "Tremolan/Core/Facade/BatchExecutor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using korbit::fixedDecimal;
using velmora::bench::statusMegabytes;

namespace {

/// 45 s at 16 kHz: bursts of a voiced buzz (4 s) and pauses (1.5 s), which the energy detector cuts
/// at; the pitch differs between recordings.
std::vector<float> recording(int index) {
    std::vector<float> samples(45 * 16000);
    const double pitch = 110.0 + 7.0 * index;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000.0;
        if (std::fmod(t, 5.5) >= 4.0) continue;
        double value = 0;
        for (int h = 1; h <= 6; ++h) value += std::sin(2 * std::numbers::pi * pitch * h * t) / h;
        samples[i] = static_cast<float>(0.2 * value);
    }
    return samples;
}

constexpr const char* kUsage =
    "usage: FacadeLargeBatchBench FOLDER [RECORDINGS] [--size large-v3]\n"
    "  RECORDINGS (16) synthetic recordings of 45 s in one facade call with the silence chunking, on random\n"
    "  bundles of the size (written into FOLDER when it has none; about 3 GB for large-v3)\n";

int runBench(velmora::bench::Arguments& arguments) {
    std::vector<std::string> positional;
    std::string size = "large-v3";
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--size")
            size = arguments.valueOf(a);
        else if (a.starts_with("-") || positional.size() == 2)
            velmora::bench::Arguments::unknown(a);
        else
            positional.push_back(a);
    }
    if (positional.empty()) throw velmora::bench::UsageError("FOLDER is missing");
    const fs::path folder = positional[0];
    const int count = positional.size() > 1
                          ? static_cast<int>(velmora::bench::wholeNumber(positional[1], "RECORDINGS", 1, 1000))
                          : 16;
    velmora::bench::ensureLargeBundle(folder, size);
    std::uintmax_t weightBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".safetensors") weightBytes += entry.file_size();

    tremolan::TremolanConfig config;
    config.modelFolder = folder.string();
    config.tokenizerFolder = velmora::bench::dataPath("whisper-tokenizer/multilingual");
    config.download = false;
    const auto start = std::chrono::steady_clock::now();
    const auto facade = tremolan::Tremolan::create(config);
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double loadedMegabytes = statusMegabytes("VmRSS");

    std::vector<std::vector<float>> batch;
    for (int i = 0; i < count; ++i) batch.push_back(recording(i));
    tremolan::DecodingOptions options;
    options.chunkingStrategy = tremolan::ChunkingStrategy::vad;
    options.temperatureFallbackCount = 0;
    options.sampleLength = 8;
    options.withoutTimestamps = true;
    options.language = "en";

    const auto encoder = std::dynamic_pointer_cast<tremolan::WhisperMLModel>(facade->audioEncoder())->model();
    const auto decoder = std::dynamic_pointer_cast<tremolan::WhisperMLModel>(facade->textDecoder())->model();
    std::atomic<bool> done{false};
    std::size_t encoderMost = 0, decoderMost = 0;
    std::thread watcher([&] {
        while (!done) {
            encoderMost = std::max(encoderMost, encoder->instanceCount());
            decoderMost = std::max(decoderMost, decoder->instanceCount());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto began = std::chrono::steady_clock::now();
    const auto outcomes = facade->transcribeWithResults(batch, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    done = true;
    watcher.join();
    std::size_t failed = 0, pieces = 0;
    for (const auto& outcome : outcomes) {
        if (const auto* results = std::get_if<tremolan::Tremolan::Results>(&outcome)) {
            pieces += results->size();
        } else {
            ++failed;
        }
    }

    double load[3] = {0, 0, 0};
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(file);
    }
    std::printf(
        "%d recordings of 45 s, %s sizes, silence chunking, %zu pieces, %zu failed; %u hardware threads, %d compute "
        "threads, %zu batch helpers, load average %s\n",
        count, size.c_str(), pieces, failed, std::thread::hardware_concurrency(),
        platform::ml::ComputePool::shared().threadCount(), tremolan::BatchExecutor::shared().helperCount(),
        fixedDecimal(load[0], 1).c_str());
    std::printf("load %s s, batch %s s\n", fixedDecimal(loadSeconds, 1).c_str(), fixedDecimal(seconds, 1).c_str());
    std::printf("instances at most: encoder %zu, decoder %zu (bound %zu); after the call: %zu and %zu\n", encoderMost,
                decoderMost, decoder->instanceLimit(), encoder->instanceCount(), decoder->instanceCount());
    std::printf("weights %s MB, resident after loading %s MB, peak %s MB\n",
                fixedDecimal(static_cast<double>(weightBytes) / 1048576.0, 0).c_str(),
                fixedDecimal(loadedMegabytes, 0).c_str(), fixedDecimal(statusMegabytes("VmHWM"), 0).c_str());
    if (failed > 0) throw std::runtime_error(std::to_string(failed) + " of the recordings failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
