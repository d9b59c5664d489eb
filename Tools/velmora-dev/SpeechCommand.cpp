// speech: the speech library's data model by hand: default options, model support of a device,
// compression ratios and transcript files.

#include "Command.hpp"
#include "OutputNames.hpp"

#include "KorbitCore/LogItem.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Tremolan/Core/Models/ModelSupportConfig.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Writers/WriteJSON.hpp"
#include "Tremolan/Core/Writers/WriteSRT.hpp"
#include "Tremolan/Core/Writers/WriteVTT.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/DeviceIdentifier.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace tremolan;
using velmora::dev::Arguments;
using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev speech options\n"
    "       velmora-dev speech support [--device ID] [--config FILE]\n"
    "       velmora-dev speech ratio --tokens 1,2,3 | --text TEXT\n"
    "       velmora-dev speech write srt|vtt|json <result.json> [--output-dir DIR] [--name NAME]\n"
    "A result JSON comes from 'velmora-dev transcribe-greedy ... --result FILE.json'.\n";

using Parsed = velmora::dev::ParsedArguments;

int runOptions() {
    std::printf("%s\n", Json(DecodingOptions()).dump(2).c_str());
    return 0;
}

int runSupport(const Parsed& parsed) {
    const std::string device = parsed.value("device", currentDeviceIdentifier());
    const std::optional<std::string> file = parsed.option("config");
    const ModelSupportConfig config = file ? json::parse(platform::sys::readFile(*file)).get<ModelSupportConfig>()
                                           : Constants::fallbackModelSupportConfig();
    const ModelSupport support = config.modelSupport(device);
    Json out = Json::object();
    out["device"] = device;
    out["repoName"] = config.repoName();
    out["default"] = support.defaultModel;
    out["supported"] = support.supported;
    out["disabled"] = support.disabled;
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
}

// The ratio's shortest form, as a log line or JSON would write it, whatever the locale.
void printRatio(float ratio) {
    std::string text;
    korbit::LogItem(ratio).appendTo(text);
    std::printf("%s\n", text.c_str());
}

int runRatio(const Parsed& parsed) {
    if (parsed.has("tokens") && parsed.has("text"))
        throw velmora::dev::UsageError("speech ratio: --tokens and --text exclude each other");
    if (const auto list = parsed.option("tokens")) {
        std::vector<int> tokens;
        for (std::int64_t token : velmora::dev::parseIntegerList(*list, "speech ratio: --tokens", 0, INT32_MAX))
            tokens.push_back(static_cast<int>(token));
        // The ratio of nothing is no number.
        if (tokens.empty()) throw velmora::dev::UsageError("speech ratio: --tokens needs at least one token");
        printRatio(TextUtilities::compressionRatio(tokens));
        return 0;
    }
    if (const auto text = parsed.option("text")) {
        // An empty text is a text: its ratio is infinite, as the library answers.
        printRatio(TextUtilities::compressionRatio(std::string_view(*text)));
        return 0;
    }
    throw velmora::dev::UsageError("speech ratio: needs --tokens or --text");
}

int runWrite(const Parsed& parsed) {
    const std::string& format = parsed.positional("format");
    const std::filesystem::path input = parsed.positional("result.json");
    const std::string outputDir = parsed.value("output-dir", ".");
    const std::string name = parsed.value("name", input.stem().string());
    std::unique_ptr<ResultWriting> writer;
    if (format == "srt") {
        writer = std::make_unique<WriteSRT>(outputDir);
    } else if (format == "vtt") {
        writer = std::make_unique<WriteVTT>(outputDir);
    } else if (format == "json") {
        writer = std::make_unique<WriteJSON>(outputDir);
    } else {
        throw velmora::dev::UsageError("speech write: unknown transcript format '" + format + "' (srt, vtt or json)");
    }
    // A name is a file name in the output folder, never a way out of it.
    if (name.find('/') != std::string::npos)
        throw velmora::dev::UsageError("speech write: --name " + name + " holds a '/': it names a file, not a path");
    // "." would be written as the hidden "..srt": a name that stands for a folder names no transcript
    // (nor does the result "..json" without --name).
    if (name == "." || name == "..") {
        const std::string what = parsed.has("name") ? "--name " + name : "the name " + name + " of " + input.string();
        throw velmora::dev::UsageError("speech write: " + what + " names a folder, not a file");
    }
    velmora::dev::refuseOutputsOverInputs("speech write", {std::filesystem::path(outputDir) / (name + "." + format)},
                                          {input});
    std::shared_ptr<TranscriptionResult> result;
    try {
        result = TranscriptionResult::decode(json::parse(platform::sys::readFile(input)));
    } catch (const JSONDecodingError& error) {
        return fail(input.string() + " is not a transcription result: " + error.what());
    }
    // A folder asked for is made, as a user of the command would expect.
    std::filesystem::create_directories(outputDir);
    const WriteResult written = writer->write(*result, name);
    if (!written.succeeded()) return fail(written.errorMessage());
    std::printf("%s\n", written.fileURL().c_str());
    return 0;
}

int runSpeech(const Arguments& args) {
    const std::string& subcommand =
        velmora::dev::subcommand(args, "speech", {"options", "support", "ratio", "write"}, kUsage);
    velmora::dev::ArgumentParser parser("speech " + subcommand, kUsage);
    using Parser = velmora::dev::ArgumentParser;
    if (subcommand == "support") parser.option("device", Parser::nonEmpty).option("config", Parser::nonEmpty);
    if (subcommand == "ratio") parser.option("tokens").option("text");
    if (subcommand == "write") {
        parser.positional("format")
            .positional("result.json")
            .option("output-dir", Parser::nonEmpty)
            .option("name", Parser::nonEmpty);
    }
    const Parsed parsed = parser.parse(args, 1);
    if (subcommand == "options") return runOptions();
    if (subcommand == "support") return runSupport(parsed);
    if (subcommand == "ratio") return runRatio(parsed);
    return runWrite(parsed);
}

const velmora::dev::CommandRegistration registration{
    "speech", "speech options | support | ratio | write: the speech data model by hand", runSpeech};

}  // namespace
