// Which of this machine's processors share a core now. Each processor first runs a fixed loop of
// multiply-adds alone, pinned to it; then every pair runs it at once. Two processors that are one
// physical core's two hardware threads (which a virtual machine's host may make of any two of its
// virtual processors, and change over time) each run at about half their speed when paired; the
// program marks the pairs whose slower member ran below 70% of its speed alone.
//
//   build-release/Benchmarks/CoreSharingBench [--rounds N]
//
// Run it right before and after a timing run: a change in the pairs it marks, or in the processors'
// speeds alone, is the machine changing under the timings. It pairs the processors the program may
// run on (its affinity: under `taskset -c 0,1` only those two).

#include "BenchProgram.hpp"
#include "MachineCapacity.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

/// The processors this process may run on.
std::vector<int> allowedProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) throw std::runtime_error("cannot read the processor affinity");
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

/// Billions of multiply-add instructions a second on processor `cpu`, starting when `go` is set;
/// 0 when the thread cannot be placed there.
double rateOn(int cpu, int rounds, const std::atomic<bool>& go) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (pthread_setaffinity_np(pthread_self(), sizeof set, &set) != 0) return 0;
    while (!go.load()) std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    volatile float sink = velmora::bench::detail::multiplyAdds(rounds);
    (void)sink;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 8.0 * rounds / seconds / 1e9;
}

constexpr const char* kUsage =
    "usage: CoreSharingBench [--rounds N]\n"
    "  which of the processors this program may run on share a core now (N multiply-add rounds, 20000000)\n";

/// `rate` on processor `cpu`, or the error that it could not be placed there.
double placed(double rate, int cpu) {
    if (rate <= 0) throw std::runtime_error("cannot run a thread on processor " + std::to_string(cpu));
    return rate;
}

int runBench(velmora::bench::Arguments& arguments) {
    int rounds = 20'000'000;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--rounds")
            rounds = static_cast<int>(arguments.wholeOf(a, 1000, 2'000'000'000));
        else
            velmora::bench::Arguments::unknown(a);
    }
    const std::vector<int> cpus = allowedProcessors();
    std::vector<double> alone(cpus.size());
    std::printf("multiply-adds, billions a second (256-bit), each processor alone:\n");
    for (std::size_t i = 0; i < cpus.size(); ++i) {
        std::atomic<bool> go{true};
        double rate = 0;
        std::thread t([&] { rate = rateOn(cpus[i], rounds, go); });
        t.join();
        alone[i] = placed(rate, cpus[i]);
        std::printf("  %d: %.2f\n", cpus[i], rate);
    }
    std::printf("pairs at once (each member against its speed alone):\n");
    int shared = 0;
    for (std::size_t a = 0; a < cpus.size(); ++a)
        for (std::size_t b = a + 1; b < cpus.size(); ++b) {
            std::atomic<bool> go{false};
            double ra = 0, rb = 0;
            std::thread ta([&] { ra = rateOn(cpus[a], rounds, go); }), tb([&] { rb = rateOn(cpus[b], rounds, go); });
            go = true;
            ta.join();
            tb.join();
            const double fa = placed(ra, cpus[a]) / alone[a], fb = placed(rb, cpus[b]) / alone[b];
            const bool sharing = std::min(fa, fb) < 0.7;
            shared += sharing;
            std::printf("  %d+%d: %.0f%% %.0f%%%s\n", cpus[a], cpus[b], 100 * fa, 100 * fb,
                        sharing ? "  <- one core" : "");
        }
    std::printf("%d pair(s) of processors ran as one core's two threads\n", shared);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
