// HubTransferBench: the hub client's transfer engine against the loopback fake hub.
//
//   1. Throughput of one large file (1 GiB by default) fetched into the cache by a snapshot,
//      next to `curl -o` of the same file from the same server followed by a flush of the written
//      file to disk (fdatasync, as `sync -d FILE` does): the snapshot flushes its file before it
//      moves it into place, so this is the same durability. Rounds alternate which goes first;
//      the figure is the median of the rounds' ratios (goal: >= 0.9).
//   2. Peak resident memory of the process doing that transfer (goal: < 64 MiB, flat in the
//      file size; a transfer of a quarter of the size is measured for comparison).
//   3. Fault run: transfers of a 64 MiB file whose body breaks at random offsets, with the
//      downloading process killed at a random moment and started again; every final file must
//      have the right SHA-256 and no run may report success with a wrong file.
//
// Downloads run in child processes (this program started again with --worker), so that their
// memory is measured alone and they can be killed. Run from a Release build:
//   build-release/Benchmarks/HubTransferBench [--size-mib N] [--rounds N] [--fault-runs N] [--fault-size-mib N]
//                                             [--seed N] [--before PROGRAM]
// --fault-runs 0 skips the fault run. --before names this program built from an earlier revision:
// its worker then takes a turn in every round of 1 as a third client. The quickest form:
// --size-mib 4 --rounds 1 --fault-runs 2 --fault-size-mib 4. The work folder is under $TMPDIR.

#include "BenchProgram.hpp"
#include "FakeHub/FakeHub.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "LoadAverages.hpp"
#include "Median.hpp"
#include "Platform/Crypto/Sha256.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using velmora::bench::loadAverages;
using Clock = std::chrono::steady_clock;

namespace {

using velmora::bench::median;

constexpr const char* kRepo = "bench/files";

struct Child {
    pid_t pid = -1;
};

struct Finished {
    int status = -1;           // exit status, or -1 when killed by a signal
    long peakResidentKiB = 0;  // of the child alone
};

Child spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return Child{pid};
}

void flushToDisk(const fs::path& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fdatasync(fd) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) close(fd);
        throw std::runtime_error("cannot flush " + path.string() + ": " + reason);
    }
    close(fd);
}

Finished wait(const Child& child) {
    int status = 0;
    rusage usage{};
    wait4(child.pid, &status, 0, &usage);
    Finished f;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.peakResidentKiB = usage.ru_maxrss;
    return f;
}

void writeRandomFile(const fs::path& path, std::uint64_t size, unsigned seed) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) word = random();
        std::uint64_t n = std::min<std::uint64_t>(size - written, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    out.close();
    flushToDisk(path);  // so that its write-back does not fall into the measured transfers
}

std::string sha256Of(const fs::path& path) {
    return velmora::test::FakeHub::sha256Of(path);
}

// Worker mode: one snapshot of the repository into the base folder; exit 0 on success.
int runWorker(int argc, char** argv) {
    if (argc < 6) return 2;
    std::string endpoint = argv[2];
    fs::path base = argv[3];
    std::string file = argv[4];
    long retryWaitMs = std::atol(argv[5]);
    korbit::HubApiTiming timing;
    timing.transfer.retryWait = std::chrono::milliseconds(retryWaitMs);
    try {
        korbit::HubApi hub(base, std::string(), endpoint, false, timing);
        hub.useOfflineMode = false;
        hub.snapshot(korbit::Repo(kRepo), "main", {file});
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "worker: %s\n", e.what());
        return 1;
    }
}

struct TransferFigures {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

TransferFigures timedSnapshot(const std::string& self, const std::string& endpoint, const fs::path& base,
                              const std::string& file, const std::string& expectedDigest) {
    fs::remove_all(base);
    auto start = Clock::now();
    Finished f = wait(spawn({self, "--worker", endpoint, base.string(), file, "1000"}));
    TransferFigures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.peakKiB = f.peakResidentKiB;
    fs::path result = base / "models" / kRepo / file;
    figures.ok = f.status == 0 && fs::exists(result) && sha256Of(result) == expectedDigest;
    return figures;
}

constexpr const char* kUsage =
    "usage: HubTransferBench [--size-mib N] [--rounds N] [--fault-runs N] [--fault-size-mib N] [--seed N]\n"
    "                        [--before PROGRAM]\n"
    "  snapshots from the loopback fake hub next to curl -o, peak memory, and transfers broken and killed\n";

int runBench(velmora::bench::Arguments& arguments) {
    std::uint64_t sizeMiB = 1024, faultSizeMiB = 64;
    int faultRuns = 50;
    int rounds = 5;
    unsigned seed = 20240611;
    std::string before;
    while (!arguments.done()) {
        const std::string option = arguments.take();
        if (option == "--size-mib")
            sizeMiB = static_cast<std::uint64_t>(arguments.wholeOf(option, 1, 1 << 20));
        else if (option == "--rounds")
            rounds = static_cast<int>(arguments.wholeOf(option, 1, 1000));
        else if (option == "--fault-runs")
            faultRuns = static_cast<int>(arguments.wholeOf(option, 0, 100000));
        else if (option == "--fault-size-mib")
            faultSizeMiB = static_cast<std::uint64_t>(arguments.wholeOf(option, 1, 1 << 20));
        else if (option == "--seed")
            seed = static_cast<unsigned>(arguments.wholeOf(option, 0, 4294967295LL));
        else if (option == "--before")
            before = arguments.valueOf(option);
        else
            velmora::bench::Arguments::unknown(option);
    }
    std::string self = fs::read_symlink("/proc/self/exe").string();
    fs::path work = fs::temp_directory_path() / ("hub-transfer-bench-" + std::to_string(getpid()));
    // The work folder goes however the run ends.
    struct RemovedAtEnd {
        fs::path folder;
        ~RemovedAtEnd() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } const removeWork{work};
    fs::path root = work / "hub";
    fs::path repoFolder = root / "models" / kRepo;

    velmora::test::FakeHub hub(root);
    std::printf("hub transfer bench: loopback fake hub at %s, work folder %s\n", hub.endpoint().c_str(), work.c_str());

    // 1 and 2: throughput and peak memory.
    writeRandomFile(repoFolder / "large.bin", sizeMiB << 20, seed);
    writeRandomFile(repoFolder / "quarter.bin", (sizeMiB << 20) / 4, seed + 1);
    std::string largeDigest = sha256Of(repoFolder / "large.bin");
    std::string quarterDigest = sha256Of(repoFolder / "quarter.bin");
    std::string contentUrl = "http://localhost:" + std::to_string(hub.port()) + "/cdn/" + largeDigest;
    // Announce the content address (the hub registers it on the first probe).
    {
        korbit::HubApi probe(work / "probe", std::string(), hub.endpoint());
        probe.getFileMetadata(hub.endpoint() + "/" + kRepo + "/resolve/main/large.bin");
    }

    std::printf("load averages before: %s\n", loadAverages().c_str());
    std::vector<double> curlTimes, curlSyncTimes, oursTimes, ratios, beforeRatios;
    long peakKiB = 0;
    bool transfersOk = true;
    const double mib = static_cast<double>(sizeMiB);
    for (int round = 0; round < rounds; ++round) {
        double curlSeconds = 0, curlSyncSeconds = 0;
        auto runCurl = [&] {
            fs::path curlOut = work / "curl.out";
            auto start = Clock::now();
            Finished curl = wait(spawn({"curl", "-s", "-o", curlOut.string(), contentUrl}));
            curlSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (curl.status != 0 || fs::file_size(curlOut) != (sizeMiB << 20))
                throw std::runtime_error("curl failed (status " + std::to_string(curl.status) +
                                         "): is it installed (scripts/setup)?");
            flushToDisk(curlOut);
            curlSyncSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            fs::remove(curlOut);
        };
        TransferFigures ours, earlier;
        auto runOurs = [&] { ours = timedSnapshot(self, hub.endpoint(), work / "cache", "large.bin", largeDigest); };
        auto runEarlier = [&] {
            earlier = timedSnapshot(before, hub.endpoint(), work / "cache", "large.bin", largeDigest);
            fs::remove_all(work / "cache");
        };
        // Rounds alternate which client goes first (with an earlier build, the three take turns).
        std::vector<std::function<void()>> clients{runCurl, runOurs};
        if (!before.empty()) clients.insert(clients.begin() + 1, runEarlier);
        std::rotate(clients.begin(), clients.begin() + round % static_cast<int>(clients.size()), clients.end());
        for (auto& client : clients) client();
        fs::remove_all(work / "cache");
        transfersOk = transfersOk && ours.ok;
        peakKiB = std::max(peakKiB, ours.peakKiB);
        curlTimes.push_back(curlSeconds);
        curlSyncTimes.push_back(curlSyncSeconds);
        oursTimes.push_back(ours.seconds);
        ratios.push_back(curlSyncSeconds / ours.seconds);
        std::printf("   round %d: hub client %.2f s, curl -o %.2f s, curl -o + flush %.2f s, ratio %.2f", round + 1,
                    ours.seconds, curlSeconds, curlSyncSeconds, ratios.back());
        if (!before.empty()) {
            transfersOk = transfersOk && earlier.ok;
            beforeRatios.push_back(curlSyncSeconds / earlier.seconds);
            std::printf("; earlier build %.2f s, ratio %.2f", earlier.seconds, beforeRatios.back());
        }
        std::printf("; load %s\n", loadAverages().c_str());
    }
    TransferFigures quarter = timedSnapshot(self, hub.endpoint(), work / "cache", "quarter.bin", quarterDigest);
    transfersOk = transfersOk && quarter.ok;
    fs::remove_all(work / "cache");
    fs::remove(repoFolder / "large.bin");
    fs::remove(repoFolder / "quarter.bin");

    const double ours = median(oursTimes), curlOnly = median(curlTimes), curlSync = median(curlSyncTimes);
    std::printf(
        "\n1. throughput, %llu MiB file, medians of %d rounds: hub client %.0f MiB/s (%.2f s), curl -o + flush "
        "%.0f MiB/s (%.2f s; curl -o alone %.2f s); ratio %.2f (goal >= 0.90)%s\n",
        static_cast<unsigned long long>(sizeMiB), rounds, mib / ours, ours, mib / curlSync, curlSync, curlOnly,
        median(ratios), transfersOk ? "" : "  [A TRANSFER GAVE A WRONG FILE]");
    if (!before.empty()) std::printf("   the earlier build in the same rounds: ratio %.2f\n", median(beforeRatios));
    std::printf(
        "2. peak resident memory of the downloading process: %.1f MiB for %llu MiB, %.1f MiB for %llu MiB "
        "(goal < 64 MiB, flat)\n",
        peakKiB / 1024.0, static_cast<unsigned long long>(sizeMiB), quarter.peakKiB / 1024.0,
        static_cast<unsigned long long>(sizeMiB / 4));
    std::printf("load averages after: %s\n", loadAverages().c_str());
    if (!transfersOk) throw std::runtime_error("a transfer gave a wrong file");
    if (faultRuns <= 0) return 0;

    // 3. Fault run.
    writeRandomFile(repoFolder / "fault.bin", faultSizeMiB << 20, seed + 2);
    std::string faultDigest = sha256Of(repoFolder / "fault.bin");
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::uint64_t> offset(0, (faultSizeMiB << 20) - 1);
    std::uniform_int_distribution<int> breaks(1, 3);
    std::uniform_int_distribution<int> killAfterMs(5, 400);
    int correct = 0, wrongSuccesses = 0, killed = 0, starts = 0;
    auto faultStart = Clock::now();
    for (int run = 0; run < faultRuns; ++run) {
        fs::path base = work / ("fault-" + std::to_string(run));
        fs::path result = base / "models" / kRepo / "fault.bin";
        hub.breakBody("fault.bin", offset(random), breaks(random));
        // The first process is killed at a random moment (unless it finished before).
        Child first = spawn({self, "--worker", hub.endpoint(), base.string(), "fault.bin", "200"});
        ++starts;
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
        kill(first.pid, SIGKILL);
        Finished f = wait(first);
        if (f.status == -1) ++killed;
        bool done = f.status == 0;
        if (done && (!fs::exists(result) || sha256Of(result) != faultDigest)) ++wrongSuccesses;
        for (int attempt = 0; !done && attempt < 5; ++attempt) {
            if (attempt > 0) hub.breakBody("fault.bin", offset(random), 1);
            Finished again = wait(spawn({self, "--worker", hub.endpoint(), base.string(), "fault.bin", "200"}));
            ++starts;
            done = again.status == 0;
            if (done && (!fs::exists(result) || sha256Of(result) != faultDigest)) ++wrongSuccesses;
        }
        if (done && fs::exists(result) && sha256Of(result) == faultDigest) ++correct;
        fs::remove_all(base);
    }
    double faultSeconds = std::chrono::duration<double>(Clock::now() - faultStart).count();
    std::printf(
        "3. fault run: %d transfers of %llu MiB, %d processes killed mid-way, %d processes started; "
        "%d/%d final files with the right SHA-256, %d successes with a wrong file (%.1f s)\n",
        faultRuns, static_cast<unsigned long long>(faultSizeMiB), killed, starts, correct, faultRuns, wrongSuccesses,
        faultSeconds);
    if (correct != faultRuns || wrongSuccesses != 0)
        throw std::runtime_error("the fault run: " + std::to_string(correct) + " of " + std::to_string(faultRuns) +
                                 " final files right, " + std::to_string(wrongSuccesses) +
                                 " successes with a wrong file");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A child of this program downloading one file: its exit status is its answer.
    if (argc > 1 && std::string(argv[1]) == "--worker") return runWorker(argc, argv);
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
