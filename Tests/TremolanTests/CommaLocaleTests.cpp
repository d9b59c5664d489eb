// The speech library's writers and readers under a comma-decimal process locale (the application
// runs under Russian locales): every number keeps its point and its value.

#include "Support/CommaDecimalLocale.hpp"
#include "Support/LogCapture.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tremolan;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velmora::test::CommaDecimalLocale;

#define REQUIRE_COMMA_LOCALE(locale) \
    if (!(locale).active()) GTEST_SKIP() << (locale).skipReason()

namespace {

TranscriptionSegment timedSegment(std::int64_t id, float start, float end, std::string text) {
    TranscriptionSegment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.text = std::move(text);
    s.tokens = {50364, 2425};
    s.tokenLogProbs = {{{50364, -0.25f}}, {{2425, -1.5f}}};
    s.temperature = 0.2f;
    s.avgLogprob = -0.3f;
    s.compressionRatio = 2.4f;
    s.noSpeechProb = 0.6f;
    s.words = std::vector{WordTiming{" one", {2425}, 2.5f, 3.25f, 0.75f}};
    return s;
}

}  // namespace

TEST(CommaLocale, JsonNumbersAreWrittenAndReadWithTheirFractions) {
    CommaDecimalLocale locale;
    REQUIRE_COMMA_LOCALE(locale);

    const std::string options = Json(DecodingOptions()).dump();
    EXPECT_THAT(options, HasSubstr("\"temperatureIncrementOnFallback\":0.2,"));
    EXPECT_THAT(options, HasSubstr("\"compressionRatioThreshold\":2.4,"));
    EXPECT_THAT(options, HasSubstr("\"noSpeechThreshold\":0.6,"));
    EXPECT_THAT(options, HasSubstr("\"firstTokenLogProbThreshold\":-1.5,"));
    EXPECT_EQ(json::parse(options).get<DecodingOptions>(), DecodingOptions());

    const TranscriptionSegment segment = timedSegment(0, 2.5f, 3.25f, " one");
    const Json written = segment;
    EXPECT_EQ(written["start"].dump(), "2.5");
    EXPECT_EQ(written["end"].dump(), "3.25");
    EXPECT_EQ(written["tokenLogProbs"].dump(), R"([{"50364":-0.25},{"2425":-1.5}])");
    EXPECT_EQ(written["words"][0]["probability"].dump(), "0.75");
    EXPECT_EQ(json::parse(written.dump()).get<TranscriptionSegment>(), segment);

    TranscriptionTimings timings;
    timings.fullPipeline = 1.25;
    const Json timingsJson = timings;
    EXPECT_EQ(timingsJson["fullPipeline"].dump(), "1.25");
    EXPECT_EQ(json::parse(timingsJson.dump()).get<TranscriptionTimings>(), timings);
}

TEST(CommaLocale, ReportsAndLogLinesWriteAPoint) {
    CommaDecimalLocale locale;
    REQUIRE_COMMA_LOCALE(locale);

    TranscriptionTimings t;
    t.audioLoading = 0.5;
    t.fullPipeline = 2.0;
    t.decodingLoop = 1.5;
    t.inputAudioSeconds = 10;
    t.modelLoading = 1.234;
    const std::string report = formatTimingsReport(t, 42);
    EXPECT_THAT(report, HasSubstr("Audio Load:            500.00 ms /      1 runs (  500.00 ms/run) 25.00%"));
    EXPECT_THAT(report, HasSubstr("Model Load Time:               1.23 seconds"));
    EXPECT_THAT(report, HasSubstr("Real Time Factor:              0.200"));
    EXPECT_THAT(report, ::testing::Not(::testing::ContainsRegex("[0-9],[0-9]")));

    {
        velmora::test::LogCapture log;
        TranscriptionResult("", {timedSegment(0, 0, 2.5f, " one"), timedSegment(1, 2.5f, 4.126f, " two")}, "en", {})
            .logSegments();
        EXPECT_THAT(log.messages(),
                    ElementsAre("[Segment 0] [0.00 --> 2.50]  one", "[Segment 1] [2.50 --> 4.13]  two"));
    }

    velmora::test::SystemLogCapture system(platform::log::LogType::debug);
    auto& signposter = SpeechLog::AudioEncoding::signposter();
    auto interval = SpeechLog::beginSignpost(SpeechLog::encodeAudioInterval, signposter);
    SpeechLog::endSignpost(SpeechLog::encodeAudioInterval, interval, signposter);
    ASSERT_EQ(system.lines().size(), 2u);
    EXPECT_THAT(system.lines()[1], ::testing::MatchesRegex(".* duration=[0-9]+\\.[0-9]{3} ms"));
}
