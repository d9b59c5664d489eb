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
    "<source> is a folder holding tokenizer.json and tokenizer_config.json, or --hub <owner/name>\n"
    "[--endpoint URL] [--cache DIR] to fetch them from a hub repository (token and endpoint otherwise\n"
    "from the environment). Without text (or ids) each line of standard input is one input and gives\n"
    "one line of output. --lenient loads an unknown tokenizer class with the byte-pair model instead\n"
    "of refusing it.\n";

struct Options {
    std::string action;
    std::string folder;
    std::optional<std::string> hubRepo;
    std::optional<std::string> endpoint;
    std::optional<std::string> cache;
    std::vector<std::string> rest;
    bool noSpecial = false;
    bool skipSpecial = false;
    bool strict = true;
};

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

std::string run(const korbit::TokenizerWrapper& tokenizer, const Options& o, const std::string& input) {
    if (o.action == "encode") return joinIds(tokenizer.encode(input, !o.noSpecial));
    if (o.action == "tokens") return nlohmann::json(tokenizer.tokenize(input)).dump();
    return tokenizer.decode(parseIds(input), o.skipSpecial);
}

int runTok(const Arguments& args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--hub" || arg == "--endpoint" || arg == "--cache") {
            if (i + 1 >= args.size()) return fail("option " + arg + " needs a value");
            std::optional<std::string>& target = arg == "--hub" ? o.hubRepo : arg == "--endpoint" ? o.endpoint : o.cache;
            target = args[++i];
        } else if (arg == "--no-special") {
            o.noSpecial = true;
        } else if (arg == "--skip-special") {
            o.skipSpecial = true;
        } else if (arg == "--lenient") {
            o.strict = false;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            positional.push_back(arg);
        }
    }
    const std::size_t sourceArguments = o.hubRepo ? 1 : 2;
    if (positional.size() < sourceArguments) return fail(std::string("missing arguments\n") + kUsage);
    o.action = positional[0];
    if (!o.hubRepo) o.folder = positional[1];
    o.rest.assign(positional.begin() + static_cast<std::ptrdiff_t>(sourceArguments), positional.end());
    if (o.action != "encode" && o.action != "tokens" && o.action != "decode") return fail("unknown action '" + o.action + "'\n" + kUsage);

    const korbit::TokenizerWrapper tokenizer =
        o.hubRepo ? korbit::AutoTokenizerWrapper::fromPretrained(
                        *o.hubRepo, korbit::HubApiWrapper(o.cache ? std::optional<std::filesystem::path>(*o.cache) : std::nullopt, std::nullopt, o.endpoint),
                        o.strict)
                  : korbit::AutoTokenizerWrapper::fromModelFolder(o.folder, o.strict);
    if (!o.rest.empty()) {
        std::string input;
        for (const std::string& part : o.rest) {
            if (!input.empty()) input += ' ';
            input += part;
        }
        std::printf("%s\n", run(tokenizer, o, input).c_str());
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) std::printf("%s\n", run(tokenizer, o, line).c_str());
    return 0;
}

const velmora::dev::CommandRegistration tok{"tok", "tok encode|tokens|decode <folder>|--hub <repo> ... (tokenizers)", runTok};

}  // namespace
