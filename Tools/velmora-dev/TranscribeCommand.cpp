// transcribe: whole recordings through the speech library's facade (windows, fallback decoding,
// segments, word timings, batches, chunks at silences), written as transcript files.

#include "Command.hpp"
#include "ModelRepositoryOptions.hpp"
#include "OutputNames.hpp"
#include "SpeechModelFolder.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Core/Records/TranscriptionUtilities.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Writers/WriteJSON.hpp"
#include "Tremolan/Core/Writers/WriteSRT.hpp"
#include "Tremolan/Core/Writers/WriteVTT.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using velmora::dev::fail;
using velmora::dev::UsageError;
namespace fs = std::filesystem;

const std::string kUsage =
    std::string(
        "usage: velmora-dev transcribe <model-folder> <audio-file>... [options]\n"
        "       velmora-dev transcribe --variant V [--repo R] [--base DIR] [--endpoint URL] <audio-file>... [options]\n"
        "options: [--language CODE | --detect-language] [--word-timestamps] [--clip START,END,...]\n"
        "         [--workers N] [--chunking vad] [--format txt|srt|vtt|json] [--output-dir DIR] [--tokenizer DIR]\n"
        "Transcribes each recording whole, window after window, through the speech library's facade and\n"
        "writes its transcript as <output-dir>/<file name without extension>.<format> (default txt in\n"
        "the working folder). Recordings of one name get <name>-2, <name>-3, ... in the order given,\n"
        "each said on standard error: no transcript of the run overwrites another.\n"
        "  --variant V         download the repository's model variant V and its tokenizer into --base\n"
        "                      (progress on standard error) and use them; without the hub, the copies\n"
        "                      there serve\n"
        "  --base DIR          the download base (default: \"huggingface\" in the documents folder)\n") +
    velmora::dev::ModelRepositoryOptions::kUsage +
    "  --language CODE     the spoken language (default en)\n"
    "  --detect-language   each recording in the language its first 30 seconds are detected in\n"
    "                      (printed on standard error)\n"
    "  --word-timestamps   time every word (the SubRip and WebVTT files then have one cue per word)\n"
    "  --clip START,END    transcribe only these stretches, in seconds; an odd last one runs to the end;\n"
    "                      times past the end of a recording are refused\n"
    "  --workers N         transcribe N recordings at once, all in one call (default 1: one after another)\n"
    "  --chunking vad      cut recordings longer than a window at silences and transcribe the pieces at\n"
    "                      once (up to the worker count)\n"
    "  --tokenizer DIR     the folder of tokenizer.json (default: the model folder, then the hub cache)\n"
    "Recordings longer than one window print their progress on standard error when transcribed one\n"
    "after another and whole (the pieces cut at silences run at once, in no order).\n";

/// What the command line asks of every run.
struct TranscribeRequest {
    tremolan::DecodingOptions options;
    /// --clip as given, and each of its times as written, for messages.
    std::string clip;
    std::vector<std::string> clipTimes;
    bool detectLanguage = false;
    std::int64_t workers = 1;
    std::string format;
    fs::path outputDir;
};

TranscribeRequest requestFrom(const velmora::dev::ParsedArguments& parsed) {
    TranscribeRequest request;
    auto& options = request.options;
    request.detectLanguage = parsed.has("detect-language");
    if (request.detectLanguage && parsed.has("language"))
        throw UsageError("transcribe: --language and --detect-language exclude each other");
    options.language = parsed.value("language", "en");
    velmora::dev::checkLanguageCode("transcribe", *options.language);
    request.workers = parsed.integer("workers", 1, 1, 64);
    options.concurrentWorkerCount = request.workers;
    if (const auto chunking = parsed.option("chunking")) {
        if (*chunking != "vad") throw UsageError("transcribe: --chunking must be vad, not '" + *chunking + "'");
        options.chunkingStrategy = tremolan::ChunkingStrategy::vad;
    }
    options.wordTimestamps = parsed.has("word-timestamps");
    // Segment texts as a reader wants them in a transcript, without the model's markers.
    options.skipSpecialTokens = true;
    if (const auto clips = parsed.option("clip")) {
        request.clip = *clips;
        std::size_t from = 0;
        while (from <= clips->size()) {
            const std::size_t comma = std::min(clips->find(',', from), clips->size());
            const std::string_view time = std::string_view(*clips).substr(from, comma - from);
            const double seconds =
                velmora::dev::parseNumber(time, "transcribe: --clip", 0, velmora::dev::kLongestSeconds);
            options.clipTimestamps.push_back(static_cast<float>(seconds));
            request.clipTimes.emplace_back(time);
            from = comma + 1;
        }
        const auto& times = options.clipTimestamps;
        for (std::size_t end = 1; end < times.size(); end += 2) {
            if (times[end] <= times[end - 1])
                throw UsageError("transcribe: --clip " + *clips + ": a stretch must end after it starts");
        }
    }
    request.format = parsed.value("format", "txt");
    if (request.format != "txt" && request.format != "srt" && request.format != "vtt" && request.format != "json")
        throw UsageError("transcribe: --format must be txt, srt, vtt or json, not '" + request.format + "'");
    request.outputDir = parsed.value("output-dir", ".");
    return request;
}

/// Refuses, before anything is transcribed, a clip time past the end of any of the recordings: a
/// start at or past it, an end past it. A recording that cannot be opened, or holds nothing, is
/// left for the run to report.
void checkClipsWithin(const std::vector<std::string>& files, const TranscribeRequest& request) {
    const auto& times = request.options.clipTimestamps;
    if (times.empty()) return;
    for (const std::string& file : files) {
        double duration = 0;
        try {
            duration = platform::audio::audioFileDuration(file);
        } catch (const std::exception&) {
            continue;
        }
        if (!(duration > 0)) continue;
        for (std::size_t i = 0; i < times.size(); ++i) {
            const bool start = i % 2 == 0;
            if (start ? times[i] < duration : times[i] <= duration) continue;
            throw UsageError("transcribe: --clip " + request.clip + ": " + request.clipTimes[i] +
                             " is past the end of " + file + " (" + korbit::fixedDecimal(duration, 2) + " s)");
        }
    }
}

/// Writes the transcript and answers its path.
fs::path writeTranscript(const tremolan::TranscriptionResult& result, const TranscribeRequest& request,
                         const std::string& name) {
    fs::create_directories(request.outputDir);
    if (request.format == "txt") {
        const fs::path file = request.outputDir / (name + ".txt");
        platform::sys::writeFileAtomically(file, result.text() + "\n");
        return file;
    }
    std::unique_ptr<tremolan::ResultWriting> writer;
    if (request.format == "srt") writer = std::make_unique<tremolan::WriteSRT>(request.outputDir.string());
    if (request.format == "vtt") writer = std::make_unique<tremolan::WriteVTT>(request.outputDir.string());
    if (request.format == "json") writer = std::make_unique<tremolan::WriteJSON>(request.outputDir.string());
    const tremolan::WriteResult written = writer->write(result, name);
    if (!written.succeeded()) throw std::runtime_error(written.errorMessage());
    return request.outputDir / (name + "." + request.format);
}

/// The facade over the model folder, or over the variant downloaded from the repository.
std::shared_ptr<tremolan::Tremolan> makeFacade(const velmora::dev::ParsedArguments& parsed,
                                               const std::string& modelFolder,
                                               const std::optional<velmora::dev::ModelRepositoryOptions>& repository) {
    tremolan::TremolanConfig config;
    config.load = true;
    if (const auto tokenizer = parsed.option("tokenizer")) {
        // The facade would look elsewhere, the hub included, when the folder's files do not load:
        // a folder the user named is used or refused.
        (void)tremolan::ModelUtilities::loadTokenizerFolder(*tokenizer);
        config.tokenizerFolder = fs::path(*tokenizer);
    }
    if (repository) {
        // A tokenizer folder the user named needs none from the hub.
        config.modelFolder =
            velmora::dev::downloadModelVariant(*parsed.option("variant"), *repository, !config.tokenizerFolder)
                .string();
        if (!config.tokenizerFolder) config.tokenizerFolder = repository->base;
    } else {
        if (!fs::is_directory(modelFolder)) throw std::runtime_error("no model folder at " + modelFolder);
        config.modelFolder = modelFolder;
    }
    return tremolan::Tremolan::create(config);
}

/// The files the loaded facade reads from: the recordings, its model folder and the folder its
/// tokenizer came from (a download's, the hub cache's).
std::vector<fs::path> loadedInputs(const std::vector<std::string>& files, const tremolan::Tremolan& whisper) {
    std::vector<fs::path> inputs(files.begin(), files.end());
    if (const auto folder = whisper.modelFolder()) inputs.push_back(*folder);
    const auto tokenizer = whisper.tokenizer();
    if (const auto* wrapper = dynamic_cast<const tremolan::WhisperTokenizerWrapper*>(tokenizer.get());
        wrapper && wrapper->tokenizerFolder())
        inputs.push_back(*wrapper->tokenizerFolder());
    return inputs;
}

int runTranscribe(const velmora::dev::Arguments& args) {
    velmora::dev::ArgumentParser parser("transcribe", kUsage);
    parser.rest("argument", 1)
        .option("language")
        .flag("detect-language")
        .flag("word-timestamps")
        .option("clip")
        .option("workers")
        .option("chunking")
        .option("format")
        .option("output-dir", velmora::dev::ArgumentParser::nonEmpty)
        .option("tokenizer", velmora::dev::ArgumentParser::nonEmpty)
        .option("variant", velmora::dev::ArgumentParser::nonEmpty);
    velmora::dev::ModelRepositoryOptions::declare(parser, true);
    const auto parsed = parser.parse(args);
    const TranscribeRequest request = requestFrom(parsed);
    // Without a variant the first argument is the model folder.
    std::vector<std::string> files = parsed.rest();
    std::string modelFolder;
    if (!parsed.has("variant")) {
        modelFolder = files.front();
        files.erase(files.begin());
    }
    if (files.empty()) throw UsageError("transcribe: missing argument <audio-file>");
    // Like every argument that names something, these cannot be empty.
    if (!parsed.has("variant") && modelFolder.empty()) throw UsageError("transcribe: <model-folder> is empty");
    for (const std::string& file : files)
        if (file.empty()) throw UsageError("transcribe: <audio-file> is empty");
    checkClipsWithin(files, request);
    // Decided for every file in the order given, so that a name does not depend on which files fail.
    const std::vector<std::string> outputNames = velmora::dev::uniqueOutputNames(files);
    std::vector<fs::path> outputs, inputs(files.begin(), files.end());
    for (const std::string& name : outputNames) outputs.push_back(request.outputDir / (name + "." + request.format));
    if (!modelFolder.empty()) inputs.emplace_back(modelFolder);
    if (const auto tokenizer = parsed.option("tokenizer")) inputs.emplace_back(*tokenizer);
    std::optional<velmora::dev::ModelRepositoryOptions> repository;
    if (const auto variant = parsed.option("variant")) {
        repository = velmora::dev::ModelRepositoryOptions::from(parsed);
        // The variant's model and tokenizer as they are on disk: refused before the download.
        for (fs::path& folder : velmora::dev::variantFoldersOnDisk(*variant, *repository))
            inputs.push_back(std::move(folder));
    }
    velmora::dev::refuseOutputsOverInputs("transcribe", outputs, inputs);
    const auto whisper = makeFacade(parsed, modelFolder, repository);
    // Again over what was loaded, before anything is written: a download, or the tokenizer's
    // lookup in the hub cache, may only now have brought a file an output names.
    velmora::dev::refuseOutputsOverInputs("transcribe", outputs, loadedInputs(files, *whisper));
    // The decoder would say English where the vocabulary cannot say the language, and the
    // transcript would claim the language asked for.
    const auto vocabulary = whisper->tokenizer();
    if (!request.detectLanguage && vocabulary && whisper->textDecoder()->isModelMultilingual())
        velmora::dev::languageToken("transcribe", *request.options.language, *vocabulary);

    int status = 0;
    // One recording that fails leaves the others to be transcribed.
    auto failed = [&](const std::string& file, std::exception_ptr error) {
        status = fail(file + ": " + korbit::Hub::describe(error));
    };
    // A recording as the library hears it, with its own options (the detected language).
    struct Loaded {
        std::vector<float> samples;
        tremolan::DecodingOptions options;
    };
    auto load = [&](const std::string& file) -> std::optional<Loaded> {
        try {
            Loaded loaded{tremolan::AudioProcessor::loadAudioAsFloatArray(file), request.options};
            if (request.detectLanguage) {
                loaded.options.language = whisper->detectLangauge(loaded.samples).language;
                std::fprintf(stderr, "%s: language %s\n", file.c_str(), loaded.options.language->c_str());
            }
            return loaded;
        } catch (const std::exception&) {
            failed(file, std::current_exception());
            return std::nullopt;
        }
    };
    // A recording cut at silences has one result per piece: the transcript is their merge.
    auto written = [&](std::size_t f, const tremolan::Tremolan::Results& results) {
        const auto merged = tremolan::TranscriptionUtilities::mergeTranscriptionResults(results);
        const fs::path path = writeTranscript(*merged, request, outputNames[f]);
        if (outputNames[f] != fs::path(files[f]).stem().string())
            std::fprintf(stderr, "%s: written as %s\n", files[f].c_str(), path.c_str());
        std::printf("%s\n", path.c_str());
    };

    if (request.workers > 1) {
        // Every recording in one call: batches of the worker count, transcribed in parallel.
        std::vector<std::size_t> taken;
        std::vector<std::vector<float>> arrays;
        std::vector<std::optional<tremolan::DecodingOptions>> options;
        for (std::size_t f = 0; f < files.size(); ++f) {
            if (auto loaded = load(files[f])) {
                taken.push_back(f);
                arrays.push_back(std::move(loaded->samples));
                options.emplace_back(std::move(loaded->options));
            }
        }
        const auto outcomes = whisper->transcribeWithOptions(arrays, options);
        for (std::size_t i = 0; i < outcomes.size() && i < taken.size(); ++i) {
            try {
                if (const auto* error = std::get_if<std::exception_ptr>(&outcomes[i])) std::rethrow_exception(*error);
                written(taken[i], std::get<tremolan::Tremolan::Results>(outcomes[i]));
            } catch (const std::exception&) {
                failed(files[taken[i]], std::current_exception());
            }
        }
        return status;
    }
    // One after another: each recording is loaded when its turn comes and let go after it, so that
    // only one is held at a time.
    const auto window =
        whisper->featureExtractor()->windowSamples().value_or(tremolan::Constants::defaultWindowSamples);
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::string& file = files[f];
        auto loaded = load(file);
        if (!loaded) continue;
        try {
            const std::string duration =
                korbit::fixedDecimal(static_cast<double>(loaded->samples.size()) / tremolan::Constants::sampleRate, 1);
            std::int64_t stretch = 0;
            for (const auto& [start, end] :
                 request.options.seekClipsWithin(static_cast<std::int64_t>(loaded->samples.size())))
                stretch += end - start;
            tremolan::Tremolan::SegmentDiscoveryCallback progress;
            // The pieces of a recording cut at silences report times within the piece.
            if (stretch > window && loaded->options.chunkingStrategy != tremolan::ChunkingStrategy::vad) {
                progress = [&file, duration](const std::vector<tremolan::TranscriptionSegment>& segments) {
                    if (segments.empty()) return;
                    std::fprintf(stderr, "%s: %s of %s s\n", file.c_str(),
                                 korbit::fixedDecimal(segments.back().end, 1).c_str(), duration.c_str());
                };
            }
            written(f, whisper->transcribe(loaded->samples, loaded->options, nullptr, progress));
        } catch (const std::exception&) {
            failed(file, std::current_exception());
        }
    }
    return status;
}

const velmora::dev::CommandRegistration registration{
    "transcribe", "transcribe <model-folder>|--variant V <audio>...: whole recordings through the speech library",
    runTranscribe};

}  // namespace
