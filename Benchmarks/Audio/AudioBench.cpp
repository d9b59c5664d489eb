// The audio bench: loading and resampling one hour of 44.1 kHz stereo FLAC to 16 kHz mono next to
// sox doing the same in the same run (interleaved rounds: the machine is shared), and the energy
// voice-activity detector over one hour of 16 kHz audio.
//
//   build-release/Benchmarks/AudioBench [ROUNDS] [--seconds 3600]      (sox must be on PATH)
//
// --seconds makes the recording shorter (the goals are the hour's). It is made once under
// $TMPDIR/velmora-bench-audio (/tmp without TMPDIR).

#include "BenchProgram.hpp"
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
#include <stdexcept>
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

constexpr const char* kUsage =
    "usage: AudioBench [ROUNDS] [--seconds 3600]\n"
    "  loading and resampling a 44.1 kHz stereo FLAC of the length next to sox, ROUNDS (3) times, and the\n"
    "  energy detector over it (sox must be on PATH)\n";

int runBench(velmora::bench::Arguments& arguments) {
    int rounds = 3, seconds = 3600;
    bool roundsGiven = false;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--seconds") {
            seconds = static_cast<int>(arguments.wholeOf(a, 1, 36000));
        } else if (!a.starts_with("-") && !roundsGiven) {
            rounds = static_cast<int>(velmora::bench::wholeNumber(a, "ROUNDS", 1, 1000));
            roundsGiven = true;
        } else {
            velmora::bench::Arguments::unknown(a);
        }
    }
    const fs::path folder = fs::temp_directory_path() / "velmora-bench-audio";
    fs::create_directories(folder);
    const fs::path hour =
        folder / (seconds == 3600 ? std::string("hour.flac") : "speech-" + std::to_string(seconds) + "s.flac");
    const fs::path soxOut = folder / "sox-out.raw";
    if (!fs::exists(hour)) {
        // The shared 11 s recording (44.1 kHz stereo) repeated to the length: speech, as in use.
        std::printf("making %s ...\n", hour.c_str());
        const std::string source = velmora::bench::dataPath("audio/jfk.flac");
        const std::string part = hour.string() + ".part.flac";
        if (run("sox '" + source + "' '" + part + "' repeat " + std::to_string(seconds / 11 + 1) + " trim 0 " +
                std::to_string(seconds)) != 0)
            throw std::runtime_error("sox failed: is it installed (scripts/setup)?");
        fs::rename(part, hour);
    }

    std::vector<double> ours, sox;
    std::size_t samples = 0;
    std::vector<float> loaded;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        if (run("sox '" + hour.string() + "' -r 16000 -c 1 '" + soxOut.string() + "'") != 0)
            throw std::runtime_error("sox failed on " + hour.string());
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
        "load+resample %d s of 44.1 kHz stereo FLAC -> %zu samples: median %s s; sox %s s; ratio %s (goal <= 1.2)\n",
        seconds, samples, fixedDecimal(median(ours), 2).c_str(), fixedDecimal(median(sox), 2).c_str(),
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

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
