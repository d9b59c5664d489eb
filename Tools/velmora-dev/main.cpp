// velmora-dev: a developer's command-line tool that exercises the libraries by hand.

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage() {
    std::printf(
        "usage: velmora-dev <command> [arguments]\n"
        "\n"
        "  --version        print the version and exit\n"
        "  --help           print this text\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage();
        return argc < 2 ? 1 : 0;
    }
    std::string command = argv[1];
    if (command == "--version") {
        std::printf("velmora-dev %s\n", VELMORA_VERSION);
        return 0;
    }
    std::fprintf(stderr, "error: unknown command '%s'\n", command.c_str());
    printUsage();
    return 1;
}
