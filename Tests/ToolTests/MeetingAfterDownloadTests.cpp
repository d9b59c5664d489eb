// velmora-dev meeting record with the hub out of reach, after nothing but `velmora-dev download`
// of the program's model: what was downloaded is all the meeting needs.

#include "Support/HeardText.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestModelHub.hpp"
#include "Support/TwoSidedSound.hpp"
#include "ToolTests/ToolRun.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace velmora::test {
namespace {

class MeetingAfterDownload : public TwoSidedSound {
protected:
    TempDir home;
};

TEST_F(MeetingAfterDownload, AMeetingIsTranscribedWithoutTheHubAfterOnlyTheDownload) {
    {
        TestModelHub hub;
        const ToolRun fetched =
            runTool({"download", "large-v3-v20240930_626MB", "--base", (home.path() / "Velmora/models").string()},
                    {{"XDG_DATA_HOME", home.path().string()}});
        ASSERT_EQ(fetched.status, 0) << fetched.err;
    }

    // The phrases are played once both captures read from the server.
    const int before = captureStreams();
    auto running = std::async(std::launch::async, [&] {
        return runTool({"meeting", "record", "--seconds", "5"},
                       {{"XDG_DATA_HOME", home.path().string()}, {"HF_ENDPOINT", "http://127.0.0.1:9"}});
    });
    for (int waited = 0; captureStreams() < before + 2 && waited < 1500 &&
                         running.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout;
         ++waited) {
    }
    ASSERT_EQ(captureStreams(), before + 2) << running.get().err;
    ASSERT_NO_FATAL_FAILURE(playPhrases("en-04.wav", "ru-06.wav"));

    const ToolRun run = running.get();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("downloading"), std::string::npos) << run.err;
    std::map<std::string, std::string> texts;
    std::istringstream printed(run.out);
    for (std::string line; std::getline(printed, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex("00:0[0-4]\t(me|others)\t(.+)"))) << line;
        texts[m[1]] = m[2];
    }
    ASSERT_EQ(texts.size(), 2u) << run.out << run.err;
    velmora::test::expectHeard("en-04.wav", texts["me"], 2);
    velmora::test::expectHeard("ru-06.wav", texts["others"], 2);
    EXPECT_TRUE(std::regex_search(run.err, std::regex("meeting [0-9A-F-]{36}: 2 lines, [0-9]+ s, in "))) << run.err;
}

// What an interrupted download leaves (the mel-spectrogram bundle, not the rest) is no model: the
// tool sets out to download it before it records, and without a hub says so.
TEST(MeetingRecordModel, WhatAnInterruptedDownloadLeftIsNoModel) {
    TempDir home;
    writeFile(home.path() /
                  "Velmora/models/models/korbitinc/tremolan-coreml/openai_whisper-large-v3-v20240930_626MB/"
                  "MelSpectrogram.mlmodelc/model.json",
              "{}");
    const ToolRun run = runTool({"meeting", "record", "--seconds", "1"},
                                {{"XDG_DATA_HOME", home.path().string()}, {"HF_ENDPOINT", "http://127.0.0.1:9"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("downloading the model into "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("error: meeting record: the model could not be downloaded: The model hub at "
                           "http://127.0.0.1:9 could not be reached ("),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("no complete copy of \"large-v3-v20240930_626MB\" is in "), std::string::npos) << run.err;
}

}  // namespace
}  // namespace velmora::test
