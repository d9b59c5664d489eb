// fakehub: serves a folder as the model hub on 127.0.0.1 for trying the client by hand.
//   fakehub <root> [--port N] [--token T] [--large-threshold BYTES] [--ignore-range]
//           [--break FILE:BYTES:TIMES] [--rename OLD_OWNER/NAME=NEW_OWNER/NAME]
// The root holds <kind>/<owner>/<name>/<files...>. Every request is printed on one line.

#include "FakeHub/FakeHub.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: fakehub <root> [--port N] [--token T] [--large-threshold BYTES] [--ignore-range]\n"
                 "               [--break FILE:BYTES:TIMES] [--rename OLD/NAME=NEW/NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    int port = 0;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--port") port = std::atoi(argv[i + 1]);
    }
    velmora::test::FakeHub hub(argv[1], port);
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--ignore-range") {
            hub.ignoreRange(true);
            continue;
        }
        if (value.empty()) return usage();
        ++i;
        if (option == "--port") continue;
        if (option == "--token") {
            hub.requireToken(value);
        } else if (option == "--large-threshold") {
            hub.setLargeFileThreshold(std::stoull(value));
        } else if (option == "--break") {
            auto first = value.find(':'), second = value.rfind(':');
            if (first == std::string::npos || first == second) return usage();
            hub.breakBody(value.substr(0, first), std::stoull(value.substr(first + 1, second - first - 1)),
                          std::stoi(value.substr(second + 1)));
        } else if (option == "--rename") {
            auto eq = value.find('=');
            if (eq == std::string::npos) return usage();
            hub.renameRepository(value.substr(0, eq), value.substr(eq + 1));
        } else {
            return usage();
        }
    }
    hub.onRequest([](const velmora::test::HubRequest& r) {
        std::printf("%s %s %s range=%s auth=%s\n", r.method.c_str(), r.host.c_str(), r.target.c_str(), r.range.c_str(),
                    r.authorization ? "yes" : "no");
        std::fflush(stdout);
    });
    std::printf("endpoint %s\n", hub.endpoint().c_str());
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!stopRequested) pause();
    return 0;
}
