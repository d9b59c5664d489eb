// audio: the speech library's audio by hand: the sound server's sources, a file loaded as the
// recogniser hears it, and where the chunker would cut it.

#include "Command.hpp"
#include "OutputNames.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Audio/SoundServer.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/VADAudioChunker.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

/// What `audio load` is asked for, checked against itself and then against the file.
struct LoadRange {
    double start = 0;
    std::optional<double> end;
    /// The channels named by --channel or --channels; empty for all of them summed.
    std::vector<int> channels;
    bool oneChannel = false;

    ChannelMode channelMode() const {
        if (oneChannel) return ChannelMode::specificChannel(channels.front());
        return channels.empty() ? ChannelMode::sumChannels() : ChannelMode::sumChannels(channels);
    }
};

using velmora::dev::UsageError;

LoadRange loadRange(const Parsed& parsed) {
    LoadRange range;
    range.start = parsed.number("start", 0.0);
    if (range.start < 0) throw UsageError("audio load: --start must be 0 or more, not " + parsed.value("start", ""));
    if (parsed.has("end")) {
        range.end = parsed.number("end", 0.0);
        if (*range.end <= range.start) {
            throw UsageError("audio load: --end " + parsed.value("end", "") + " must come after --start " +
                             parsed.value("start", "0"));
        }
    }
    if (parsed.has("channel") && parsed.has("channels"))
        throw UsageError("audio load: --channel and --channels exclude each other");
    if (parsed.has("channel")) {
        range.channels = {static_cast<int>(parsed.integer("channel", 0, 0, 1023))};
        range.oneChannel = true;
    } else if (const auto list = parsed.option("channels")) {
        for (std::int64_t c : velmora::dev::parseIntegerList(*list, "audio load: --channels", 0, 1023))
            range.channels.push_back(static_cast<int>(c));
        if (range.channels.empty()) throw UsageError("audio load: --channels needs at least one channel");
    }
    return range;
}

/// Refuses times past the recording's end and channels it does not have. A file that cannot be
/// opened is left for the loader to report.
void checkAgainstFile(const LoadRange& range, const Parsed& parsed, const std::string& file) {
    std::optional<platform::audio::AudioFile> audio;
    try {
        audio.emplace(file);
    } catch (const std::exception&) {
        return;
    }
    // Nothing to load is said as such, not as a --start past the end.
    if (audio->length() == 0) throw std::runtime_error("audio load: the recording " + file + " holds no samples");
    const auto& format = audio->fileFormat();
    const double duration = format.sampleRate > 0 ? static_cast<double>(audio->length()) / format.sampleRate : 0;
    const std::string length = " is past the end of the recording (" + seconds(duration) + " s)";
    if (range.start >= duration) throw UsageError("audio load: --start " + parsed.value("start", "") + length);
    if (range.end && *range.end > duration) throw UsageError("audio load: --end " + parsed.value("end", "") + length);
    const int count = static_cast<int>(format.channelCount);
    for (int channel : range.channels) {
        if (channel < count) continue;
        const std::string option = range.oneChannel ? "--channel " : "--channels ";
        const std::string has =
            count == 1 ? "1 channel (0)" : std::to_string(count) + " channels (0 to " + std::to_string(count - 1) + ")";
        throw UsageError("audio load: " + option + std::to_string(channel) + ": the recording has " + has);
    }
}

int runLoad(const Parsed& parsed) {
    const std::string file = parsed.positional("file");
    const LoadRange range = loadRange(parsed);
    const auto output = parsed.option("output");
    if (output) velmora::dev::refuseOutputsOverInputs("audio load", {*output}, {file});
    checkAgainstFile(range, parsed, file);
    auto samples = AudioProcessor::loadAudioAsFloatArray(file, range.channelMode(), range.start, range.end);
    // The recording holds samples (checked above): a range too short for one of them is no range.
    if (samples.empty()) {
        throw UsageError("audio load: the range from --start " + parsed.value("start", "0") + " to " +
                         (range.end ? "--end " + parsed.value("end", "") : std::string("the end")) +
                         " holds no sample at " + std::to_string(Constants::sampleRate) + " Hz");
    }
    // A recording written to standard output is all that goes there.
    FILE* report = output && platform::sys::namesStandardOutput(*output) ? stderr : stdout;
    const EnergyMeasures energy = AudioProcessor::calculateEnergy(samples);
    std::fprintf(report, "%zu samples, %s s at 16000 Hz mono, rms %s, peak %s\n", samples.size(),
                 seconds(static_cast<double>(samples.size()) / Constants::sampleRate).c_str(),
                 korbit::fixedDecimal(energy.avg, 4).c_str(), korbit::fixedDecimal(energy.max, 4).c_str());
    const auto chunks = AudioProcessor::calculateNonSilentChunks(samples);
    std::fprintf(report, "%zu stretches of sound\n", chunks.size());
    if (output) {
        platform::audio::AudioBuffer buffer;
        buffer.sampleRate = Constants::sampleRate;
        buffer.channels = 1;
        buffer.samples = std::move(samples);  // the last use: no second copy of a long recording
        platform::audio::writeAudioFile(*output, buffer, platform::audio::AudioFileType::wavFloat);
        std::fprintf(report, "written %s\n", output->c_str());
    }
    return 0;
}

int runChunks(const Parsed& parsed) {
    const std::string file = parsed.positional("file");
    const VADAudioChunker chunker(Constants::sampleRate, nullptr);
    // The detector judges voice a frame (0.1 s) at a time: a shorter chunk is less than one of its
    // verdicts, cut where it found no silence, and below two samples the chunker finds none at all.
    const double shortest = static_cast<double>(chunker.vad().frameLengthSamples()) / Constants::sampleRate;
    const double maxSeconds =
        parsed.number("max-seconds", static_cast<double>(Constants::defaultWindowSamples) / Constants::sampleRate,
                      shortest, velmora::dev::kLongestSeconds);
    const auto samples = AudioProcessor::loadAudioAsFloatArray(file);
    // Where the cuts fall is all this prints: the chunks' samples are never copied.
    for (const auto& range :
         chunker.chunkRanges(samples, static_cast<std::int64_t>(maxSeconds * Constants::sampleRate), std::nullopt)) {
        std::printf("%s\t%s\n", seconds(static_cast<double>(range.startIndex) / Constants::sampleRate).c_str(),
                    seconds(static_cast<double>(range.endIndex) / Constants::sampleRate).c_str());
    }
    return 0;
}

int runAudio(const Arguments& args) {
    const std::string& subcommand = velmora::dev::subcommand(args, "audio", {"devices", "load", "chunks"}, kUsage);
    velmora::dev::ArgumentParser parser("audio " + subcommand, kUsage);
    using Parser = velmora::dev::ArgumentParser;
    if (subcommand == "devices") parser.option("server", Parser::nonEmpty);
    if (subcommand == "load") {
        parser.positional("file")
            .option("start")
            .option("end")
            .option("channel")
            .option("channels")
            .option("output", Parser::nonEmpty);
    }
    if (subcommand == "chunks") parser.positional("file").option("max-seconds");
    const Parsed parsed = parser.parse(args, 1);
    if (subcommand == "devices") return runDevices(parsed);
    if (subcommand == "load") return runLoad(parsed);
    return runChunks(parsed);
}

const velmora::dev::CommandRegistration registration{
    "audio", "audio devices | load | chunks: sound sources, audio files, chunks at silences", runAudio};

}  // namespace
