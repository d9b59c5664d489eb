#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using namespace tremolan;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

}  // namespace

TEST(TranscriptionTimings, DefaultsAndDerivedValues) {
    TranscriptionTimings fresh;
    EXPECT_EQ(fresh.pipelineStart, std::numeric_limits<double>::max());
    EXPECT_EQ(fresh.firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_EQ(fresh.inputAudioSeconds, 0.001);
    EXPECT_EQ(fresh.realTimeFactor(), 0.0);
    EXPECT_FALSE(std::isfinite(fresh.speedFactor()));
    EXPECT_FALSE(std::isfinite(fresh.tokensPerSecond()));

    TranscriptionTimings t;
    t.fullPipeline = 2;
    t.inputAudioSeconds = 10;
    t.totalDecodingLoops = 100;
    EXPECT_EQ(t.tokensPerSecond(), 50.0);
    EXPECT_EQ(t.realTimeFactor(), 0.2);
    EXPECT_EQ(t.speedFactor(), 5.0);
}

TEST(TranscriptionTimings, JsonHoldsAll33FieldsAndNeedsThemAll) {
    TranscriptionTimings t;
    t.decodingWordTimestamps = 0.25;
    t.totalDecodingFallbacks = 3;
    Json json = t;
    EXPECT_EQ(json.size(), 33u);
    EXPECT_EQ(json.begin().key(), "pipelineStart");
    EXPECT_EQ(json["pipelineStart"].dump(), "1.7976931348623157e+308");
    EXPECT_EQ(json::parse(json.dump()).get<TranscriptionTimings>(), t);

    json.erase("fullPipeline");
    EXPECT_THROW(json.get<TranscriptionTimings>(), JSONDecodingError);
}

TEST(TranscriptionTimings, ReportHasThirtyLinesWithExactLabelsAndFormats) {
    TranscriptionTimings t;
    t.decodingLoop = 1.5;
    t.fullPipeline = 2.0;
    t.inputAudioSeconds = 10;
    t.audioLoading = 0.5;
    t.totalDecodingLoops = 100;
    t.decodingPredictions = 1.0;
    t.totalDecodingFallbacks = 3;
    t.totalAudioProcessingRuns = 2;
    t.decodingWindowing = 0.3;
    t.decodingWordTimestamps = 0.1;
    t.totalDecodingWindows = 2;
    t.pipelineStart = 1000.0;
    t.firstTokenTime = 1000.25;
    t.modelLoading = 1.234;

    const auto report = formatTimingsReport(t, 42);
    EXPECT_NE(report.back(), '\n');
    const auto rows = lines(report);
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_EQ(rows[0], "---- Transcription Timings ----");
    EXPECT_EQ(rows[1], "Audio Load:            500.00 ms /      1 runs (  500.00 ms/run) 25.00%");
    EXPECT_EQ(rows[2], "Audio Processing:        0.00 ms /      2 runs (    0.00 ms/run)  0.00%");
    EXPECT_EQ(rows[3], "Mels:                    0.00 ms /      0 runs (    0.00 ms/run)  0.00%");
    EXPECT_EQ(rows[6], "Decoding:             1000.00 ms /    100 runs (   10.00 ms/run) 50.00%");
    EXPECT_EQ(rows[12], "- Windowing:           200.00 ms /      2 runs (  100.00 ms/run) 10.00%");
    EXPECT_EQ(rows[15], "-------------------------------");
    EXPECT_EQ(rows[16], "Model Load Time:               1.23 seconds");
    EXPECT_EQ(rows[21], "Inference Duration (Global):   2.00 seconds");
    EXPECT_EQ(rows[22], "- Decoding Loop (Avg/window):  0.75 seconds");
    EXPECT_EQ(rows[23], "- Audio Windows:               2.00");
    EXPECT_EQ(rows[24], "Time to first token:           0.25 seconds");
    EXPECT_EQ(rows[25], "Total Tokens:                  42");
    EXPECT_EQ(rows[26], "Tokens per Second:             50.00 tok/s");
    EXPECT_EQ(rows[27], "Real Time Factor:              0.200");
    EXPECT_EQ(rows[28], "Speed Factor:                  5.000");
    EXPECT_EQ(rows[29], "Fallbacks:                     3.0");
}

TEST(TranscriptionTimings, ReportOfAFreshRecordNeverFails) {
    const auto rows = lines(formatTimingsReport(TranscriptionTimings{}, 0));
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_EQ(rows[24], "Time to first token:           0.00 seconds");
    // 0 / 0 prints as the formatter prints a not-a-number value.
    EXPECT_THAT(rows[1], ::testing::MatchesRegex("Audio Load: +0.00 ms / +1 runs \\( +0.00 ms/run\\) +-?nan%"));
    EXPECT_THAT(rows[22], ::testing::MatchesRegex("- Decoding Loop \\(Avg/window\\): +-?nan seconds"));
    EXPECT_EQ(rows[29], "Fallbacks:                     0.0");
}

TEST(TranscriptionTimings, LogTimingsCountsTheTokensOfEverySegment) {
    TranscriptionSegment a;
    a.tokens = {1, 2, 3};
    TranscriptionSegment b;
    b.tokens = {4, 5};
    TranscriptionResult result("", {a, b}, "en", TranscriptionTimings{});
    velmora::test::LogCapture log(korbit::Logging::LogLevel::info);
    result.logTimings();
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_THAT(log.messages()[0], ::testing::HasSubstr("\nTotal Tokens:                  5\n"));
}
