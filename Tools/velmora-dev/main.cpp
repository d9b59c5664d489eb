// velmora-dev: a developer's command-line tool that exercises the libraries by hand.

#include "Command.hpp"

#include "Platform/Sys/Interruption.hpp"
#include "Platform/Sys/StandardDescriptors.hpp"
#include "Platform/Sys/StandardOutput.hpp"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

namespace velmora::dev {

std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "error: %s\n", message.c_str());
    return 1;
}

}  // namespace velmora::dev

namespace {

void printUsage(std::FILE* to) {
    auto all = velmora::dev::commands();
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::fprintf(to, "usage: velmora-dev <command> [arguments]\n\n");
    std::fprintf(to, "  %-12s %s\n", "--version", "print the version");
    std::fprintf(to, "  %-12s %s\n", "--help", "print this text");
    for (const auto& command : all) std::fprintf(to, "  %-12s %s\n", command.name.c_str(), command.summary.c_str());
}

int run(int argc, char** argv) {
    // The locale of the environment, as the application's toolkit sets it at start: numbers the
    // libraries and this tool write or read must come out the same under a comma-decimal locale.
    std::setlocale(LC_ALL, "");
    // No command is a command line the tool cannot take: the usage goes where errors go.
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("velmora-dev %s\n", VELMORA_VERSION);
        return 0;
    }
    for (const auto& command : velmora::dev::commands()) {
        if (command.name != name) continue;
        // Ctrl-C, SIGTERM or SIGHUP while a command writes leaves none of its temporary files or
        // folders; listen and meeting record handle those signals themselves.
        if (name != "listen" && name != "meeting") platform::sys::Interruption::install();
        try {
            return command.run(velmora::dev::Arguments(argv + 2, argv + argc));
        } catch (const velmora::dev::HelpRequest& help) {
            std::fputs(help.usage.c_str(), stdout);
            return 0;
        } catch (const velmora::dev::UsageError& e) {
            std::fprintf(stderr, "error: %s (velmora-dev %s --help)\n", e.what(), name.c_str());
            return 2;
        } catch (const std::exception& e) {
            return velmora::dev::fail(e.what());
        }
    }
    std::fprintf(stderr, "error: unknown command '%s' (velmora-dev --help)\n", name.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a file: one opened first must not become the output (`>&-`).
    platform::sys::holdClosedStandardDescriptors();
    // Whatever ran, its output is checked here, once: a command does not check its own.
    return platform::sys::finishStandardOutput(run(argc, argv), "error: ");
}
