#include "ModelRepositoryOptions.hpp"

#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/External/Hub/Repo.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::dev {

ArgumentParser& ModelRepositoryOptions::declare(ArgumentParser& parser, bool withBase) {
    parser.option("repo", ArgumentParser::nonEmpty).option("endpoint", ArgumentParser::nonEmpty);
    if (withBase) parser.option("base", ArgumentParser::nonEmpty);
    return parser;
}

ModelRepositoryOptions ModelRepositoryOptions::from(const ParsedArguments& parsed) {
    ModelRepositoryOptions options;
    options.repo = checkedRepositoryName(parsed.value("repo", std::string(tremolan::TremolanConfig::defaultModelRepo)),
                                         parsed.command() + ": --repo");
    options.endpoint = parsed.value("endpoint", korbit::HubApi::hfEndpointfromEnv());
    // A tokenizer the loading finds missing comes from the hub of the environment: the same one.
    if (parsed.has("endpoint")) ::setenv("HF_ENDPOINT", options.endpoint.c_str(), 1);
    if (const auto base = parsed.option("base")) options.base = std::filesystem::path(*base);
    return options;
}

const std::string& checkedRepositoryName(const std::string& name, const std::string& what) {
    if (!korbit::Repo::isValidId(name))
        throw UsageError(what + ": " + korbit::Hub::HubClientError::invalidRepositoryName(name).what());
    return name;
}

std::filesystem::path downloadModelVariant(const std::string& variant, const ModelRepositoryOptions& options,
                                           bool withTokenizer) {
    constexpr int kWidth = 30;
    int drawn = -1;
    // The bar's line is ended before anything else is written, also when the download fails.
    struct EndLine {
        const int& drawn;
        ~EndLine() {
            if (drawn >= 0) std::fputc('\n', stderr);
        }
    } endLine{drawn};
    const auto download = withTokenizer ? &tremolan::Tremolan::downloadWithTokenizer : &tremolan::Tremolan::download;
    return download(
        variant, options.base, false, options.repo, std::nullopt, options.endpoint,
        [&](platform::sys::Progress& progress) {
            const int percent = static_cast<int>(std::floor(std::clamp(progress.fractionCompleted(), 0.0, 1.0) * 100));
            if (percent == drawn) return;
            drawn = percent;
            const int filled = percent * kWidth / 100;
            // Built by appending: GCC's -O3 misreads a chain of concatenations.
            std::string bar(static_cast<std::size_t>(kWidth), '.');
            bar.replace(0, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
            std::string rate;
            if (const auto speed = progress.userInfo(platform::sys::Progress::kThroughputKey)) {
                rate = "  ";
                rate += korbit::fixedDecimal(*speed / 1e6, 1);
                rate += " MB/s";
            }
            std::fprintf(stderr, "\r%s [%s] %3d%%%s ", variant.c_str(), bar.c_str(), percent, rate.c_str());
            std::fflush(stderr);
        },
        {}, [](const std::string& reason) { std::fprintf(stderr, "warning: %s\n", reason.c_str()); });
}

std::vector<std::filesystem::path> variantFoldersOnDisk(const std::string& variant,
                                                        const ModelRepositoryOptions& options) {
    const korbit::HubApiWrapper hub(options.base);
    const std::filesystem::path copy = hub.localRepoLocation(korbit::HubApiWrapper::Repo(options.repo));
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(copy, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->is_directory(kind)) names.push_back(it->path().filename().string());
    }
    // "*<variant>" is the download's first pattern and holds its second, "*openai*<variant>".
    std::vector<std::filesystem::path> folders;
    for (const std::string& name : korbit::matching(names, "*" + variant)) {
        folders.push_back(copy / name);
        if (const auto size = tremolan::ModelUtilities::variantOfModelFolder(folders.back()))
            folders.push_back(tremolan::ModelUtilities::tokenizerPlace(*size, options.base));
    }
    return folders;
}

}  // namespace velmora::dev
