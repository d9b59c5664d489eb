#pragma once

// The two sides of a meeting on a sound server of the test's own: its default source is a
// microphone "mic", fed through its sink, and its default sink "speakers", whose monitor is what
// the others say.

#include "Support/PrivatePulseServer.hpp"
#include "Support/TestEnvironment.hpp"

#include "Platform/Audio/AudioFile.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {

class TwoSidedSound : public ::testing::Test {
protected:
    void SetUp() override {
        VELMORA_SKIP_WITHOUT_PULSEAUDIO();
        server.emplace();
        server->createMicrophone("mic");
        server->setDefaultSource("mic");
    }
    /// Plays one recording to the microphone and another on the speakers at once; returns when
    /// both are played, whether both were.
    bool playBoth(const std::vector<float>& toMicrophone, const std::vector<float>& onSpeakers) {
        auto intoMicrophone = server->startPlaying(PrivatePulseServer::feedOf("mic"), toMicrophone, 16000);
        auto intoSpeakers = server->startPlaying("speakers", onSpeakers, 16000);
        const bool microphone = intoMicrophone.wait();
        return intoSpeakers.wait() && microphone;
    }
    void playTogether(const std::vector<float>& toMicrophone, const std::vector<float>& onSpeakers) {
        ASSERT_TRUE(playBoth(toMicrophone, onSpeakers));
    }
    /// One held-out phrase (a file of Tests/Data/testmodel) into the microphone and one on the
    /// speakers, at once.
    void playPhrases(const std::string& mine, const std::string& theirs) {
        const auto samplesOf = [](const std::string& file) {
            return platform::audio::readAudioFile(dataPath("testmodel/" + file)).samples;
        };
        playTogether(samplesOf(mine), samplesOf(theirs));
    }
    /// How many captures read from the server now.
    int captureStreams() const {
        std::istringstream listed(server->pactl({"list", "short", "source-outputs"}));
        int streams = 0;
        for (std::string line; std::getline(listed, line);) streams += !line.empty();
        return streams;
    }

    std::optional<PrivatePulseServer> server;
};

}  // namespace velmora::test
