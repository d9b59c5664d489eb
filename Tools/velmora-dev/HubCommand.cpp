// hub: lists a hub repository's files and downloads them into the local cache.

#include "Command.hpp"
#include "ModelRepositoryOptions.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using velmora::dev::Arguments;

constexpr const char* kUsage =
    "usage: velmora-dev hub ls <owner/name> [options] [pattern ...]\n"
    "       velmora-dev hub snapshot <owner/name> [options] [pattern ...]\n"
    "options: --kind models|datasets|spaces  --revision R (main)  --endpoint URL  --token T\n"
    "         --base DIR (download base; snapshot)  --offline (verify the cache only; snapshot)\n"
    "Patterns are shell globs over the repository's file names (\"*\" also crosses \"/\").\n"
    "ls prints one file name a line; snapshot prints the repository's local folder, and its\n"
    "progress on standard error. Without --token and --endpoint the hub's environment variables apply.\n";

int runHub(const Arguments& args) {
    const std::string& action = velmora::dev::subcommand(args, "hub", {"ls", "snapshot"}, kUsage);
    velmora::dev::ArgumentParser parser("hub " + action, kUsage);
    using Parser = velmora::dev::ArgumentParser;
    parser.positional("owner/name")
        .rest("pattern")
        .option("kind", Parser::nonEmpty)
        .option("revision", Parser::nonEmpty)
        .option("endpoint", Parser::nonEmpty)
        .option("token");
    if (action == "snapshot") parser.option("base", Parser::nonEmpty).flag("offline");
    const velmora::dev::ParsedArguments parsed = parser.parse(args, 1);
    korbit::RepoType kind = korbit::RepoType::models;
    if (const auto name = parsed.option("kind")) {
        const auto known = korbit::repoTypeFromRawValue(*name);
        if (!known) {
            throw velmora::dev::UsageError("hub " + action + ": --kind must be models, datasets or spaces, not '" +
                                           *name + "'");
        }
        kind = *known;
    }
    const std::string revision = parsed.value("revision", "main");
    const std::vector<std::string>& patterns = parsed.rest();
    // An empty pattern matches no file: the listing or download would be empty without a word why.
    for (const std::string& pattern : patterns)
        if (pattern.empty()) throw velmora::dev::UsageError("hub " + action + ": <pattern> is empty");

    std::optional<std::filesystem::path> base;
    if (const auto folder = parsed.option("base")) base = *folder;
    korbit::HubApi hub(base, parsed.option("token"), parsed.option("endpoint"));
    const korbit::Repo repo(velmora::dev::checkedRepositoryName(parsed.positional("owner/name"), "hub " + action),
                            kind);
    if (action == "ls") {
        for (const auto& name : hub.getFilenames(repo, revision, patterns)) std::printf("%s\n", name.c_str());
        return 0;
    }
    if (parsed.has("offline")) hub.useOfflineMode = true;
    int lastPercent = -1;
    std::filesystem::path folder = hub.snapshot(repo, revision, patterns, [&](platform::sys::Progress& progress) {
        int percent = static_cast<int>(std::floor(progress.fractionCompleted() * 100));
        if (percent == lastPercent) return;
        lastPercent = percent;
        auto speed = progress.userInfo(platform::sys::Progress::kThroughputKey);
        if (speed) {
            std::fprintf(stderr, "\r%3d%%  %s MB/s ", percent, korbit::fixedDecimal(*speed / 1e6, 1).c_str());
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
