// audio: the speech library's audio by hand: the sound server's sources, a file loaded as the
// recogniser hears it, and where the chunker would cut it.

#include "Command.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Audio/SoundServer.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/VADAudioChunker.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstdio>
#include <string>
#include <utility>

namespace {

using namespace tremolan;
using velmora::dev::Arguments;
using Parsed = velmora::dev::ParsedArguments;

constexpr const char* kUsage =
    "usage: velmora-dev audio devices [--server ADDRESS]\n"
    "       velmora-dev audio load <file> [--start S] [--end E] [--channel N | --channels 0,1] [--output out.wav]\n"
    "       velmora-dev audio chunks <file> [--max-seconds 30]\n"
    "\n"
    "devices lists the sound server's sources (index, name, description; * marks the default,\n"
    "\"monitor of\" the sink whose sound a source carries). load prints what the recogniser gets\n"
    "from the file (16 kHz mono) and writes it as a WAV file; chunks prints where long audio is cut\n"
    "at silences, one chunk a line, in seconds.\n";

std::string seconds(double value) {
    return korbit::fixedDecimal(value, 2);
}

int runDevices(const Parsed& parsed) {
    const std::string server = parsed.value("server", "");
    const auto info = platform::audio::soundServerInfo(server);
    std::printf("server: %s %s\n", info.serverName.c_str(), info.serverVersion.c_str());
    std::printf("default sink: %s\n", info.defaultSinkName.empty() ? "(none)" : info.defaultSinkName.c_str());
    for (const auto& source : platform::audio::listAudioSources(server)) {
        std::string line = (source.name == info.defaultSourceName ? "* " : "  ") + std::to_string(source.index) + "\t" +
                           source.name + "\t" + source.description + "\t" + std::to_string(source.sampleRate) +
                           " Hz, " + std::to_string(source.channelCount) + " ch";
        if (source.monitorOfSink) line += "\tmonitor of sink " + std::to_string(*source.monitorOfSink);
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

ChannelMode channelMode(const Parsed& parsed) {
    if (parsed.has("channel"))
        return ChannelMode::specificChannel(static_cast<int>(parsed.integer("channel", 0, 0, 1023)));
    if (const auto list = parsed.option("channels")) {
        std::vector<int> channels;
        for (std::int64_t c : velmora::dev::parseIntegerList(*list, "audio load: --channels", 0, 1023))
            channels.push_back(static_cast<int>(c));
        return ChannelMode::sumChannels(channels);
    }
    return ChannelMode::sumChannels();
}

int runLoad(const Parsed& parsed) {
    const std::string file = parsed.positional("file");
    const double start = parsed.number("start", 0.0);
    const std::optional<double> end = parsed.has("end") ? std::optional(parsed.number("end", 0.0)) : std::nullopt;
    auto samples = AudioProcessor::loadAudioAsFloatArray(file, channelMode(parsed), start, end);
    const EnergyMeasures energy = AudioProcessor::calculateEnergy(samples);
    std::printf("%zu samples, %s s at 16000 Hz mono, rms %s, peak %s\n", samples.size(),
                seconds(static_cast<double>(samples.size()) / 16000.0).c_str(),
                korbit::fixedDecimal(energy.avg, 4).c_str(), korbit::fixedDecimal(energy.max, 4).c_str());
    const auto chunks = AudioProcessor::calculateNonSilentChunks(samples);
    std::printf("%zu stretches of sound\n", chunks.size());
    if (const auto output = parsed.option("output")) {
        platform::audio::AudioBuffer buffer;
        buffer.sampleRate = 16000;
        buffer.channels = 1;
        buffer.samples = std::move(samples);  // the last use: no second copy of a long recording
        platform::audio::writeAudioFile(*output, buffer, platform::audio::AudioFileType::wavFloat);
        std::printf("written %s\n", output->c_str());
    }
    return 0;
}

int runChunks(const Parsed& parsed) {
    const std::string file = parsed.positional("file");
    const double maxSeconds = parsed.number("max-seconds", Constants::defaultWindowSamples / 16000.0);
    if (!(maxSeconds > 0)) throw velmora::dev::UsageError("audio chunks: --max-seconds must be above 0");
    const auto samples = AudioProcessor::loadAudioAsFloatArray(file);
    const VADAudioChunker chunker(16000, nullptr);
    // Where the cuts fall is all this prints: the chunks' samples are never copied.
    for (const auto& range :
         chunker.chunkRanges(samples, static_cast<std::int64_t>(maxSeconds * 16000), std::nullopt)) {
        std::printf("%s\t%s\n", seconds(static_cast<double>(range.startIndex) / 16000.0).c_str(),
                    seconds(static_cast<double>(range.endIndex) / 16000.0).c_str());
    }
    return 0;
}

int runAudio(const Arguments& args) {
    const std::string& subcommand = velmora::dev::subcommand(args, "audio", {"devices", "load", "chunks"}, kUsage);
    velmora::dev::ArgumentParser parser("audio " + subcommand, kUsage);
    if (subcommand == "devices") parser.option("server");
    if (subcommand == "load")
        parser.positional("file").option("start").option("end").option("channel").option("channels").option("output");
    if (subcommand == "chunks") parser.positional("file").option("max-seconds");
    const Parsed parsed = parser.parse(args, 1);
    if (subcommand == "devices") return runDevices(parsed);
    if (subcommand == "load") return runLoad(parsed);
    return runChunks(parsed);
}

const velmora::dev::CommandRegistration registration{
    "audio", "audio devices | load | chunks: sound sources, audio files, chunks at silences", runAudio};

}  // namespace
