// Segments and next seek from crafted decoding results: the silence skip, the slicing at pairs of
// timestamps, the two endings and the single-precision seek arithmetic.

#include "SpeechWords.hpp"

#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tremolan;
using ::testing::ElementsAre;

namespace {

constexpr int T = 50364;    // <|0.00|>
constexpr int EOT = 50257;  // <|endoftext|>
constexpr std::int64_t kWindow = 480000;

const WhisperTokenizerWrapper& tokenizer() {
    return velmora::test::speechVocabulary();
}
int word(const char* text) {
    return velmora::test::wordToken(text);
}

DecodingResult result(std::vector<int> tokens) {
    DecodingResult r;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        r.tokenLogProbs.push_back({{tokens[i], -0.1f * static_cast<float>(i + 1)}});
    r.tokens = std::move(tokens);
    r.avgLogProb = -0.3f;
    r.noSpeechProb = 0.1f;
    r.temperature = 0.2f;
    r.compressionRatio = 1.5f;
    return r;
}

SeekAndSegments seek(const DecodingResult& r, std::int64_t currentSeek = 0, DecodingOptions options = {},
                     std::int64_t allSegmentsCount = 0, std::int64_t segmentSize = kWindow) {
    return SegmentSeeker().findSeekPointAndSegments(r, options, allSegmentsCount, currentSeek, segmentSize, 16000, T,
                                                    EOT, tokenizer());
}

std::vector<std::int64_t> ids(std::initializer_list<int> tokens) {
    return {tokens.begin(), tokens.end()};
}

}  // namespace

TEST(SegmentSeeker, SilenceIsSkippedUnlessTheDecodingWasConfident) {
    DecodingOptions options;
    options.noSpeechThreshold = 0.6f;
    options.logProbThreshold = -1.0f;
    auto r = result({T, word(" Hello"), T + 50, EOT});
    r.noSpeechProb = 0.7f;
    r.avgLogProb = -2.0f;
    const auto skipped = seek(r, 16000, options);
    EXPECT_EQ(skipped.seek, 16000 + kWindow);
    EXPECT_FALSE(skipped.segments.has_value());  // No list at all, not an empty one.

    r.avgLogProb = -0.5f;
    EXPECT_TRUE(seek(r, 16000, options).segments.has_value());
    r.avgLogProb = -2.0f;
    options.noSpeechThreshold.reset();
    EXPECT_TRUE(seek(r, 16000, options).segments.has_value());
    options.noSpeechThreshold = 0.6f;
    options.logProbThreshold.reset();
    EXPECT_FALSE(seek(r, 16000, options).segments.has_value());
    r.noSpeechProb = 0.6f;  // Only a probability above the threshold is silence.
    EXPECT_TRUE(seek(r, 16000, options).segments.has_value());
}

TEST(SegmentSeeker, WithoutAPairOfTimestampsTheWindowIsOneSegment) {
    const int hello = word(" Hello");
    struct Case {
        const char* name;
        std::vector<int> tokens;
        std::int64_t currentSeek, segmentSize;
        float start, end;
        std::int64_t nextSeek;
    };
    // Ending in text, the window is consumed whole; closed by a timestamp, it ends at that timestamp.
    const std::vector<Case> cases = {
        {"no tokens", {}, 0, kWindow, 0.0f, 30.0f, kWindow},
        {"opening timestamp only", {T, hello, hello, EOT}, 0, kWindow, 0.0f, 30.0f, kWindow},
        {"short window", {T, hello, EOT}, 32000, 24000, 2.0f, 3.5f, 56000},
        {"a later timestamp", {T, hello, T + 60, EOT}, 0, kWindow, 0.0f, 1.2f, 19199},
        {"the last later timestamp counts", {T + 60, hello, T + 10, EOT}, 0, kWindow, 0.0f, 0.2f, 3199},
        {"timestamps off", {50258, 50259, 50359, 50363, hello, EOT}, 480000, kWindow, 30.0f, 60.0f, 960000},
    };
    for (const auto& c : cases) {
        const auto r = result(c.tokens);
        const auto out = seek(r, c.currentSeek, {}, 7, c.segmentSize);
        EXPECT_EQ(out.seek, c.nextSeek) << c.name;
        ASSERT_TRUE(out.segments.has_value()) << c.name;
        ASSERT_EQ(out.segments->size(), 1u) << c.name;
        const auto& s = out.segments->front();
        EXPECT_EQ(s.id, 7) << c.name;
        EXPECT_EQ(s.seek, c.currentSeek) << c.name;
        EXPECT_FLOAT_EQ(s.start, c.start) << c.name;
        EXPECT_FLOAT_EQ(s.end, c.end) << c.name;
        EXPECT_EQ(s.tokens, std::vector<std::int64_t>(c.tokens.begin(), c.tokens.end())) << c.name;
        EXPECT_EQ(s.tokenLogProbs.size(), c.tokens.size()) << c.name;
        EXPECT_EQ(s.text, tokenizer().decode(c.tokens)) << c.name;
    }
}

TEST(SegmentSeeker, AWindowOfOnePhraseClosedByATimestampEndsAtThatTimestamp) {
    // A window of a long recording whose answer is one phrase closed at 3.96 s, then the end
    // token: the speech after 3.96 s was not heard, so the next window starts there rather than
    // 30 s on.
    const std::vector<int> words{word(" story"), word(" thirteen"), word(" hour"), word(" seventeen")};
    std::vector<int> tokens{50258, 50259, 50359, T};
    tokens.insert(tokens.end(), words.begin(), words.end());
    tokens.insert(tokens.end(), {T + 198, EOT});
    const auto out = seek(result(tokens), 135360);
    EXPECT_EQ(out.seek, 135360 + 63359);  // 3.96 s in single precision, truncated
    ASSERT_TRUE(out.segments.has_value());
    ASSERT_EQ(out.segments->size(), 1u);
    EXPECT_FLOAT_EQ(out.segments->front().start, 8.46f);
    EXPECT_FLOAT_EQ(out.segments->front().end, 8.46f + 3.96f);
}

TEST(SegmentSeeker, TimestampsPastTheWindowsAudioStopAtItsEnd) {
    // The last 2 s of a recording, padded to a whole window: what the model dates past them lies in
    // the padding, where nothing was said.
    const int a = word(" one"), b = word(" two");
    const auto closed = seek(result({T, a, T + 150, EOT}), 96000, {}, 0, 32000);
    EXPECT_EQ(closed.seek, 128000);
    EXPECT_FLOAT_EQ(closed.segments->front().end, 8.0f);
    const auto paired = seek(result({T, a, T + 50, T + 125, b, T + 175, EOT}), 96000, {}, 0, 32000);
    ASSERT_EQ(paired.segments->size(), 2u);
    EXPECT_FLOAT_EQ(paired.segments->at(0).end, 7.0f);
    EXPECT_FLOAT_EQ(paired.segments->at(1).start, 8.0f);
    EXPECT_FLOAT_EQ(paired.segments->at(1).end, 8.0f);
    EXPECT_EQ(paired.seek, 128000);
}

TEST(SegmentSeeker, PairsOfTimestampsCutTheWindowIntoSegments) {
    const int a = word(" one"), b = word(" two"), c = word(" three"), d = word(" four");
    // Closed by a single timestamp: slices end at the pair and after the closing timestamp.
    const auto single = seek(result({T, a, b, T + 50, T + 50, c, T + 100, EOT}));
    EXPECT_EQ(single.seek, 32000);
    ASSERT_TRUE(single.segments.has_value());
    ASSERT_EQ(single.segments->size(), 2u);
    const auto& first = single.segments->at(0);
    const auto& second = single.segments->at(1);
    EXPECT_EQ(first.tokens, ids({T, a, b, T + 50}));
    EXPECT_FLOAT_EQ(first.start, 0.0f);
    EXPECT_FLOAT_EQ(first.end, 1.0f);
    EXPECT_EQ(second.tokens, ids({T + 50, c, T + 100}));
    EXPECT_FLOAT_EQ(second.start, 1.0f);
    EXPECT_FLOAT_EQ(second.end, 2.0f);
    EXPECT_EQ(first.id, 0);
    EXPECT_EQ(second.id, 1);
    // Each segment carries its own slice of log probabilities and the window's measures.
    ASSERT_EQ(second.tokenLogProbs.size(), 3u);
    EXPECT_FLOAT_EQ(second.tokenLogProbs[0].at(T + 50), -0.5f);
    EXPECT_FLOAT_EQ(second.avgLogprob, -0.3f);
    EXPECT_FLOAT_EQ(second.temperature, 0.2f);
    EXPECT_FLOAT_EQ(second.compressionRatio, 1.5f);
    EXPECT_FLOAT_EQ(second.noSpeechProb, 0.1f);
    EXPECT_FALSE(second.words.has_value());

    // Ending in text: the rest of the window is one more segment, and the whole window is consumed.
    const auto open = seek(result({T, a, b, T + 50, T + 50, c, d, EOT}), 160000, {}, 3);
    EXPECT_EQ(open.seek, 160000 + kWindow);
    ASSERT_EQ(open.segments->size(), 2u);
    EXPECT_EQ(open.segments->at(1).tokens, ids({T + 50, c, d, EOT}));
    EXPECT_FLOAT_EQ(open.segments->at(1).start, 11.0f);
    EXPECT_FLOAT_EQ(open.segments->at(1).end, 11.0f);
    EXPECT_EQ(open.segments->at(1).id, 4);
    EXPECT_EQ(open.segments->at(1).seek, 160000);

    // Ending in a pair: the pair's second timestamp is left for the next window.
    const auto pair = seek(result({T, a, T + 40, T + 40, b, T + 80, T + 80}));
    ASSERT_EQ(pair.segments->size(), 2u);
    EXPECT_EQ(pair.segments->at(1).tokens, ids({T + 40, b, T + 80}));
    EXPECT_EQ(pair.seek, 25599);  // 80 x 0.02 x 16000 in single precision, truncated.
}

TEST(SegmentSeeker, NextSeekAtATimestampIsComputedInSinglePrecision) {
    // Several anchors land one sample short of the exact time.
    const std::vector<std::pair<int, std::int64_t>> anchors = {{9, 2879},    {27, 8639},   {33, 10559},
                                                               {50, 16000},  {80, 25599},  {100, 32000},
                                                               {133, 42559}, {160, 51199}, {1500, 480000}};
    const int a = word(" one");
    for (const auto& [steps, samples] : anchors) {
        const auto closed = seek(result({T, a, T + 1, T + 1, a, T + steps, EOT}), 1000);
        EXPECT_EQ(closed.seek, 1000 + samples) << steps;
        const auto paired = seek(result({T, a, T + steps, T + steps}), 1000);
        EXPECT_EQ(paired.seek, 1000 + samples) << steps;
    }
}

TEST(SegmentSeeker, SegmentTextKeepsOrSkipsSpecialTokens) {
    const int a = word(" one");
    const auto r = result({T, a, T + 50, T + 50, a, T + 100, EOT});
    const auto kept = seek(r);
    EXPECT_EQ(kept.segments->at(0).text, "<|0.00|> one<|1.00|>");
    DecodingOptions options;
    options.skipSpecialTokens = true;
    const auto skipped = seek(r, 0, options);
    EXPECT_EQ(skipped.segments->at(0).text, " one");
    EXPECT_EQ(skipped.segments->at(1).text, " one");
    // The tokens stay whole either way.
    EXPECT_EQ(skipped.segments->at(1).tokens, ids({T + 50, a, T + 100}));
}
