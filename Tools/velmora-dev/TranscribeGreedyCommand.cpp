// transcribe-greedy: the shortest road from an audio file to text through a model folder and a
// tokenizer folder (see GreedyTranscriber.hpp).

#include "Command.hpp"
#include "GreedyTranscriber.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Tremolan/Core/WhisperTokenizerWrapper.hpp"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev transcribe-greedy <model-folder> <tokenizer-folder> <audio-file>\n"
    "           [--language CODE] [--timestamps] [--dump-mel FILE]\n"
    "Transcribes the first 30 s: mel, encoder, then the decoder with its cache, always taking the best\n"
    "token, until end of text. The prompt is start-of-transcript, the language (default en) and\n"
    "transcribe, then no-timestamps, or <|0.00|> with --timestamps. --dump-mel writes the mel features\n"
    "as raw little-endian float32 [bands x frames].\n";

int runTranscribe(const Arguments& args) {
    const velmora::dev::ParsedArguments parsed = velmora::dev::ArgumentParser("transcribe-greedy", kUsage)
                                                     .positional("model-folder")
                                                     .positional("tokenizer-folder")
                                                     .positional("audio-file")
                                                     .option("language")
                                                     .option("dump-mel")
                                                     .flag("timestamps")
                                                     .parse(args);
    const std::string language = parsed.value("language", "en");
    const std::string dumpMel = parsed.value("dump-mel", "");
    const bool timestamps = parsed.has("timestamps");
    const std::vector<std::string> positional{parsed.positional("model-folder"), parsed.positional("tokenizer-folder"),
                                              parsed.positional("audio-file")};

    const tremolan::WhisperTokenizerWrapper tokenizer(
        korbit::AutoTokenizerWrapper::fromModelFolder(positional[1], true), positional[1]);
    const auto& special = tokenizer.specialTokens();
    const auto languageToken = tokenizer.convertTokenToId("<|" + language + "|>");
    if (!languageToken) return fail("the vocabulary has no language token <|" + language + "|>");

    auto start = std::chrono::steady_clock::now();
    const velmora::dev::GreedyTranscriber transcriber(positional[0]);
    const std::vector<float> samples = platform::audio::loadMonoAudio(positional[2]);
    const auto features = transcriber.melFeatures(samples);
    if (!dumpMel.empty()) {
        const std::vector<float> values = features.toFloatVector();
        std::ofstream out(dumpMel, std::ios::binary);
        out.write(reinterpret_cast<const char*>(values.data()),
                  static_cast<std::streamsize>(values.size() * sizeof(float)));
        if (!out) return fail("cannot write " + dumpMel);
    }
    const std::vector<int> prompt{special.startOfTranscriptToken, *languageToken, special.transcribeToken,
                                  timestamps ? special.timeTokenBegin : special.noTimestampsToken};
    const std::vector<int> tokens = transcriber.decode(features, prompt, special.endToken);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::vector<int> text;
    for (int t : tokens)
        if (t < special.specialTokenBegin) text.push_back(t);
    std::string ids;
    for (int t : tokens) ids += (ids.empty() ? "" : " ") + std::to_string(t);
    std::fprintf(stderr, "%s s of audio, %zu tokens in %s s\n",
                 korbit::fixedDecimal(static_cast<double>(samples.size()) / 16000.0, 2).c_str(), tokens.size(),
                 korbit::fixedDecimal(elapsed, 2).c_str());
    std::printf("tokens: %s\n", ids.c_str());
    if (timestamps) {
        std::vector<int> all{special.timeTokenBegin};
        all.insert(all.end(), tokens.begin(), tokens.end());
        std::printf("timed: %s\n", tokenizer.decode(all).c_str());
    }
    std::printf("text: %s\n", tokenizer.decode(text).c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{
    "transcribe-greedy", "transcribe-greedy <model-folder> <tokenizer-folder> <audio>: greedy decoding, no filters",
    runTranscribe};

}  // namespace
