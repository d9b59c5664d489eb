// fakehub: serves a folder as the model hub on 127.0.0.1 for trying the client by hand.
//   fakehub <root> [--port N] [--token T] [--large-threshold BYTES] [--ignore-range]
//           [--break FILE:BYTES:TIMES] [--rename OLD_OWNER/NAME=NEW_OWNER/NAME]
//   fakehub --hostile endless|trickle|silence|garbage|portal [--port N]
// The root holds <kind>/<owner>/<name>/<files...>. Every request is printed on one line. A hostile
// server answers every request with a body without end, a head trickled a line every 5 s, silence,
// garbage in place of JSON, or a sign-in page as a Wi-Fi portal does.

#include "FakeHub/FakeHub.hpp"
#include "FakeHub/HostileServer.hpp"

#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: fakehub <root> [--port N] [--token T] [--large-threshold BYTES] [--ignore-range]\n"
                 "               [--break FILE:BYTES:TIMES] [--rename OLD/NAME=NEW/NAME]\n"
                 "       fakehub --hostile endless|trickle|silence|garbage|portal [--port N]\n");
    return 2;
}

int refuse(const std::string& message) {
    std::fprintf(stderr, "fakehub: %s\n", message.c_str());
    return 2;
}

// A whole unsigned decimal number of `text`, or nullopt.
std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Serves until SIGINT or SIGTERM.
void serveUntilStopped(const std::string& endpoint) {
    std::printf("endpoint %s\n", endpoint.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!stopRequested) pause();
}

int serveHostile(int argc, char** argv) {
    std::optional<velmora::test::HostileMode> mode;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option != "--hostile" && option != "--port") return refuse("unknown option " + option);
        if (i + 1 >= argc) return refuse(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--hostile") {
            mode = velmora::test::HostileServer::modeNamed(value);
            if (!mode)
                return refuse("--hostile needs endless, trickle, silence, garbage or portal, not '" + value + "'");
        } else {
            const auto parsed = number(value);
            if (!parsed || *parsed > 65535) return refuse("--port needs a port number, not '" + value + "'");
            port = static_cast<int>(*parsed);
        }
    }
    if (!mode) return usage();
    std::unique_ptr<velmora::test::HostileServer> server;
    try {
        server = std::make_unique<velmora::test::HostileServer>(*mode, std::nullopt, std::chrono::seconds(5), port);
    } catch (const std::runtime_error& e) {
        return refuse(e.what());
    }
    serveUntilStopped(server->endpoint());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--hostile") return serveHostile(argc, argv);
    if (argc < 2 || argv[1][0] == '-') return usage();
    const std::filesystem::path root = argv[1];
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return refuse("no folder to serve at " + root.string());

    struct Setting {
        std::string option, value;
    };
    std::vector<Setting> settings;
    int port = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--ignore-range") {
            settings.push_back({option, ""});
            continue;
        }
        if (option != "--port" && option != "--token" && option != "--large-threshold" && option != "--break" &&
            option != "--rename") {
            return refuse("unknown option " + option);
        }
        if (i + 1 >= argc) return refuse(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--port") {
            const auto parsed = number(value);
            if (!parsed || *parsed > 65535) return refuse("--port needs a port number, not '" + value + "'");
            port = static_cast<int>(*parsed);
        } else {
            settings.push_back({option, value});
        }
    }

    std::unique_ptr<velmora::test::FakeHub> served;
    try {
        served = std::make_unique<velmora::test::FakeHub>(root, port);
    } catch (const std::runtime_error& e) {
        return refuse(e.what());
    }
    velmora::test::FakeHub& hub = *served;
    for (const auto& [option, value] : settings) {
        if (option == "--ignore-range") {
            hub.ignoreRange(true);
        } else if (option == "--token") {
            hub.requireToken(value);
        } else if (option == "--large-threshold") {
            const auto bytes = number(value);
            if (!bytes) return refuse("--large-threshold needs a byte count, not '" + value + "'");
            hub.setLargeFileThreshold(*bytes);
        } else if (option == "--break") {
            const auto first = value.find(':'), second = value.rfind(':');
            if (first == std::string::npos || first == second) return refuse("--break needs FILE:BYTES:TIMES");
            const auto bytes = number(std::string_view(value).substr(first + 1, second - first - 1));
            const auto times = number(std::string_view(value).substr(second + 1));
            if (!bytes || !times || *times > 1000000) return refuse("--break needs FILE:BYTES:TIMES, not " + value);
            hub.breakBody(value.substr(0, first), *bytes, static_cast<int>(*times));
        } else if (option == "--rename") {
            const auto eq = value.find('=');
            if (eq == std::string::npos) return refuse("--rename needs OLD/NAME=NEW/NAME");
            hub.renameRepository(value.substr(0, eq), value.substr(eq + 1));
        }
    }
    hub.onRequest([](const velmora::test::HubRequest& r) {
        std::printf("%s %s %s range=%s auth=%s\n", r.method.c_str(), r.host.c_str(), r.target.c_str(), r.range.c_str(),
                    r.authorization ? "yes" : "no");
        std::fflush(stdout);
    });
    serveUntilStopped(hub.endpoint());
    return 0;
}
