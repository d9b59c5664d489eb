#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Records/ChunkingStrategy.hpp"
#include "Tremolan/Core/Records/DecodingFallback.hpp"
#include "Tremolan/Core/Records/DecodingTask.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace tremolan;

namespace {

std::string decodingError(const std::string& text) {
    return velmora::test::messageOf<JSONDecodingError>([&] { json::parse(text).get<DecodingTask>(); });
}

}  // namespace

TEST(DecodingTask, JsonIsAnObjectWithOneKeyNamingTheCase) {
    EXPECT_EQ(Json(DecodingTask::transcribe).dump(), "{\"transcribe\":{}}");
    EXPECT_EQ(Json(DecodingTask::translate).dump(), "{\"translate\":{}}");
    EXPECT_EQ(json::parse("{\"translate\":{}}").get<DecodingTask>(), DecodingTask::translate);
    // The payload and unrelated keys are ignored.
    EXPECT_EQ(json::parse("{\"transcribe\":{\"x\":1},\"other\":2}").get<DecodingTask>(), DecodingTask::transcribe);

    const std::string expected = "Invalid number of keys found, expected one.";
    EXPECT_EQ(decodingError("{}"), expected);
    EXPECT_EQ(decodingError("{\"transcribe\":{},\"translate\":{}}"), expected);
    EXPECT_EQ(decodingError("{\"other\":{}}"), expected);
    EXPECT_NE(decodingError("{\"translate\":1}"), "");
    EXPECT_NE(decodingError("\"translate\""), "");
    EXPECT_EQ(description(DecodingTask::translate), "translate");
}

TEST(ChunkingStrategy, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(chunkingStrategyFromRawValue("vad"), ChunkingStrategy::vad);
    EXPECT_EQ(chunkingStrategyFromRawValue("none"), ChunkingStrategy::none);
    EXPECT_FALSE(chunkingStrategyFromRawValue("VAD"));
    EXPECT_FALSE(chunkingStrategyFromRawValue(""));
    EXPECT_EQ(Json(ChunkingStrategy::vad).dump(), "\"vad\"");
    EXPECT_THROW(json::parse("\"Vad\"").get<ChunkingStrategy>(), JSONDecodingError);
    EXPECT_THROW(json::parse("1").get<ChunkingStrategy>(), JSONDecodingError);
}

TEST(DecodingFallback, TestsRunInOrderFirstTokenSilenceCompressionLogProb) {
    const DecodingOptions defaults;
    auto verdict = [](bool firstTokenTooLow, float noSpeech, float ratio, float logProb,
                      const DecodingOptions& options) {
        return DecodingFallback::verdict(options, firstTokenTooLow, noSpeech, ratio, logProb);
    };

    // Silence outranks both quality tests, and is accepted rather than retried.
    EXPECT_EQ(verdict(false, 0.7f, 3.0f, -2.0f, defaults), (DecodingFallback{false, "silence"}));
    // Comparisons are strict.
    EXPECT_EQ(verdict(false, 0.6f, 2.5f, 0.0f, defaults), (DecodingFallback{true, "compressionRatioThreshold"}));
    EXPECT_EQ(verdict(false, 0.0f, 2.4f, -1.5f, defaults), (DecodingFallback{true, "logProbThreshold"}));
    EXPECT_EQ(verdict(false, 0.0f, 1.0f, -1.0f, defaults), std::nullopt);
    // Only the first-token test overrides silence.
    EXPECT_EQ(verdict(true, 0.99f, 1.0f, 0.0f, defaults), (DecodingFallback{true, "firstTokenLogProbThreshold"}));

    DecodingOptions noThresholds;
    noThresholds.compressionRatioThreshold.reset();
    noThresholds.logProbThreshold.reset();
    noThresholds.noSpeechThreshold.reset();
    EXPECT_EQ(verdict(false, 1.0f, 100.0f, -100.0f, noThresholds), std::nullopt);
    EXPECT_EQ(verdict(true, 1.0f, 100.0f, -100.0f, noThresholds),
              (DecodingFallback{true, "firstTokenLogProbThreshold"}));

    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(verdict(false, nan, nan, nan, defaults), std::nullopt);
    EXPECT_EQ(verdict(false, 0.0f, std::numeric_limits<float>::infinity(), 0.0f, defaults),
              (DecodingFallback{true, "compressionRatioThreshold"}));
}
