#pragma once

// The options by which the model commands name a speech-model repository on the hub, and the
// download of one of its variants with a progress bar on standard error.

#include "ArgumentParser.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::dev {

struct ModelRepositoryOptions {
    /// "usage" lines of the options below.
    static constexpr const char* kUsage =
        "  --repo R            the model repository (default korbitinc/tremolan-coreml)\n"
        "  --endpoint URL      the hub (default HF_ENDPOINT, else the public hub)\n";

    std::string repo;
    std::string endpoint;
    /// The download base (default: the hub client's, "huggingface" in the documents folder).
    std::optional<std::filesystem::path> base;

    /// Declares --repo, --endpoint and, when asked, --base.
    static ArgumentParser& declare(ArgumentParser& parser, bool withBase);
    /// A given endpoint also becomes the process's HF_ENDPOINT, so that the tokenizer comes from
    /// the same hub. A repository name outside the hub's rule is a UsageError.
    static ModelRepositoryOptions from(const ParsedArguments& parsed);
};

/// `name` when it names a repository as the hub does (korbit::Repo::isValidId); otherwise a
/// UsageError "<what>: Invalid repository name "<name>": <the rule>".
const std::string& checkedRepositoryName(const std::string& name, const std::string& what);

/// The variant's model folder downloaded into the local hub cache, with the tokenizer its models
/// call for unless told otherwise, its progress drawn as a bar on standard error. Errors pass on.
std::filesystem::path downloadModelVariant(const std::string& variant, const ModelRepositoryOptions& options,
                                           bool withTokenizer = true);

/// The folders on disk that a download of the variant may answer with, as they are before it: those
/// of the repository's copy under the download base whose names the download's pattern matches,
/// and the tokenizer place of each whose models say their size. Touches no file.
std::vector<std::filesystem::path> variantFoldersOnDisk(const std::string& variant,
                                                        const ModelRepositoryOptions& options);

}  // namespace velmora::dev
