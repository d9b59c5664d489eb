// tok: encodes and decodes text with a tokenizer loaded from a folder of tokenizer files or
// fetched from a hub repository.

#include "Command.hpp"
#include "ModelRepositoryOptions.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

namespace {

using velmora::dev::Arguments;

constexpr const char* kUsage =
    "usage: velmora-dev tok encode <source> [--no-special] [text]\n"
    "       velmora-dev tok tokens <source> [text]\n"
    "       velmora-dev tok decode <source> [--skip-special] [id ...]\n"
    "<source> is a folder holding tokenizer.json and tokenizer_config.json, or --hub <owner/name> to\n"
    "fetch them from a hub repository (--endpoint URL, --token T, --base DIR as for 'hub'; otherwise\n"
    "the hub's environment variables apply). Without text (or ids) each line of standard input is one\n"
    "input and gives one line of output. --lenient loads an unknown tokenizer class with the byte-pair\n"
    "model instead of refusing it.\n";

std::string joinIds(const std::vector<int>& ids) {
    std::string out;
    for (int id : ids) {
        if (!out.empty()) out += ' ';
        out += std::to_string(id);
    }
    return out;
}

/// The ids of the text; an id the vocabulary lacks is refused rather than decoded to nothing.
std::vector<int> parseIds(const std::string& text, const korbit::TokenizerWrapper& tokenizer) {
    std::vector<int> ids;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const auto id = static_cast<int>(velmora::dev::parseInteger(word, "tok decode: a token id", 0, INT32_MAX));
        if (!tokenizer.convertIdToToken(id)) {
            throw velmora::dev::UsageError("tok decode: token id " + std::to_string(id) +
                                           " is not in the vocabulary (ids 0 to " +
                                           std::to_string(tokenizer.vocabularySize() - 1) + ")");
        }
        ids.push_back(id);
    }
    return ids;
}

int runTok(const Arguments& args) {
    const std::string& action = velmora::dev::subcommand(args, "tok", {"encode", "tokens", "decode"}, kUsage);
    velmora::dev::ArgumentParser parser("tok " + action, kUsage);
    using Parser = velmora::dev::ArgumentParser;
    parser.option("hub", Parser::nonEmpty)
        .option("base", Parser::nonEmpty)
        .option("token")
        .option("endpoint", Parser::nonEmpty)
        .flag("lenient")
        .rest("text");
    if (action == "encode") parser.flag("no-special");
    if (action == "decode") parser.flag("skip-special");
    const velmora::dev::ParsedArguments parsed = parser.parse(args, 1);
    const std::optional<std::string> hubRepo = parsed.option("hub");
    if (hubRepo) velmora::dev::checkedRepositoryName(*hubRepo, "tok " + action + ": --hub");
    // Without --hub the first positional argument is the tokenizer folder.
    const std::size_t textStart = hubRepo ? 0 : 1;
    if (parsed.rest().size() < textStart)
        throw velmora::dev::UsageError("tok " + action + ": missing <folder> (or --hub <owner/name>)");
    if (!hubRepo && parsed.rest()[0].empty()) throw velmora::dev::UsageError("tok " + action + ": <folder> is empty");
    const bool strict = !parsed.has("lenient");

    const korbit::TokenizerWrapper tokenizer = [&] {
        if (!hubRepo) return korbit::AutoTokenizerWrapper::fromModelFolder(parsed.rest()[0], strict);
        std::optional<std::filesystem::path> base;
        if (auto folder = parsed.option("base")) base = *folder;
        const korbit::HubApiWrapper hub(base, parsed.option("token"), parsed.option("endpoint"));
        return korbit::AutoTokenizerWrapper::fromPretrained(*hubRepo, hub, strict);
    }();

    auto run = [&](const std::string& input) -> std::string {
        if (action == "encode") return joinIds(tokenizer.encode(input, !parsed.has("no-special")));
        if (action == "tokens") return nlohmann::json(tokenizer.tokenize(input)).dump();
        return tokenizer.decode(parseIds(input, tokenizer), parsed.has("skip-special"));
    };
    if (parsed.rest().size() > textStart) {
        std::string input;
        for (std::size_t i = textStart; i < parsed.rest().size(); ++i) {
            if (!input.empty()) input += ' ';
            input += parsed.rest()[i];
        }
        std::printf("%s\n", run(input).c_str());
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) std::printf("%s\n", run(line).c_str());
    return 0;
}

const velmora::dev::CommandRegistration tok{"tok", "tok encode|tokens|decode <folder>|--hub <repo> ... (tokenizers)",
                                            runTok};

}  // namespace
