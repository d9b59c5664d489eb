#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tremolan;
using Clips = std::vector<std::pair<std::int64_t, std::int64_t>>;

namespace {

/// The default options with the fields `set` assigns.
template <typename Set>
DecodingOptions options(Set set) {
    DecodingOptions options;
    set(options);
    return options;
}

}  // namespace

TEST(DecodingOptions, DefaultRecordAndItsJsonHoldTheExactDefaultsInOrder) {
    // Every field of the default record, absent optionals left out, floats in their shortest form.
    EXPECT_EQ(
        Json(DecodingOptions()).dump(),
        R"({"verbose":false,"task":{"transcribe":{}},"temperature":0.0,"temperatureIncrementOnFallback":0.2,)"
        R"("temperatureFallbackCount":5,"sampleLength":224,"topK":5,"usePrefillPrompt":true,"detectLanguage":false,)"
        R"("skipSpecialTokens":false,"withoutTimestamps":false,"wordTimestamps":false,"clipTimestamps":[],)"
        R"("windowClipTime":1.0,"suppressBlank":false,"suppressTokens":[],"compressionRatioThreshold":2.4,)"
        R"("logProbThreshold":-1.0,"firstTokenLogProbThreshold":-1.5,"noSpeechThreshold":0.6,)"
        R"("concurrentWorkerCount":16})");
    EXPECT_EQ(DecodingOptions::withPrefillPrompt(true), DecodingOptions());
}

TEST(DecodingOptions, InitialiserRulesFillTheThreeDerivedFields) {
    // Without the prompt the language is detected unless the caller says otherwise.
    EXPECT_TRUE(DecodingOptions::withPrefillPrompt(false).detectLanguage);
    EXPECT_FALSE(DecodingOptions::withPrefillPrompt(false, false).detectLanguage);
    EXPECT_TRUE(DecodingOptions::withPrefillPrompt(true, true).detectLanguage);
    EXPECT_FALSE(DecodingOptions::withPrefillPrompt(true).detectLanguage);
    // The other two: no suppressed tokens and 16 workers unless given.
    EXPECT_EQ(DecodingOptions::withPrefillPrompt(false).suppressTokens, std::vector<std::int64_t>{});
    EXPECT_EQ(DecodingOptions::withPrefillPrompt(false).concurrentWorkerCount, 16);
    EXPECT_EQ(options([](auto& a) { a.concurrentWorkerCount = 0; }).concurrentWorkerCount, 0);
    EXPECT_EQ(options([](auto& a) {
                  a.suppressTokens = std::vector<std::int64_t>{1, 2};
              }).suppressTokens,
              (std::vector<std::int64_t>{1, 2}));
}

TEST(DecodingOptions, JsonRoundTripKeepsEveryField) {
    DecodingOptions o = options([](auto& a) {
        a.verbose = true;
        a.task = DecodingTask::translate;
        a.language = "ru";
        a.temperature = 0.3f;
        a.temperatureFallbackCount = 2;
        a.sampleLength = 100;
        a.usePrefillPrompt = false;
        a.detectLanguage = true;
        a.maxInitialTimestamp = 1.1f;
        a.maxWindowSeek = 123456789012LL;
        a.clipTimestamps = {0.1f, 7.7f};
        a.promptTokens = std::vector<std::int64_t>{1, 2, 3};
        a.prefixTokens = std::vector<std::int64_t>{};
        a.suppressTokens = std::vector<std::int64_t>{-1};
        a.logProbThreshold = std::nullopt;
        a.concurrentWorkerCount = 0;
        a.chunkingStrategy = ChunkingStrategy::vad;
    });
    Json json = o;
    EXPECT_FALSE(json.contains("logProbThreshold"));
    EXPECT_EQ(json["chunkingStrategy"], "vad");
    EXPECT_EQ(json::parse(json.dump()).get<DecodingOptions>(), o);
}

TEST(DecodingOptions, DecodingIsStrictAboutRequiredKeysAndTypes) {
    Json json = DecodingOptions();
    Json withoutTopK = json;
    withoutTopK.erase("topK");
    EXPECT_THROW(withoutTopK.get<DecodingOptions>(), JSONDecodingError);

    Json wrongType = json;
    wrongType["sampleLength"] = "224";
    EXPECT_THROW(wrongType.get<DecodingOptions>(), JSONDecodingError);
    wrongType["sampleLength"] = 2.5;
    EXPECT_THROW(wrongType.get<DecodingOptions>(), JSONDecodingError);

    Json nullLanguage = json;
    nullLanguage["language"] = nullptr;
    nullLanguage["unknown"] = 1;
    EXPECT_FALSE(nullLanguage.get<DecodingOptions>().language);

    // Decoding stores what the JSON holds; the initialiser rules do not apply.
    Json raw = json;
    raw["usePrefillPrompt"] = false;
    raw["concurrentWorkerCount"] = 3;
    auto decoded = raw.get<DecodingOptions>();
    EXPECT_FALSE(decoded.detectLanguage);
    EXPECT_EQ(decoded.concurrentWorkerCount, 3);

    Json badStrategy = json;
    badStrategy["chunkingStrategy"] = "VAD";
    EXPECT_THROW(badStrategy.get<DecodingOptions>(), JSONDecodingError);
}

TEST(DecodingOptions, SeekClipsPairClipTimesIntoSampleRanges) {
    EXPECT_EQ(DecodingOptions().prepareSeekClips(16000), (Clips{{0, 16000}}));
    EXPECT_EQ(options([](auto& a) { a.clipTimestamps = {2.0f}; }).prepareSeekClips(100000), (Clips{{32000, 100000}}));
    EXPECT_EQ(options([](auto& a) {
                  a.clipTimestamps = {1.0f, 3.0f, 5.0f};
              }).prepareSeekClips(100000),
              (Clips{{16000, 48000}, {80000, 100000}}));
    EXPECT_EQ(options([](auto& a) { a.clipTimestamps = {0.5f}; }).prepareSeekClips(16000), (Clips{{8000, 16000}}));
    // Neither sorted nor clamped.
    EXPECT_EQ(options([](auto& a) {
                  a.clipTimestamps = {9.0f, 2.0f};
              }).prepareSeekClips(16000),
              (Clips{{144000, 32000}}));
    EXPECT_EQ(options([](auto& a) { a.clipTimestamps = {-1.0f}; }).prepareSeekClips(10), (Clips{{-16000, 10}}));
}

TEST(DecodingOptions, SeekClipsWithinTheInputAreClampedAndNeverEmpty) {
    const auto clipped =
        options([](auto& a) { a.clipTimestamps = {1.0f, 3.0f, 4.0f, 2.0f, 4.5f, 9.0f, 6.0f, 7.0f, -1.0f, 0.5f}; });
    EXPECT_EQ(clipped.seekClipsWithin(80000), (Clips{{16000, 48000}, {72000, 80000}, {0, 8000}}));
    EXPECT_EQ(DecodingOptions().seekClipsWithin(0), Clips{});
    EXPECT_EQ(DecodingOptions().seekClipsWithin(5), (Clips{{0, 5}}));
}

TEST(DecodingOptions, ValuesThatCannotDriveARunAreRefusedWithTheirName) {
    auto refusal = [](auto set) -> std::string {
        try {
            options(set).validate();
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), WhisperError::Kind::transcriptionFailed);
            return error.what();
        }
        return "";
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(refusal([](auto&) {}), "");
    EXPECT_THAT(refusal([=](auto& a) { a.clipTimestamps = {1.0f, nan}; }), ::testing::HasSubstr("clipTimestamps[1]"));
    EXPECT_THAT(refusal([=](auto& a) { a.clipTimestamps = {1e16f}; }), ::testing::HasSubstr("clipTimestamps[0]"));
    EXPECT_THAT(refusal([=](auto& a) { a.temperature = inf; }),
                ::testing::HasSubstr("temperature must be a finite number"));
    EXPECT_THAT(refusal([=](auto& a) { a.temperatureIncrementOnFallback = nan; }),
                ::testing::HasSubstr("temperatureIncrementOnFallback"));
    EXPECT_THAT(refusal([=](auto& a) { a.temperatureFallbackCount = -1; }),
                ::testing::HasSubstr("temperatureFallbackCount"));
    EXPECT_THAT(refusal([=](auto& a) { a.temperatureFallbackCount = 1000000; }),
                ::testing::HasSubstr("temperatureFallbackCount"));
    EXPECT_THAT(refusal([=](auto& a) { a.sampleLength = 0; }), ::testing::HasSubstr("sampleLength"));
    EXPECT_THAT(refusal([=](auto& a) { a.topK = 0; }), ::testing::HasSubstr("topK"));
    EXPECT_THAT(refusal([=](auto& a) { a.maxInitialTimestamp = inf; }), ::testing::HasSubstr("maxInitialTimestamp"));
    EXPECT_THAT(refusal([=](auto& a) { a.maxInitialTimestamp = 1e8f; }), ::testing::HasSubstr("maxInitialTimestamp"));
    EXPECT_THAT(refusal([=](auto& a) { a.windowClipTime = -1.0f; }), ::testing::HasSubstr("windowClipTime"));
    EXPECT_THAT(refusal([=](auto& a) { a.windowClipTime = nan; }), ::testing::HasSubstr("windowClipTime"));
    EXPECT_THAT(refusal([=](auto& a) { a.concurrentWorkerCount = -2; }), ::testing::HasSubstr("concurrentWorkerCount"));
    // A window must be allowed to move on by at least one sample.
    EXPECT_THAT(refusal([=](auto& a) { a.maxWindowSeek = 0; }), ::testing::HasSubstr("maxWindowSeek"));
    // Large but meaningful values stay allowed: the decoder bounds them itself.
    EXPECT_EQ(refusal([=](auto& a) {
                  a.sampleLength = 100000;
                  a.topK = 100000;
                  a.suppressTokens = std::vector<std::int64_t>{5000000000};
                  a.maxInitialTimestamp = 1000.0f;
                  a.maxWindowSeek = std::numeric_limits<std::int64_t>::max();
              }),
              "");
    EXPECT_THROW(options([=](auto& a) { a.clipTimestamps = {inf}; }).prepareSeekClips(10), WhisperError);
    // The model takes its input tokens as 32-bit integers.
    EXPECT_THAT(refusal([=](auto& a) {
                    a.promptTokens = std::vector<std::int64_t>{1, 2147483648LL};
                }),
                ::testing::HasSubstr("promptTokens[1] = 2147483648"));
    EXPECT_THAT(refusal([=](auto& a) { a.prefixTokens = std::vector<std::int64_t>{-1}; }),
                ::testing::HasSubstr("prefixTokens[0] = -1"));
}

TEST(DecodingOptions, IntegerFieldsHoldSixtyFourBitValuesFromJson) {
    const std::int64_t big = 5000000000LL;  // past 32 bits
    Json json = DecodingOptions();
    for (const char* key : {"temperatureFallbackCount", "sampleLength", "topK", "concurrentWorkerCount"})
        json[key] = big;
    for (const char* key : {"promptTokens", "prefixTokens", "suppressTokens"}) json[key] = Json::array({big, -big});
    const auto decoded = json.get<DecodingOptions>();
    EXPECT_EQ(decoded.temperatureFallbackCount, big);
    EXPECT_EQ(decoded.sampleLength, big);
    EXPECT_EQ(decoded.topK, big);
    EXPECT_EQ(decoded.concurrentWorkerCount, big);
    EXPECT_EQ(decoded.promptTokens, (std::vector<std::int64_t>{big, -big}));
    EXPECT_EQ(decoded.suppressTokens, (std::vector<std::int64_t>{big, -big}));
    EXPECT_EQ(Json(decoded)["topK"].dump(), "5000000000");
    EXPECT_EQ(Json(decoded).get<DecodingOptions>(), decoded);
    // Past 64 bits a value is refused, naming its field.
    json["topK"] = 18446744073709551615ULL;
    EXPECT_THAT(velmora::test::messageOf<JSONDecodingError>([&] { (void)json.get<DecodingOptions>(); }),
                ::testing::HasSubstr("\"topK\""));
}
