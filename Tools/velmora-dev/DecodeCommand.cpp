// decode: one window of an audio file through the speech library's own road (mel, encoder, the
// text decoder with its filters, sampler and temperature fallback), printed as a decoding result.

#include "Command.hpp"
#include "SpeechModelFolder.hpp"

#include "Platform/Audio/AudioFile.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;
using velmora::dev::UsageError;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: velmora-dev decode <model-folder> <audio-file> [--language CODE | --detect-language]\n"
    "           [--timestamps] [--temperature T] [--seed N] [--tokenizer DIR] [--verbose]\n"
    "Decodes the first 30 s of the file: mel spectrogram, audio encoder, then the text decoder with\n"
    "temperature fallback from T (default 0). Prints the decoding result as JSON.\n"
    "  --language CODE     the spoken language (default en); --detect-language asks the model\n"
    "  --timestamps        decode with timestamp tokens (default: without)\n"
    "  --seed N            seed of the draws above temperature 0 (default: from the system)\n"
    "  --tokenizer DIR     the folder of tokenizer.json (default: the model folder, then the hub cache)\n"
    "  --verbose           print each step's progress text on standard error\n";

int runDecode(const Arguments& args) {
    const auto parsed = velmora::dev::ArgumentParser("decode", kUsage)
                            .positional("model-folder")
                            .positional("audio-file")
                            .option("language")
                            .flag("detect-language")
                            .flag("timestamps")
                            .option("temperature")
                            .option("seed")
                            .option("tokenizer", velmora::dev::ArgumentParser::nonEmpty)
                            .flag("verbose")
                            .parse(args);
    tremolan::DecodingOptions options;
    options.withoutTimestamps = !parsed.has("timestamps");
    // Far above any useful temperature (the fallback climbs to 1), and well within the half
    // precision the sampler keeps it in.
    options.temperature = static_cast<float>(parsed.number("temperature", 0.0, 0.0, 10.0));
    if (parsed.has("detect-language")) {
        if (parsed.option("language")) throw UsageError("decode: --language and --detect-language exclude each other");
        options.detectLanguage = true;
    } else {
        options.language = parsed.value("language", "en");
        velmora::dev::checkLanguageCode("decode", *options.language);
    }
    std::shared_ptr<tremolan::RandomSource> random;
    if (parsed.option("seed")) {
        random = std::make_shared<tremolan::SeededRandomSource>(
            static_cast<std::uint64_t>(parsed.integer("seed", 0, 0, std::numeric_limits<std::int64_t>::max())));
    }

    const fs::path folder = parsed.positional("model-folder");
    if (!fs::is_directory(folder)) return fail("no model folder at " + folder.string());
    const std::string audioFile = parsed.positional("audio-file");
    // One window is decoded: only its samples are read, however long the recording.
    const std::vector<float> samples = platform::audio::loadMonoAudio(
        audioFile, tremolan::Constants::sampleRate,
        static_cast<double>(tremolan::Constants::defaultWindowSamples) / tremolan::Constants::sampleRate);

    const tremolan::WindowDecoder road = velmora::dev::loadSpeechModel(folder, parsed.value("tokenizer", ""));
    // The decoder would say English where the vocabulary cannot say the language.
    if (options.language && road.textDecoder->isModelMultilingual())
        velmora::dev::languageToken("decode", *options.language, *road.textDecoder->tokenizer());

    tremolan::TranscriptionCallback progress;
    std::mutex printing;
    if (parsed.has("verbose")) {
        progress = [&](const tremolan::TranscriptionProgress& step) {
            std::lock_guard lock(printing);
            std::fprintf(stderr, "%3zu tokens: %s\n", step.tokens.size(), step.text.c_str());
            return std::optional<bool>();
        };
    }
    const tremolan::DecodingResult result = road.decodeWindow(samples, options, progress, random);
    std::printf("%s\n", tremolan::Json(result).dump(2).c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{
    "decode", "decode <model-folder> <audio>: one window through mel, encoder and the fallback decoder, as JSON",
    runDecode};

}  // namespace
