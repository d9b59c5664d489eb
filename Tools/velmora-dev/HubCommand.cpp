// hub: lists a hub repository's files and downloads them into the local cache.

#include "Command.hpp"

#include "KorbitCore/External/Hub/HubApi.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev hub ls <owner/name> [options] [pattern ...]\n"
    "       velmora-dev hub snapshot <owner/name> [options] [pattern ...]\n"
    "options: --kind models|datasets|spaces  --revision R (main)  --endpoint URL  --token T\n"
    "         --base DIR (download base; snapshot)  --offline (verify the cache only; snapshot)\n"
    "Patterns are shell globs over the repository's file names (\"*\" also crosses \"/\").\n"
    "ls prints one file name a line; snapshot prints the repository's local folder, and its\n"
    "progress on standard error. Without --token and --endpoint the hub's environment variables apply.\n";

struct Options {
    std::string action;
    std::string repo;
    korbit::RepoType kind = korbit::RepoType::models;
    std::string revision = "main";
    std::optional<std::string> endpoint;
    std::optional<std::string> token;
    std::optional<std::string> base;
    bool offline = false;
    std::vector<std::string> patterns;
};

int runHub(const Arguments& args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::runtime_error("missing value after " + arg);
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--kind") {
            std::string kind = value();
            auto parsed = korbit::repoTypeFromRawValue(kind);
            if (!parsed) return fail("unknown repository kind '" + kind + "'");
            o.kind = *parsed;
        } else if (arg == "--revision") {
            o.revision = value();
        } else if (arg == "--endpoint") {
            o.endpoint = value();
        } else if (arg == "--token") {
            o.token = value();
        } else if (arg == "--base") {
            o.base = value();
        } else if (arg == "--offline") {
            o.offline = true;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2 || (positional[0] != "ls" && positional[0] != "snapshot")) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    o.action = positional[0];
    o.repo = positional[1];
    o.patterns.assign(positional.begin() + 2, positional.end());

    std::optional<std::filesystem::path> base;
    if (o.base) base = *o.base;
    korbit::HubApi hub(base, o.token, o.endpoint);
    korbit::Repo repo(o.repo, o.kind);
    if (o.action == "ls") {
        for (const auto& name : hub.getFilenames(repo, o.revision, o.patterns)) std::printf("%s\n", name.c_str());
        return 0;
    }
    if (o.offline) hub.useOfflineMode = true;
    int lastPercent = -1;
    std::filesystem::path folder = hub.snapshot(repo, o.revision, o.patterns, [&](platform::sys::Progress& progress) {
        int percent = static_cast<int>(std::floor(progress.fractionCompleted() * 100));
        if (percent == lastPercent) return;
        lastPercent = percent;
        auto speed = progress.userInfo(platform::sys::Progress::kThroughputKey);
        if (speed) {
            std::fprintf(stderr, "\r%3d%%  %.1f MB/s ", percent, *speed / 1e6);
        } else {
            std::fprintf(stderr, "\r%3d%% ", percent);
        }
        std::fflush(stderr);
    });
    if (lastPercent >= 0) std::fputc('\n', stderr);
    std::printf("%s\n", folder.c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{"hub", "list a hub repository or download it (hub ls|snapshot)",
                                                     runHub};

}  // namespace
