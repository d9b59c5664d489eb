#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionResultStruct.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace tremolan;
using ::testing::ElementsAre;

namespace {

WordTiming word(const std::string& text, float start, float end, float probability = 0.9f) {
    return WordTiming{text, {100, 101}, start, end, probability};
}

TranscriptionSegment segment(int id, float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
    TranscriptionSegment s;
    s.id = id;
    s.seek = 0;
    s.start = start;
    s.end = end;
    s.text = std::move(text);
    s.tokens = {50364, 2425, 50489};
    s.tokenLogProbs = {{{50364, -0.1f}}, {{2425, -0.25f}, {11, -3.5f}}, {{50489, -0.5f}}};
    s.temperature = 0.2f;
    s.avgLogprob = -0.3f;
    s.compressionRatio = 1.5f;
    s.noSpeechProb = 0.01f;
    s.words = std::move(words);
    return s;
}

}  // namespace

TEST(TranscriptionSegment, JsonHasTheTwelveKeysWithDecimalTokenKeys) {
    Json json = segment(3, 0.0f, 2.5f, " Hello");
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    EXPECT_THAT(keys, ElementsAre("id", "seek", "start", "end", "text", "tokens", "tokenLogProbs", "temperature",
                                  "avgLogprob", "compressionRatio", "noSpeechProb"));
    EXPECT_EQ(json["tokenLogProbs"].dump(), "[{\"50364\":-0.1},{\"11\":-3.5,\"2425\":-0.25},{\"50489\":-0.5}]");
    EXPECT_EQ(json["temperature"].dump(), "0.2");
    EXPECT_EQ(json::parse(json.dump()).get<TranscriptionSegment>(), segment(3, 0.0f, 2.5f, " Hello"));

    json["words"] = nullptr;
    EXPECT_FALSE(json.get<TranscriptionSegment>().words);
    json["tokenLogProbs"] = json::parse("[{\"x\":1}]");
    EXPECT_THROW(json.get<TranscriptionSegment>(), JSONDecodingError);

    auto withWords = segment(0, 0, 1, "a", std::vector{word(" a", 0, 1)});
    EXPECT_EQ(Json(withWords)["words"].dump(),
              "[{\"word\":\" a\",\"tokens\":[100,101],\"start\":0.0,\"end\":1.0,\"probability\":0.9}]");
    EXPECT_EQ(Json(withWords).get<TranscriptionSegment>(), withWords);
}

TEST(TranscriptionSegment, IdsAndTokensHoldSixtyFourBitValuesFromJson) {
    const std::int64_t big = 5000000000LL;  // past 32 bits
    Json json = segment(0, 0, 1, "a", std::vector{word("a", 0, 1)});
    json["id"] = big;
    json["tokens"] = Json::array({big, 1});
    json["tokenLogProbs"] = json::parse("[{\"5000000000\":-0.5},{\"1\":-1.0}]");
    json["words"][0]["tokens"] = Json::array({big});
    const auto decoded = json.get<TranscriptionSegment>();
    EXPECT_EQ(decoded.id, big);
    EXPECT_EQ(decoded.tokens, (std::vector<std::int64_t>{big, 1}));
    EXPECT_EQ(decoded.tokenLogProbs[0].at(big), -0.5f);
    EXPECT_EQ(decoded.words->at(0).tokens, (std::vector<std::int64_t>{big}));
    EXPECT_EQ(Json(decoded), json);
}

TEST(TranscriptionSegment, EqualityAndHashCoverEveryField) {
    std::hash<TranscriptionSegment> hash;
    EXPECT_EQ(segment(1, 0, 1, "a"), segment(1, 0, 1, "a"));
    EXPECT_EQ(hash(segment(1, 0, 1, "a")), hash(segment(1, 0, 1, "a")));

    auto a = segment(1, 0, 1, "a", std::vector{word("a", 0, 1, 0.5f)});
    auto b = segment(1, 0, 1, "a", std::vector{word("a", 0, 1, 0.6f)});
    EXPECT_NE(a, b);
    EXPECT_NE(hash(a), hash(b));
    EXPECT_NE(segment(1, 0, 1, "a"), segment(1, 0, 1, "a", std::vector<WordTiming>{}));

    auto zero = segment(1, 0.0f, 1, "a");
    auto negativeZero = segment(1, -0.0f, 1, "a");
    EXPECT_EQ(zero, negativeZero);
    EXPECT_EQ(hash(zero), hash(negativeZero));
    auto notANumber = segment(1, std::numeric_limits<float>::quiet_NaN(), 1, "a");
    EXPECT_NE(notANumber, notANumber);

    EXPECT_EQ(segment(0, 3.0f, 2.0f, "").duration(), -1.0f);
}

TEST(TranscriptionResult, JsonWritesSeekTimeAsNullAndRequiresTheKey) {
    TranscriptionResult result(" Hi", {segment(0, 0, 2.5f, " Hi")}, "en", TranscriptionTimings{});
    Json json = result.encode();
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    EXPECT_THAT(keys, ElementsAre("text", "segments", "language", "timings", "seekTime"));
    EXPECT_TRUE(json["seekTime"].is_null());

    auto decoded = TranscriptionResult::decode(json::parse(json.dump()));
    EXPECT_EQ(decoded->text(), " Hi");
    EXPECT_EQ(decoded->segments(), result.segments());
    EXPECT_EQ(decoded->timings(), result.timings());
    EXPECT_FALSE(decoded->seekTime());

    Json withoutSeek = json;
    withoutSeek.erase("seekTime");
    EXPECT_THROW(TranscriptionResult::decode(withoutSeek), JSONDecodingError);
    // The value twin leaves the key out and accepts it missing.
    auto twin = withoutSeek.get<TranscriptionResultStruct>();
    EXPECT_FALSE(twin.seekTime);
    EXPECT_FALSE(Json(twin).contains("seekTime"));
    twin.seekTime = 12.5f;
    EXPECT_EQ(Json(twin)["seekTime"].dump(), "12.5");

    result.setSeekTime(30.1f);
    EXPECT_EQ(result.encode()["seekTime"].dump(), "30.1");
    EXPECT_EQ(*TranscriptionResult::decode(result.encode())->seekTime(), 30.1f);
}

TEST(TranscriptionResult, EncodingFailsOnNumbersJsonCannotHold) {
    auto bad = segment(0, 0, 1, "x");
    bad.avgLogprob = -std::numeric_limits<float>::infinity();
    TranscriptionResult result("x", {bad}, "en", {});
    EXPECT_THROW(result.encode(), JSONEncodingError);
}

TEST(TranscriptionResult, AllWordsJoinsTheWordsOfSegmentsThatHaveThem) {
    TranscriptionResult result("",
                               {segment(0, 0, 1, "", std::vector{word("a", 0, 1), word("b", 1, 2)}),
                                segment(1, 2, 3, ""), segment(2, 3, 4, "", std::vector{word("c", 3, 4)})},
                               "en", {});
    std::vector<std::string> words;
    for (const auto& w : result.allWords()) words.push_back(w.word);
    EXPECT_THAT(words, ElementsAre("a", "b", "c"));
    EXPECT_TRUE(TranscriptionResult("", {segment(0, 0, 1, "")}, "en", {}).allWords().empty());
}

TEST(TranscriptionResult, LogSegmentsNumbersByPositionNotId) {
    velmora::test::LogCapture log;
    TranscriptionResult result(
        "", {segment(7, 0, 2.5f, " one"), segment(8, 2.5f, 4.126f, "two"), segment(9, 61.0f, 62.0f, "")}, "en", {});
    result.logSegments();
    EXPECT_THAT(log.messages(), ElementsAre("[Segment 0] [0.00 --> 2.50]  one", "[Segment 1] [2.50 --> 4.13] two",
                                            "[Segment 2] [61.00 --> 62.00] "));
    log.clear();
    TranscriptionResult("", {}, "en", {}).logSegments();
    EXPECT_TRUE(log.messages().empty());
}
