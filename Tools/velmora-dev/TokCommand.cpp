// tok: encodes and decodes text with a tokenizer loaded from a folder of tokenizer files.

#include "Command.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev tok encode <folder> [--no-special] [text]\n"
    "       velmora-dev tok tokens <folder> [text]\n"
    "       velmora-dev tok decode <folder> [--skip-special] [id ...]\n"
    "The folder holds tokenizer.json and tokenizer_config.json. Without text (or ids) each line of\n"
    "standard input is one input and gives one line of output. --lenient loads an unknown tokenizer\n"
    "class with the byte-pair model instead of refusing it.\n";

struct Options {
    std::string action;
    std::string folder;
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
    for (const std::string& arg : args) {
        if (arg == "--no-special") {
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
    if (positional.size() < 2) return fail(std::string("missing arguments\n") + kUsage);
    o.action = positional[0];
    o.folder = positional[1];
    o.rest.assign(positional.begin() + 2, positional.end());
    if (o.action != "encode" && o.action != "tokens" && o.action != "decode") return fail("unknown action '" + o.action + "'\n" + kUsage);

    const korbit::TokenizerWrapper tokenizer = korbit::AutoTokenizerWrapper::fromModelFolder(o.folder, o.strict);
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

const velmora::dev::CommandRegistration tok{"tok", "tok encode|tokens|decode <folder> ... (tokenizer files)", runTok};

}  // namespace
