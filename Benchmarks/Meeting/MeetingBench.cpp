// Does a meeting keep up? The recorder cuts each side's audio (microphone and system) into chunks of
// about 26 s and hands them, one after another, to the on-device engine, which transcribes each as
// one padded 30 s window with its own decoding options (language detected, text only, the full
// fallback ladder). This program sends both sides' chunks down that road, through
// `LocalWhisperProvider::transcribe`, on a random-weight bundle of the sizes of the application's
// own model, large-v3-turbo (32 encoder layers and 4 decoder layers of width 1280, 128 mel bands;
// the multilingual vocabulary of the test tokenizer), and prints the real-time factor of both
// sides together, the time of each stage and the peak memory, at each thread count in a child
// process of its own (so that each count has its own pool and its own peak), with the vector
// path the runtime took.
//
// Random weights would say nothing for long or stop at once, and their guesses would fall back
// to higher temperatures every time; a speaking model is confident and says about 60 tokens in
// 26 s. A logits filter stands in for that: it makes one text token certain at every step (drawn
// from the tokens before it, so the text does not repeat) and the end of the text after 60. Every
// prediction still runs in full; only the choice of the next token is scripted.
//
//   build-release/Benchmarks/MeetingBench FOLDER [--chunks N] [--threads 8,4] [--tokens 60] [--size SIZE]
//
// --size runs another standard size's bundles: large-v3 (32 decoder layers; the earlier figures
// in docs/benchmarks.md are its), or the quickest form, --size tiny --chunks 1 --threads 2
// --tokens 8, as scripts/bench-smoke runs it.
//
// Beside each chunk the program probes the machine's capacity (MachineCapacity.hpp), just before
// and just after: on a virtual machine whose host sometimes puts two of its processors on one core,
// a slow chunk with slow probes is the machine's, not the engine's.
//
// FOLDER receives the bundles when it has none (about 1.6 GB for large-v3-turbo, 3 GB for
// large-v3, as FacadeLargeBatchBench writes them, which can share a folder of the same size):
// keep it under /tmp and remove it afterwards.
//
// The engine finds the model as a user finds it whose download once finished and who has no hub
// now: the model folder and the tokenizer its widths call for in the places the engine's download
// (Tremolan::downloadWithTokenizer) puts them, and a hub that cannot be reached (a closed loopback
// port, never the network), so that it takes both from disk. A loopback hub serving the 3 GB
// bundle would only add its listing and checks to the engine's load, which the figures leave out.

#include "BenchProgram.hpp"
#include "BenchmarkData.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "LargeBundle.hpp"
#include "LoadAverages.hpp"
#include "MachineCapacity.hpp"
#include "Median.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "ProcessStatus.hpp"
#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "VectorPathInUse.hpp"
#include "Velmora/Audio/SpeechDetector.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using korbit::fixedDecimal;
using velmora::bench::statusMegabytes;

namespace {

using velmora::bench::median;

constexpr double kChunkSeconds = 26.0;
constexpr int kEndOfText = 50257;
constexpr int kSpecialTokenBegin = 50257;

/// Confident speech of `length` text tokens on random weights: the next token is made certain
/// (its score far above every other) until the text holds `length` tokens, then the end of text.
/// Counts the texts it ended, so that the program can check that every chunk said its tokens.
class ScriptedSpeech final : public tremolan::LogitsFiltering {
public:
    explicit ScriptedSpeech(int length) : length_(length) {}

    platform::ml::MLMultiArray& filterLogits(platform::ml::MLMultiArray& logits,
                                             std::span<const int> tokens) const override {
        // The text so far: the tokens after the prompt's last special token.
        std::size_t said = 0;
        while (said < tokens.size() && tokens[tokens.size() - 1 - said] < kSpecialTokenBegin) ++said;
        int next = kEndOfText;
        if (static_cast<int>(said) < length_) {
            std::uint32_t h = 2166136261u;
            for (std::size_t i = tokens.size() - said; i < tokens.size(); ++i)
                h = (h ^ static_cast<std::uint32_t>(tokens[i])) * 16777619u;
            h = (h ^ static_cast<std::uint32_t>(said)) * 16777619u;
            next = 256 + static_cast<int>(h % 40000u);
        } else {
            ended_.fetch_add(1, std::memory_order_relaxed);
        }
        logits.setValue({0, 0, next}, 30000.0);
        return logits;
    }

    int ended() const { return ended_.load(); }

private:
    const int length_;
    mutable std::atomic<int> ended_{0};
};

/// The facade the engine builds, keeping the timings of each transcription for the report.
class TimedFacade final : public tremolan::Tremolan {
public:
    TimedFacade(const tremolan::TremolanConfig& config, ConstructionKey key) : Tremolan(config, key) {}
    using Tremolan::transcribe;

    Results transcribe(const std::vector<float>& audioArray,
                       const std::optional<tremolan::DecodingOptions>& decodeOptions = {},
                       const tremolan::TranscriptionCallback& callback = nullptr,
                       const SegmentDiscoveryCallback& segmentCallback = nullptr, std::stop_token stop = {}) override {
        auto results = Tremolan::transcribe(audioArray, decodeOptions, callback, segmentCallback, stop);
        std::lock_guard lock(mutex_);
        last_ = results.empty() ? tremolan::TranscriptionTimings{} : results.front()->timings();
        return results;
    }

    tremolan::TranscriptionTimings lastTimings() const {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    mutable std::mutex mutex_;
    tremolan::TranscriptionTimings last_;
};

/// One side's chunk: a voiced buzz in bursts of about 3.5 s with short pauses, as speech has; the
/// pitch and the rhythm differ by side and chunk, so no two encoder outputs are alike.
std::vector<float> chunk(int side, int index) {
    std::vector<float> samples(static_cast<std::size_t>(kChunkSeconds * 16000));
    const double pitch = (side == 0 ? 118.0 : 196.0) + 5.0 * index;
    const double period = 4.2 + 0.3 * side + 0.1 * index;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000.0;
        if (std::fmod(t, period) >= period - 0.7) continue;
        double value = 0;
        for (int h = 1; h <= 6; ++h) value += std::sin(2 * std::numbers::pi * pitch * h * t) / h;
        samples[i] = static_cast<float>(0.15 * value * (0.6 + 0.4 * std::sin(2 * std::numbers::pi * 3.0 * t)));
    }
    return samples;
}

/// Puts the model where the engine downloads it: its folder (a link to the bundles) and, in its
/// place under the download base, the tokenizer that the models' widths call for (the test data's
/// multilingual one). Throws unless the engine then counts the model as downloaded.
void placeModel(const velmora::LocalWhisperProvider& engine, const fs::path& folder) {
    fs::create_directories(engine.modelFolder().parent_path());
    if (!fs::exists(engine.modelFolder())) fs::create_directory_symlink(fs::absolute(folder), engine.modelFolder());
    const auto variant = tremolan::ModelUtilities::variantOfModelFolder(folder);
    if (!variant) throw std::runtime_error("the bundles in " + folder.string() + " do not say their size");
    const fs::path place = tremolan::ModelUtilities::tokenizerPlace(*variant, engine.downloadBase());
    fs::create_directories(place);
    for (const char* file : {"tokenizer.json", "tokenizer_config.json"})
        fs::copy_file(velmora::bench::dataPath("whisper-tokenizer/multilingual") + "/" + file, place / file,
                      fs::copy_options::overwrite_existing);
    if (!engine.hasModelFiles())
        throw std::runtime_error("the engine does not count the model in " + engine.modelFolder().string() +
                                 " with the tokenizer in " + place.string() + " as downloaded");
}

struct Stage {
    double mel = 0, encoder = 0, decoder = 0, tokens = 0, fallbacks = 0, windows = 0;
};

int runChild(const fs::path& folder, const fs::path& work, int chunks, int tokens, const fs::path& resultPath) {
    auto speech = std::make_shared<ScriptedSpeech>(tokens);
    std::shared_ptr<TimedFacade> facade;
    velmora::LocalWhisperProvider engine(work / "engine", [&](const tremolan::TremolanConfig& engineConfig) {
        // The engine's own configuration (its model folder, and the tokenizer from the download
        // base), with the scripted speech in place of a trained model's.
        tremolan::TremolanConfig config = engineConfig;
        config.logitsFilters = std::vector<std::shared_ptr<tremolan::LogitsFiltering>>{speech};
        facade = tremolan::Tremolan::create<TimedFacade>(config);
        return facade;
    });
    // The engine fetches its model and tokenizer before it builds the facade; with a hub that
    // cannot be reached it takes the whole copies on disk.
    setenv("HF_ENDPOINT", "http://127.0.0.1:1", 1);
    placeModel(engine, folder);

    const auto began = std::chrono::steady_clock::now();
    engine.load();
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // The first transcription also loads the models (the facade is only prewarmed): not counted.
    const auto warm = std::chrono::steady_clock::now();
    const std::string firstText = engine.transcribe(chunk(0, 99), "");
    const double warmSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - warm).count();
    const int endedBefore = speech->ended();

    std::vector<double> sideTimes[2], pairTimes, probes;
    auto& pool = platform::ml::ComputePool::shared();
    Stage total;
    int skipped = 0;
    std::size_t words = 0;
    for (int i = 0; i < chunks; ++i) {
        double pair = 0;
        for (int side = 0; side < 2; ++side) {
            const auto samples = chunk(side, i);
            // As the recorder does: a chunk without speech is never sent.
            if (!velmora::SpeechDetector::hasSpeech(samples, 16000)) {
                ++skipped;
                continue;
            }
            const double probeBefore = velmora::bench::machineCapacityProbe(pool);
            const auto start = std::chrono::steady_clock::now();
            const std::string text = engine.transcribe(samples, "");
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double probeAfter = velmora::bench::machineCapacityProbe(pool);
            probes.push_back(probeBefore * 1e3);
            probes.push_back(probeAfter * 1e3);
            sideTimes[side].push_back(seconds);
            pair += seconds;
            std::istringstream count(text);
            std::string word;
            while (count >> word) ++words;
            const auto timings = facade->lastTimings();
            total.mel += timings.logmels;
            total.encoder += timings.encoding;
            total.decoder += timings.decodingPredictions;
            total.tokens += timings.totalDecodingLoops;
            total.fallbacks += timings.totalDecodingFallbacks;
            total.windows += timings.totalDecodingWindows;
            std::printf("  chunk %d, %s: %s s (encoder %s s, decoder %s s, %.0f steps; probes %s, %s ms)\n", i,
                        side == 0 ? "microphone" : "system    ", fixedDecimal(seconds, 2).c_str(),
                        fixedDecimal(timings.encoding, 2).c_str(), fixedDecimal(timings.decodingPredictions, 2).c_str(),
                        timings.totalDecodingLoops, fixedDecimal(probeBefore * 1e3, 2).c_str(),
                        fixedDecimal(probeAfter * 1e3, 2).c_str());
            std::fflush(stdout);
        }
        pairTimes.push_back(pair);
    }
    const int transcribed = static_cast<int>(sideTimes[0].size() + sideTimes[1].size());
    const int ended = speech->ended() - endedBefore;
    double sum = 0;
    for (double t : pairTimes) sum += t;
    const double factor = sum / (chunks * kChunkSeconds);
    const double peak = statusMegabytes("VmHWM");
    const int threads = platform::ml::ComputePool::shared().threadCount();

    std::printf(
        "%d threads: %d chunks of %.0f s per side, %d transcribed, %d skipped; texts ended after %d tokens: %d of %d; "
        "%.1f words a chunk; fallbacks %.0f; windows %.0f\n",
        threads, chunks, kChunkSeconds, transcribed, skipped, tokens, ended, transcribed,
        transcribed ? static_cast<double>(words) / transcribed : 0.0, total.fallbacks, total.windows);
    std::printf("  engine load %s s, first chunk (models loaded) %s s, its text %zu characters\n",
                fixedDecimal(loadSeconds, 1).c_str(), fixedDecimal(warmSeconds, 1).c_str(), firstText.size());
    std::printf("  per chunk, median: microphone %s s, system %s s; both sides %s s (median pair)\n",
                fixedDecimal(median(sideTimes[0]), 2).c_str(), fixedDecimal(median(sideTimes[1]), 2).c_str(),
                fixedDecimal(median(pairTimes), 2).c_str());
    if (transcribed > 0)
        std::printf(
            "  per chunk, mean of the stages: mel %s s, encoder %s s, decoder %s s (%.1f steps, %s ms a step), "
            "rest %s s\n",
            fixedDecimal(total.mel / transcribed, 3).c_str(), fixedDecimal(total.encoder / transcribed, 2).c_str(),
            fixedDecimal(total.decoder / transcribed, 2).c_str(), total.tokens / transcribed,
            fixedDecimal(total.tokens > 0 ? 1e3 * total.decoder / total.tokens : 0.0, 1).c_str(),
            fixedDecimal((sum - total.mel - total.encoder - total.decoder) / transcribed, 2).c_str());
    if (!probes.empty())
        std::printf("  machine capacity probes beside the chunks: %s to %s ms (median %s)\n",
                    fixedDecimal(*std::min_element(probes.begin(), probes.end()), 2).c_str(),
                    fixedDecimal(*std::max_element(probes.begin(), probes.end()), 2).c_str(),
                    fixedDecimal(median(probes), 2).c_str());
    std::printf("  real-time factor, both sides together: %s; peak memory %s MB; load average %s\n",
                fixedDecimal(factor, 3).c_str(), fixedDecimal(peak, 0).c_str(), velmora::bench::loadAverages().c_str());
    std::fflush(stdout);
    if (std::FILE* f = std::fopen(resultPath.c_str(), "w")) {
        std::fprintf(f, "%d %.6f %.1f %d %d\n", threads, factor, peak, ended, transcribed);
        std::fclose(f);
    }
    if (ended != transcribed)
        throw std::runtime_error("the texts of " + std::to_string(ended) + " of " + std::to_string(transcribed) +
                                 " chunks ended after " + std::to_string(tokens) + " tokens");
    return 0;
}

constexpr const char* kUsage =
    "usage: MeetingBench FOLDER [--chunks N] [--threads 8,4] [--tokens 60] [--size large-v3-turbo]\n"
    "  both sides' chunks of a meeting through the on-device engine on random bundles of the size\n"
    "  (written into FOLDER when it has none; about 1.6 GB for large-v3-turbo, 3 GB for large-v3),\n"
    "  at each thread count\n";

int runBench(velmora::bench::Arguments& arguments) {
    const std::string folderArgument = arguments.take();
    if (folderArgument.starts_with("-")) velmora::bench::Arguments::unknown(folderArgument);
    const fs::path folder = fs::absolute(folderArgument);
    int chunks = 3, tokens = 60;
    std::string threadList = "8,4", size = "large-v3-turbo", resultPath;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--chunks")
            chunks = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--tokens")
            tokens = static_cast<int>(arguments.wholeOf(a, 1, 200));
        else if (a == "--threads")
            threadList = arguments.valueOf(a);
        else if (a == "--size")
            size = arguments.valueOf(a);
        else if (a == "--child")
            resultPath = arguments.valueOf(a);
        else
            velmora::bench::Arguments::unknown(a);
    }
    std::vector<std::string> threadCounts;
    {
        std::stringstream list(threadList);
        for (std::string item; std::getline(list, item, ',');)
            threadCounts.push_back(std::to_string(velmora::bench::wholeNumber(item, "--threads", 1, 1024)));
    }
    // The engine's log and data folder go to a folder of the run, never the user's own.
    const fs::path work = folder / "meeting-run";
    fs::create_directories(work / "data");
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (work / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (work / "data").c_str(), 1);
    if (!resultPath.empty()) return runChild(folder, work, chunks, tokens, resultPath);

    velmora::bench::ensureLargeBundle(folder, size);
    std::printf(
        "meeting: %d chunks of %.0f s from each side (microphone, system), one after another through the "
        "on-device engine, %s sizes, %d tokens a chunk; %s; load average %s at the start\n",
        chunks, kChunkSeconds, size.c_str(), tokens, velmora::bench::vectorPathInUse().c_str(),
        velmora::bench::loadAverages().c_str());
    std::fflush(stdout);
    const std::string self = fs::read_symlink("/proc/self/exe");
    int failures = 0;
    std::vector<std::string> summary;
    for (const std::string& item : threadCounts) {
        const int threads = std::atoi(item.c_str());
        const fs::path result = work / ("result-" + std::to_string(getpid()) + "-" + item);
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("VELMORA_THREADS", item.c_str(), 1);
            const std::string chunksArg = std::to_string(chunks), tokensArg = std::to_string(tokens);
            execl(self.c_str(), self.c_str(), folder.c_str(), "--chunks", chunksArg.c_str(), "--tokens",
                  tokensArg.c_str(), "--child", result.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        int t = 0, ended = 0, transcribed = 0;
        double factor = 0, peak = 0;
        bool ok = false;
        if (std::FILE* f = std::fopen(result.c_str(), "r")) {
            ok = std::fscanf(f, "%d %lf %lf %d %d", &t, &factor, &peak, &ended, &transcribed) == 5;
            std::fclose(f);
            fs::remove(result);
        }
        if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++failures;
            summary.push_back(item + " threads: failed");
            continue;
        }
        std::string line = std::to_string(t) + " threads: real-time factor " + fixedDecimal(factor, 3);
        // large-v3's goals were set on AVX-512; the application's own model has to keep up at 4
        // threads on the AVX2 path too.
        if (size == "large-v3" && threads >= 4) {
            const double goal = threads >= 8 ? 0.5 : 1.0;
            line += " (goal < " + fixedDecimal(goal, 1) + (factor < goal ? ": met)" : ": MISSED)");
        } else if (size == "large-v3-turbo" && threads == 4) {
            line += std::string(" (goal <= 0.75: ") + (factor <= 0.75 ? "met)" : "MISSED)");
        }
        line += ", peak memory " + fixedDecimal(peak, 0) + " MB";
        summary.push_back(line);
    }
    std::printf("\nsummary (%s sizes, %s; load average %s at the end)\n", size.c_str(),
                velmora::bench::vectorPathInUse().c_str(), velmora::bench::loadAverages().c_str());
    for (const auto& line : summary) std::printf("  %s\n", line.c_str());
    if (failures > 0) throw std::runtime_error(std::to_string(failures) + " of the thread counts failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
