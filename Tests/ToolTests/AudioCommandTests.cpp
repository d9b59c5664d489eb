// velmora-dev audio: sources of a running sound server, files as the recogniser hears them, and
// the chunker's cuts.

#include "Platform/Audio/AudioFile.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/TestEnvironment.hpp"
#include "ToolTests/ToolRun.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <sstream>

namespace velmora::test {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

double seconds(const std::string& text) {
    double value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TEST(AudioCommand, ListsTheSourcesOfTheServerItIsPointedAt) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("desk-mic");
    server.setDefaultSource("desk-mic");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"audio", "devices", "--server", server.address()}, {"audio", "devices"}}) {
        const ToolRun run = runTool(arguments, {{"PULSE_SERVER", server.address()}});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto out = lines(run.out);
        ASSERT_GE(out.size(), 4u);
        EXPECT_EQ(out[1], "default sink: speakers");
        EXPECT_NE(run.out.find("\tspeakers.monitor\tMonitor of Speakers\t"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("monitor of sink"), std::string::npos);
        EXPECT_NE(run.out.find("* "), std::string::npos);
        EXPECT_NE(run.out.find("\tdesk-mic\tdesk-mic\t48000 Hz, 1 ch\n"), std::string::npos) << run.out;
    }
    server.stop();
    const ToolRun gone = runTool({"audio", "devices"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("Cannot connect to the sound server"), std::string::npos) << gone.err;
}

TEST(AudioCommand, LoadsARangeAndWritesItAsTheRecogniserHearsIt) {
    TempDir folder;
    const std::string output = (folder / "part.wav").string();
    const ToolRun run = runTool(
        {"audio", "load", dataPath("audio/jfk.flac").string(), "--start", "1", "--end=5.5", "--output", output});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines(run.out).front().rfind("72000 samples, 4.50 s at 16000 Hz mono, rms ", 0), 0u) << run.out;
    const platform::audio::AudioBuffer written = platform::audio::readAudioFile(output);
    EXPECT_EQ(written.sampleRate, 16000);
    EXPECT_EQ(written.channels, 1);
    EXPECT_EQ(written.samples.size(), 72000u);

    const ToolRun missing = runTool({"audio", "load", (folder / "none.flac").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Resource path does not exist"), std::string::npos);
    const ToolRun typo = runTool({"audio", "load", output, "--strat", "1"});
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("--strat"), std::string::npos);
}

TEST(AudioCommand, SaysARecordingWithoutSamplesHoldsNone) {
    TempDir folder;
    const std::string empty = (folder / "empty.wav").string();
    platform::audio::AudioBuffer nothing;
    nothing.sampleRate = 16000;
    nothing.channels = 1;
    platform::audio::writeAudioFile(empty, nothing, platform::audio::AudioFileType::wavInt16);
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"audio", "load", empty}, {"audio", "load", empty, "--start", "0"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "error: audio load: the recording " + empty + " holds no samples\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(AudioCommand, PrintsChunksThatCoverTheRecordingInOrder) {
    const ToolRun run =
        runTool({"audio", "chunks", dataPath("testmodel/long-en.flac").string(), "--max-seconds", "10"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out.front().rfind("0.00\t", 0), 0u);
    std::string previousEnd = "0.00";
    for (const auto& line : out) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_EQ(line.substr(0, tab), previousEnd);
        EXPECT_LE(seconds(line.substr(tab + 1)) - seconds(line.substr(0, tab)), 10.0 + 1e-9);
        previousEnd = line.substr(tab + 1);
    }
}

}  // namespace
}  // namespace velmora::test
