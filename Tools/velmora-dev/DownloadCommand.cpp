// download: one speech-model variant of a repository, with its tokenizer, into the local hub cache.

#include "Command.hpp"
#include "ModelRepositoryOptions.hpp"

#include "KorbitCore/External/Hub/HubClientError.hpp"

#include <cstdio>
#include <string>

namespace {

const std::string kUsage =
    std::string(
        "usage: velmora-dev download <variant> [--repo R] [--base DIR] [--endpoint URL]\n"
        "Downloads the repository's one model folder whose name ends in the variant (\"tiny\",\n"
        "\"large-v3-v20240930_626MB\", ...) and the tokenizer its models call for, and prints the\n"
        "model's local folder; the progress shows on standard error. Without the hub, copies already\n"
        "in the download base serve.\n"
        "  --base DIR          the download base (default: \"huggingface\" in the documents folder)\n") +
    velmora::dev::ModelRepositoryOptions::kUsage;

int runDownload(const velmora::dev::Arguments& args) {
    velmora::dev::ArgumentParser parser("download", kUsage);
    parser.positional("variant");
    velmora::dev::ModelRepositoryOptions::declare(parser, true);
    const auto parsed = parser.parse(args);
    const std::string variant = parsed.positional("variant");
    const auto options = velmora::dev::ModelRepositoryOptions::from(parsed);
    try {
        const auto folder = velmora::dev::downloadModelVariant(variant, options);
        std::printf("%s\n", folder.c_str());
        return 0;
    } catch (const std::exception&) {
        return velmora::dev::fail("download of '" + variant +
                                  "' failed: " + korbit::Hub::describe(std::current_exception()));
    }
}

const velmora::dev::CommandRegistration registration{
    "download", "download <variant>: a speech-model variant from the hub into the local cache", runDownload};

}  // namespace
