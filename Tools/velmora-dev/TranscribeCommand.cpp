// transcribe: whole recordings through the speech library's transcription task (windows, fallback
// decoding, segments, word timings), written as transcript files.

#include "Command.hpp"
#include "SpeechModelFolder.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Text/SegmentSeeker.hpp"
#include "Tremolan/Core/TranscribeTask.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WriteJSON.hpp"
#include "Tremolan/Utilities/WriteSRT.hpp"
#include "Tremolan/Utilities/WriteVTT.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using velmora::dev::fail;
using velmora::dev::UsageError;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: velmora-dev transcribe <model-folder> <audio-file>... [--language CODE] [--word-timestamps]\n"
    "           [--clip START,END,...] [--format txt|srt|vtt|json] [--output-dir DIR] [--tokenizer DIR]\n"
    "Transcribes each recording whole, window after window, and writes its transcript as\n"
    "<output-dir>/<file name without extension>.<format> (default txt in the working folder).\n"
    "  --language CODE     the spoken language (default en)\n"
    "  --word-timestamps   time every word (the SubRip and WebVTT files then have one cue per word)\n"
    "  --clip START,END    transcribe only these stretches, in seconds; an odd last one runs to the end\n"
    "  --tokenizer DIR     the folder of tokenizer.json (default: the model folder, then the hub cache)\n"
    "Recordings longer than one window print their progress on standard error.\n";

/// What the command line asks of every run.
struct TranscribeRequest {
    tremolan::DecodingOptions options;
    std::string format;
    fs::path outputDir;
};

TranscribeRequest requestFrom(const velmora::dev::ParsedArguments& parsed) {
    TranscribeRequest request;
    auto& options = request.options;
    options.language = parsed.value("language", "en");
    velmora::dev::checkLanguageCode("transcribe", *options.language);
    options.wordTimestamps = parsed.has("word-timestamps");
    // Segment texts as a reader wants them in a transcript, without the model's markers.
    options.skipSpecialTokens = true;
    if (const auto clips = parsed.option("clip")) {
        std::size_t from = 0;
        while (from <= clips->size()) {
            const std::size_t comma = std::min(clips->find(',', from), clips->size());
            const double seconds =
                velmora::dev::parseNumber(std::string_view(*clips).substr(from, comma - from), "transcribe: --clip");
            if (seconds < 0) throw UsageError("transcribe: --clip needs times of 0 seconds or more");
            options.clipTimestamps.push_back(static_cast<float>(seconds));
            from = comma + 1;
        }
    }
    request.format = parsed.value("format", "txt");
    if (request.format != "txt" && request.format != "srt" && request.format != "vtt" && request.format != "json")
        throw UsageError("transcribe: --format must be txt, srt, vtt or json, not '" + request.format + "'");
    request.outputDir = parsed.value("output-dir", ".");
    return request;
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

int runTranscribe(const velmora::dev::Arguments& args) {
    const auto parsed = velmora::dev::ArgumentParser("transcribe", kUsage)
                            .positional("model-folder")
                            .rest("audio-file", 1)
                            .option("language")
                            .flag("word-timestamps")
                            .option("clip")
                            .option("format")
                            .option("output-dir")
                            .option("tokenizer")
                            .parse(args);
    const TranscribeRequest request = requestFrom(parsed);
    const tremolan::WindowDecoder model =
        velmora::dev::loadSpeechModel(parsed.positional("model-folder"), parsed.value("tokenizer", ""));
    const auto tokenizer = model.textDecoder->tokenizer();
    const auto seeker = std::make_shared<tremolan::SegmentSeeker>();
    const auto window = model.featureExtractor->windowSamples().value_or(tremolan::Constants::defaultWindowSamples);

    int status = 0;
    for (const std::string& file : parsed.rest()) {
        try {
            const std::vector<float> samples = tremolan::AudioProcessor::loadAudioAsFloatArray(file);
            const std::string name = fs::path(file).stem().string();
            tremolan::TranscribeTask task({}, nullptr, model.audioProcessor, model.audioEncoder, model.featureExtractor,
                                          seeker, model.textDecoder, tokenizer);
            const std::string duration = korbit::fixedDecimal(static_cast<double>(samples.size()) / 16000.0, 1);
            std::int64_t stretch = 0;
            for (const auto& [start, end] : request.options.seekClipsWithin(static_cast<std::int64_t>(samples.size())))
                stretch += end - start;
            if (stretch > window) {
                task.setSegmentDiscoveryCallback([&](const std::vector<tremolan::TranscriptionSegment>& segments) {
                    if (segments.empty()) return;
                    std::fprintf(stderr, "%s: %s of %s s\n", file.c_str(),
                                 korbit::fixedDecimal(segments.back().end, 1).c_str(), duration.c_str());
                });
            }
            const auto result = task.run(samples, request.options);
            std::printf("%s\n", writeTranscript(*result, request, name).c_str());
        } catch (const std::exception& error) {
            // One recording that fails leaves the others to be transcribed.
            status = fail(file + ": " + error.what());
        }
    }
    return status;
}

const velmora::dev::CommandRegistration registration{
    "transcribe", "transcribe <model-folder> <audio>...: whole recordings through the transcription task",
    runTranscribe};

}  // namespace
