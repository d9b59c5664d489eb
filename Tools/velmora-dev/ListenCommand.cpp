// listen: live transcription of a sound source through the speech library's streaming
// transcriber, printing the confirmed and the unconfirmed text as they change, until Ctrl-C.

#include "Command.hpp"
#include "SpeechModelFolder.hpp"

#include "Platform/Audio/SoundServer.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Streaming/AudioStreamTranscriber.hpp"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

namespace {

using velmora::dev::fail;

constexpr const char* kUsage =
    "usage: velmora-dev listen [--device NAME] <model-folder> [--tokenizer DIR] [--language CODE]\n"
    "Transcribes what a sound source hears, live, until Ctrl-C. Each newly confirmed segment is\n"
    "printed as a line \"confirmed: <text>\"; the text that later passes may still change as\n"
    "\"unconfirmed: <text>\" whenever it changes. At the end the whole transcript follows as\n"
    "\"transcript: <text>\".\n"
    "  --device NAME       the source to record (its name in 'audio devices'; default: the default source)\n"
    "  --language CODE     the spoken language (default en)\n"
    "  --tokenizer DIR     the folder of tokenizer.json (default: the model folder, then the hub cache)\n";

/// Records from one chosen source whenever the transcriber asks for the default input.
class SourceAudioProcessor : public tremolan::AudioProcessor {
public:
    explicit SourceAudioProcessor(std::optional<tremolan::AudioDeviceID> source) : source_(source) {}
    void startRecordingLive(std::optional<tremolan::AudioDeviceID> inputDeviceID,
                            AudioBufferCallback callback) override {
        AudioProcessor::startRecordingLive(inputDeviceID ? inputDeviceID : source_, std::move(callback));
    }

private:
    std::optional<tremolan::AudioDeviceID> source_;
};

std::string joined(const std::vector<tremolan::TranscriptionSegment>& segments, std::size_t from = 0) {
    std::string text;
    for (std::size_t i = from; i < segments.size(); ++i) text += segments[i].text;
    return text;
}

/// What a person watching wants to see change: new confirmed segments, and the rest of the text.
void printChanges(const tremolan::AudioStreamTranscriber::State& before,
                  const tremolan::AudioStreamTranscriber::State& now) {
    if (now.confirmedSegments.size() > before.confirmedSegments.size())
        std::printf("confirmed:%s\n", joined(now.confirmedSegments, before.confirmedSegments.size()).c_str());
    const auto pending = [](const tremolan::AudioStreamTranscriber::State& s) {
        std::string text = joined(s.unconfirmedSegments);
        for (const auto& window : s.unconfirmedText) text += window;
        if (s.currentText != tremolan::AudioStreamTranscriber::waitingText) text += s.currentText;
        return text;
    };
    const std::string text = pending(now);
    if (text != pending(before) && !text.empty()) std::printf("unconfirmed:%s\n", text.c_str());
    std::fflush(stdout);
}

int runListen(const velmora::dev::Arguments& args) {
    const auto parsed = velmora::dev::ArgumentParser("listen", kUsage)
                            .positional("model-folder")
                            .option("device", velmora::dev::ArgumentParser::nonEmpty)
                            .option("tokenizer", velmora::dev::ArgumentParser::nonEmpty)
                            .option("language")
                            .parse(args);
    tremolan::DecodingOptions options;
    options.language = parsed.value("language", "en");
    velmora::dev::checkLanguageCode("listen", *options.language);
    options.skipSpecialTokens = true;

    std::optional<tremolan::AudioDeviceID> source;
    if (const auto device = parsed.option("device")) {
        try {
            source = platform::audio::findAudioSource(platform::audio::SourceSelection::named(*device)).index;
        } catch (const std::exception& error) {
            return fail("listen: no source '" + *device + "': " + error.what());
        }
    }
    const tremolan::WindowDecoder model =
        velmora::dev::loadSpeechModel(parsed.positional("model-folder"), parsed.value("tokenizer", ""));
    // The decoder would say English where the vocabulary cannot say the language.
    if (model.textDecoder->isModelMultilingual())
        velmora::dev::languageToken("listen", *options.language, *model.textDecoder->tokenizer());

    // Ctrl-C and termination are taken by this thread alone: every thread started from here on
    // inherits the blocked set.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    tremolan::AudioStreamTranscriber transcriber(
        model.audioEncoder, model.featureExtractor, std::make_shared<tremolan::SegmentSeeker>(), model.textDecoder,
        model.textDecoder->tokenizer(), std::make_shared<SourceAudioProcessor>(source), options,
        /*requiredSegmentsForConfirmation=*/2, /*silenceThreshold=*/0.3f, /*compressionCheckWindow=*/60,
        /*useVAD=*/true, printChanges);
    try {
        transcriber.startStreamTranscription();
    } catch (const std::exception& error) {
        return fail(std::string("listen: recording could not start: ") + error.what());
    }
    if (!transcriber.state().isRecording) {
        // The transcriber only says no: ask the server what holds (no server at its address, no source).
        try {
            platform::audio::findAudioSource(source ? platform::audio::SourceSelection::withIndex(*source)
                                                    : platform::audio::SourceSelection::defaultSource());
        } catch (const std::exception& error) {
            return fail(std::string("listen: recording could not start: ") + error.what());
        }
        return fail("listen: recording could not start at the sound server " + platform::audio::soundServerAddress());
    }
    std::fprintf(stderr, "Listening; Ctrl-C ends.\n");
    int signal = 0;
    sigwait(&signals, &signal);
    transcriber.stopStreamTranscription();
    const auto last = transcriber.state();
    std::printf("transcript:%s\n", (joined(last.confirmedSegments) + joined(last.unconfirmedSegments)).c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{
    "listen", "listen [--device NAME] <model-folder>: live transcription of a sound source until Ctrl-C", runListen};

}  // namespace
