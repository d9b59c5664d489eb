// The audio bench: loading and resampling one hour of 44.1 kHz stereo FLAC to 16 kHz mono next to
// sox doing the same in the same run (interleaved rounds: the machine is shared), and the energy
// voice-activity detector over one hour of 16 kHz audio.
//
//   build-release/Benchmarks/AudioBench [rounds]        (sox must be on PATH)

#include "BenchmarkData.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Median.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using korbit::fixedDecimal;

namespace {

using velmora::bench::median;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const fs::path folder = "/tmp/velmora-bench-audio";
    fs::create_directories(folder);
    const fs::path hour = folder / "hour.flac";
    const fs::path soxOut = folder / "sox-out.raw";
    if (!fs::exists(hour)) {
        // The shared 11 s recording (44.1 kHz stereo) repeated to one hour: speech, as in use.
        std::printf("making %s ...\n", hour.c_str());
        const std::string source = velmora::bench::dataPath("audio/jfk.flac");
        if (run("sox '" + source + "' '" + hour.string() + "' repeat 330 trim 0 3600") != 0) {
            std::fprintf(stderr, "sox failed: is it installed (scripts/setup)?\n");
            return 1;
        }
    }

    std::vector<double> ours, sox;
    std::size_t samples = 0;
    std::vector<float> loaded;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        if (run("sox '" + hour.string() + "' -r 16000 -c 1 '" + soxOut.string() + "'") != 0) return 1;
        sox.push_back(secondsSince(start));
        loaded.clear();
        loaded.shrink_to_fit();
        start = Clock::now();
        loaded = tremolan::AudioProcessor::loadAudioAsFloatArray(hour.string());
        ours.push_back(secondsSince(start));
        samples = loaded.size();
        std::printf("round %d: sox %s s, loadAudioAsFloatArray %s s\n", round + 1, fixedDecimal(sox.back(), 2).c_str(),
                    fixedDecimal(ours.back(), 2).c_str());
    }
    fs::remove(soxOut);
    const double ratio = median(ours) / median(sox);
    std::printf(
        "load+resample 1 h 44.1 kHz stereo FLAC -> %zu samples: median %s s; sox %s s; ratio %s (goal <= 1.2)\n",
        samples, fixedDecimal(median(ours), 2).c_str(), fixedDecimal(median(sox), 2).c_str(),
        fixedDecimal(ratio, 3).c_str());

    // The detector over the loaded hour (16 kHz mono).
    const tremolan::EnergyVAD vad = tremolan::EnergyVAD::standard();
    std::vector<double> vadTimes;
    std::size_t speech = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        const auto activity = vad.voiceActivity(loaded);
        vadTimes.push_back(secondsSince(start));
        speech = static_cast<std::size_t>(std::count(activity.begin(), activity.end(), true));
    }
    const double audioSeconds = static_cast<double>(loaded.size()) / 16000.0;
    std::printf(
        "energy detector over %s s of 16 kHz audio: median %s s, %s x real time (goal >= 1000), %zu speech frames\n",
        fixedDecimal(audioSeconds, 0).c_str(), fixedDecimal(median(vadTimes), 3).c_str(),
        fixedDecimal(audioSeconds / median(vadTimes), 0).c_str(), speech);
    return 0;
}
