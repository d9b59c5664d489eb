// Which of this machine's processors share a core now. Each processor first runs a fixed loop of
// multiply-adds alone, pinned to it; then every pair runs it at once. Two processors that are one
// physical core's two hardware threads (which a virtual machine's host may make of any two of its
// virtual processors, and change over time) each run at about half their speed when paired; the
// program marks the pairs whose slower member ran below 70% of its speed alone.
//
//   build-release/Benchmarks/CoreSharingBench [--rounds N]
//
// Run it right before and after a timing run: a change in the pairs it marks, or in the processors'
// speeds alone, is the machine changing under the timings.

#include "MachineCapacity.hpp"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

/// Billions of multiply-add instructions a second on processor `cpu`, starting when `go` is set.
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

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20'000'000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1000, std::atoi(argv[++i]));
        } else {
            std::printf("usage: CoreSharingBench [--rounds N]\n");
            return a == "--help" ? 0 : 2;
        }
    }
    const int cpus = static_cast<int>(std::thread::hardware_concurrency());
    std::vector<double> alone(static_cast<std::size_t>(cpus));
    std::printf("multiply-adds, billions a second (256-bit), each processor alone:\n");
    for (int c = 0; c < cpus; ++c) {
        std::atomic<bool> go{true};
        double rate = 0;
        std::thread t([&] { rate = rateOn(c, rounds, go); });
        t.join();
        alone[static_cast<std::size_t>(c)] = rate;
        std::printf("  %d: %.2f\n", c, rate);
    }
    std::printf("pairs at once (each member against its speed alone):\n");
    int shared = 0;
    for (int a = 0; a < cpus; ++a)
        for (int b = a + 1; b < cpus; ++b) {
            std::atomic<bool> go{false};
            double ra = 0, rb = 0;
            std::thread ta([&] { ra = rateOn(a, rounds, go); }), tb([&] { rb = rateOn(b, rounds, go); });
            go = true;
            ta.join();
            tb.join();
            const double fa = ra / alone[static_cast<std::size_t>(a)], fb = rb / alone[static_cast<std::size_t>(b)];
            const bool sharing = std::min(fa, fb) < 0.7;
            shared += sharing;
            std::printf("  %d+%d: %.0f%% %.0f%%%s\n", a, b, 100 * fa, 100 * fb, sharing ? "  <- one core" : "");
        }
    std::printf("%d pair(s) of processors ran as one core's two threads\n", shared);
    return 0;
}
