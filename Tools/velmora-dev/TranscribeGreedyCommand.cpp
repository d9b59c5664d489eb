// transcribe-greedy: the shortest road from an audio file to text through a model folder and a
// tokenizer folder (see SpeechReference/GreedyTranscriber.hpp).

#include "Command.hpp"
#include "OutputNames.hpp"
#include "SpeechModelFolder.hpp"
#include "SpeechReference/GreedyTranscriber.hpp"

#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Writers/WriteJSON.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev transcribe-greedy <model-folder> <tokenizer-folder> <audio-file>\n"
    "           [--language CODE] [--timestamps] [--dump-mel FILE] [--result FILE.json]\n"
    "Transcribes the first 30 s: mel, encoder, then the decoder with its cache, always taking the best\n"
    "token, until end of text. The prompt is start-of-transcript, the language (default en) and\n"
    "transcribe, then no-timestamps, or <|0.00|> with --timestamps. The tokenizer folder must hold the\n"
    "model's vocabulary (Tests/Data/whisper-tokenizer/multilingual for Tests/Data/models/test-speech).\n"
    "--dump-mel writes the mel features as raw little-endian float32 [bands x frames]. --result writes\n"
    "the transcript as a result JSON with one segment (no log probabilities), as 'speech write' reads it.\n";

namespace fs = std::filesystem;

// The decoder's vocabulary size, from its bundle description, without loading its weights (nor
// waiting on a pipe in the description's place, as the model's load refuses one).
int modelVocabulary(const fs::path& modelFolder) {
    const fs::path bundle = korbit::ModelUtilities::detectModelURL(modelFolder, platform::ml::kDecoderModelName);
    const fs::path description = platform::ml::bundleDescriptionFile(bundle);
    return platform::ml::BundleManifest::parse(nlohmann::json::parse(korbit::readCacheFile(description)),
                                               description.string())
        .hparams.nVocab;
}

// One segment over the window: the greedy road keeps no log probabilities and no timings per word.
std::shared_ptr<tremolan::TranscriptionResult> greedyResult(const std::string& text, const std::vector<int>& tokens,
                                                            const std::vector<int>& textTokens,
                                                            const std::string& language, double audioSeconds,
                                                            double elapsed) {
    tremolan::TranscriptionSegment segment;
    segment.end = static_cast<float>(std::min(audioSeconds, 30.0));
    segment.text = text;
    segment.tokens.assign(tokens.begin(), tokens.end());
    segment.compressionRatio = tremolan::TextUtilities::compressionRatio(textTokens);
    tremolan::TranscriptionTimings timings;
    timings.inputAudioSeconds = audioSeconds;
    timings.fullPipeline = elapsed;
    return std::make_shared<tremolan::TranscriptionResult>(text, std::vector{segment}, language, timings);
}

int runTranscribe(const Arguments& args) {
    const velmora::dev::ParsedArguments parsed = velmora::dev::ArgumentParser("transcribe-greedy", kUsage)
                                                     .positional("model-folder")
                                                     .positional("tokenizer-folder")
                                                     .positional("audio-file")
                                                     .option("language")
                                                     .option("dump-mel", velmora::dev::ArgumentParser::nonEmpty)
                                                     .option("result", velmora::dev::ArgumentParser::nonEmpty)
                                                     .flag("timestamps")
                                                     .parse(args);
    const std::string language = parsed.value("language", "en");
    velmora::dev::checkLanguageCode("transcribe-greedy", language);
    const std::string dumpMel = parsed.value("dump-mel", "");
    const fs::path resultFile = parsed.value("result", "");
    const bool timestamps = parsed.has("timestamps");
    const std::vector<std::string> positional{parsed.positional("model-folder"), parsed.positional("tokenizer-folder"),
                                              parsed.positional("audio-file")};
    if (!resultFile.empty() && resultFile.extension() != ".json")
        throw velmora::dev::UsageError("transcribe-greedy: --result needs a file name ending in .json");
    velmora::dev::refuseOutputsOverInputs("transcribe-greedy", {dumpMel, resultFile},
                                          {positional[2], positional[0], positional[1]});

    const tremolan::WhisperTokenizerWrapper tokenizer(
        korbit::AutoTokenizerWrapper::fromModelFolder(positional[1], true), positional[1]);
    tremolan::ModelUtilities::checkTokenizerFitsModel(tokenizer, modelVocabulary(positional[0]), positional[0]);
    const auto& special = tokenizer.specialTokens();
    const int languageToken = velmora::dev::languageToken("transcribe-greedy", language, tokenizer);
    // One window is transcribed: only its samples are read, however long the recording.
    const std::vector<float> samples =
        platform::audio::loadMonoAudio(positional[2], tremolan::Constants::sampleRate, 30.0);
    if (samples.empty()) return fail("the audio file " + positional[2] + " holds no samples");
    // The recording's length: what was read, or the header's for a recording longer than the window.
    const double audioSeconds = samples.size() < static_cast<std::size_t>(tremolan::Constants::defaultWindowSamples)
                                    ? static_cast<double>(samples.size()) / tremolan::Constants::sampleRate
                                    : platform::audio::audioFileDuration(positional[2]);

    auto start = std::chrono::steady_clock::now();
    const velmora::dev::GreedyTranscriber transcriber(positional[0]);
    const auto features = transcriber.melFeatures(samples);
    // Mel features written to standard output are all that goes there.
    FILE* report = !dumpMel.empty() && platform::sys::namesStandardOutput(dumpMel) ? stderr : stdout;
    if (!dumpMel.empty()) {
        const std::vector<float> values = features.toFloatVector();
        platform::sys::writeFileAtomically(
            dumpMel, std::string_view(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float)));
    }
    const std::vector<int> prompt{special.startOfTranscriptToken, languageToken, special.transcribeToken,
                                  timestamps ? special.timeTokenBegin : special.noTimestampsToken};
    const std::vector<int> tokens = transcriber.decode(features, prompt, special.endToken);
    const double elapsed = korbit::secondsSince(start);

    std::vector<int> text;
    for (int t : tokens)
        if (t < special.specialTokenBegin) text.push_back(t);
    std::string ids;
    for (int t : tokens) {
        if (!ids.empty()) ids += ' ';
        ids += std::to_string(t);
    }
    std::fprintf(stderr, "%s s of audio, %zu tokens in %s s\n", korbit::fixedDecimal(audioSeconds, 2).c_str(),
                 tokens.size(), korbit::fixedDecimal(elapsed, 2).c_str());
    std::fprintf(report, "tokens: %s\n", ids.c_str());
    if (timestamps) {
        std::vector<int> all{special.timeTokenBegin};
        all.insert(all.end(), tokens.begin(), tokens.end());
        std::fprintf(report, "timed: %s\n", tokenizer.decode(all).c_str());
    }
    const std::string transcript = tokenizer.decode(text);
    std::fprintf(report, "text: %s\n", transcript.c_str());
    if (resultFile.empty()) return 0;
    const auto result = greedyResult(transcript, tokens, text, language, audioSeconds, elapsed);
    // A missing folder is refused, as for --dump-mel: the writer names it.
    const fs::path folder = resultFile.has_parent_path() ? resultFile.parent_path() : fs::path(".");
    const tremolan::WriteResult written =
        tremolan::WriteJSON(folder.string()).write(*result, resultFile.stem().string());
    if (!written.succeeded()) return fail(written.errorMessage());
    std::fprintf(stderr, "wrote %s\n", resultFile.c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{
    "transcribe-greedy", "transcribe-greedy <model-folder> <tokenizer-folder> <audio>: greedy decoding, no filters",
    runTranscribe};

}  // namespace
