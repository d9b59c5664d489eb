// tok: encodes and decodes text with a tokenizer loaded from a folder of tokenizer files or
// fetched from a hub repository.

#include "Command.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;

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

std::vector<int> parseIds(const std::string& text) {
    std::vector<int> ids;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        std::size_t used = 0;
        const int id = std::stoi(word, &used);
        if (used != word.size()) throw std::runtime_error("not a token id: " + word);
        ids.push_back(id);
    }
    return ids;
}

int runTok(const Arguments& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const velmora::dev::ParsedArguments parsed =
        velmora::dev::parseArguments(args, 0, {"no-special", "skip-special", "lenient"});
    const std::optional<std::string> hubRepo = parsed.option("hub");
    const std::size_t textStart = hubRepo ? 1 : 2;
    if (parsed.positional.size() < textStart) return fail(std::string("missing arguments\n") + kUsage);
    const std::string action = parsed.positional[0];
    if (action != "encode" && action != "tokens" && action != "decode")
        return fail("unknown action '" + action + "'\n" + kUsage);
    const bool strict = !parsed.options.contains("lenient");

    const korbit::TokenizerWrapper tokenizer = [&] {
        if (!hubRepo) return korbit::AutoTokenizerWrapper::fromModelFolder(parsed.positional[1], strict);
        std::optional<std::filesystem::path> base;
        if (auto folder = parsed.option("base")) base = *folder;
        const korbit::HubApiWrapper hub(base, parsed.option("token"), parsed.option("endpoint"));
        return korbit::AutoTokenizerWrapper::fromPretrained(*hubRepo, hub, strict);
    }();

    auto run = [&](const std::string& input) -> std::string {
        if (action == "encode") return joinIds(tokenizer.encode(input, !parsed.options.contains("no-special")));
        if (action == "tokens") return nlohmann::json(tokenizer.tokenize(input)).dump();
        return tokenizer.decode(parseIds(input), parsed.options.contains("skip-special"));
    };
    if (parsed.positional.size() > textStart) {
        std::string input;
        for (std::size_t i = textStart; i < parsed.positional.size(); ++i) {
            if (!input.empty()) input += ' ';
            input += parsed.positional[i];
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
