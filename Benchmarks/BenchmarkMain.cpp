// The main of the Google Benchmark programs (<Module>Benchmarks) in place of the library's own:
// --help prints a usage line and the library's options; an argument neither the library nor this
// main takes ends the program with the usage and exit 2, as in every other benchmark program (the
// library's main answers 1 without a usage); what a benchmark throws ends it with the one-line
// error instead of an abort. --quick gives the cases whose input is long a short one (quickForm).

#include "BenchProgram.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace {

std::string program;

void printUsageLine(std::FILE* to) {
    std::fprintf(to,
                 "usage: %s [--quick] [--benchmark_filter=REGEX] [--benchmark_min_time=SECONDS] [--benchmark_...]\n"
                 "  --quick: the cases whose input is long take a short one (a smoke run, not the figures)\n",
                 program.c_str());
}

void printHelp() {
    printUsageLine(stdout);
    std::printf("the library's options:\n");
    benchmark::PrintDefaultHelp();
}

}  // namespace

int main(int argc, char** argv) {
    program = velmora::bench::programName(argc > 0 ? argv[0] : nullptr);
    // Prints the usage and exits 0 on --help; takes the library's own options out of argv.
    benchmark::Initialize(&argc, argv, printHelp);
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--quick") {
            velmora::bench::quickForm() = true;
            continue;
        }
        std::fprintf(stderr, "%s: unknown argument '%s'\n", program.c_str(), argv[i]);
        printUsageLine(stderr);
        return 2;
    }
    try {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    } catch (const std::exception& error) {
        velmora::bench::printError(program, error.what());
    } catch (...) {
        velmora::bench::printError(program, "an exception of no standard type");
    }
    return 1;
}
