// Word timing on crafted alignment weights: the warping path and its ties, the token and word
// times, the duration rules, the punctuation merges and the segment updates with their rounding.

#include "SpeechWords.hpp"

#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace tremolan;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using ::testing::ElementsAre;

namespace {

constexpr int SOT = 50258, EN = 50259, TRANSCRIBE = 50359, T = 50364, EOT = 50257;

const WhisperTokenizerWrapper& tokenizer() {
    return velmora::test::speechVocabulary();
}
int word(const char* text) {
    return velmora::test::wordToken(text);
}

MLMultiArray matrix(const std::vector<std::vector<float>>& rows) {
    MLMultiArray m({static_cast<std::int64_t>(rows.size()), static_cast<std::int64_t>(rows.at(0).size())},
                   MLMultiArrayDataType::float16);
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            m.setValue({static_cast<std::int64_t>(i), static_cast<std::int64_t>(j)}, rows[i][j]);
    return m;
}

/// [rows, frames] weights where row r attends to the frames from blockStarts[r] up to the next start.
MLMultiArray blocks(std::int64_t rows, std::int64_t frames, const std::vector<std::int64_t>& blockStarts) {
    MLMultiArray m({rows, frames}, MLMultiArrayDataType::float16);
    for (std::size_t r = 0; r < blockStarts.size(); ++r) {
        const std::int64_t end = r + 1 < blockStarts.size() ? blockStarts[r + 1] : frames;
        for (std::int64_t f = blockStarts[r]; f < end; ++f) m.setValue({static_cast<std::int64_t>(r), f}, 1.0);
    }
    return m;
}

WordTiming timed(std::string text, float start, float end, std::vector<std::int64_t> tokens = {1},
                 float probability = 0.9f) {
    return WordTiming{std::move(text), std::move(tokens), start, end, probability};
}

std::vector<std::string> texts(const std::vector<WordTiming>& words) {
    std::vector<std::string> out;
    for (const auto& w : words) out.push_back(w.word);
    return out;
}

TranscriptionSegment segmentOf(std::vector<int> tokens, float start, float end, std::int64_t seek = 0) {
    TranscriptionSegment s;
    s.seek = seek;
    s.start = start;
    s.end = end;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        s.tokenLogProbs.push_back({{tokens[i], -0.1f * static_cast<float>(i + 1)}});
    s.tokens.assign(tokens.begin(), tokens.end());
    return s;
}

const SegmentSeeker seeker;

}  // namespace

namespace tremolan {
void PrintTo(const WordTiming& w, std::ostream* out) {
    *out << "'" << w.word << "' " << w.start << "-" << w.end << " p" << w.probability << " (" << w.tokens.size()
         << " tokens)";
}
}  // namespace tremolan

TEST(WordTimestamps, CheapestStepAndItsTies) {
    struct Case {
        double diagonal, up, left, value;
        double cost;
        int code;
    };
    for (const auto& c : {Case{1, 2, 3, 0.5, 0.5, 0}, Case{2, 1, 3, 0.5, 0.5, 1}, Case{3, 2, 1, 0.5, 0.5, 2},
                          Case{1, 1, 3, 0, 3, 2},  // A tie of the two cheapest still steps left.
                          Case{1, 3, 1, 0, 1, 2}, Case{3, 1, 1, 0, 1, 2}, Case{1, 1, 1, 0, 1, 2}}) {
        const auto [cost, code] = seeker.minCostAndTrace(c.diagonal, c.up, c.left, c.value);
        EXPECT_DOUBLE_EQ(cost, c.cost) << c.diagonal << " " << c.up << " " << c.left;
        EXPECT_EQ(code, c.code) << c.diagonal << " " << c.up << " " << c.left;
    }
}

TEST(WordTimestamps, WarpingPathVisitsEveryTokenAndPrefersTheLeftStep) {
    // Worked by hand: the ties at (token 1, frame 1) and (token 2, frame 3) go left, so each token
    // is entered one frame before its own block.
    const auto path = seeker.dynamicTimeWarping(matrix({{1, 0, 0, 0}, {0, 1, 1, 0}, {0, 0, 0, 1}}));
    EXPECT_THAT(path.textIndices, ElementsAre(0, 1, 1, 1, 2, 2));
    EXPECT_THAT(path.timeIndices, ElementsAre(0, 0, 1, 2, 2, 3));

    const auto flat = seeker.dynamicTimeWarping(matrix({{0, 0}, {0, 0}}));
    EXPECT_THAT(flat.textIndices, ElementsAre(0, 1, 1));
    EXPECT_THAT(flat.timeIndices, ElementsAre(0, 0, 1));

    const auto single = seeker.dynamicTimeWarping(matrix({{0.5f, 0.2f, 0.1f}}));
    EXPECT_THAT(single.textIndices, ElementsAre(0, 0, 0));
    EXPECT_THAT(single.timeIndices, ElementsAre(0, 1, 2));

    for (const auto& shape : std::vector<std::vector<std::int64_t>>{{4}, {1, 2, 3}}) {
        try {
            seeker.dynamicTimeWarping(MLMultiArray(shape, MLMultiArrayDataType::float16));
            ADD_FAILURE() << "no error";
        } catch (const WhisperError& e) {
            EXPECT_EQ(e, WhisperError::segmentingFailed("Invalid alignment matrix shape"));
        }
    }
}

TEST(WordTimestamps, TokensTakeTheirTimesFromThePathsJumps) {
    const int hello = word(" Hello"), world = word(" world");
    const std::vector<float> logProbs = {-0.5f, -0.25f, -0.75f};
    const auto words = seeker.findAlignment({hello, world, EOT}, matrix({{1, 0, 0, 0}, {0, 1, 1, 0}, {0, 0, 0, 1}}),
                                            logProbs, tokenizer(), nullptr);
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], (WordTiming{" Hello", {hello}, 0.0f, 0.0f, std::exp(-0.5f)}));
    EXPECT_EQ(words[1], (WordTiming{" world", {world}, 0.0f, 0.04f, std::exp(-0.25f)}));
    EXPECT_EQ(words[2].word, "<|endoftext|>");
    EXPECT_FLOAT_EQ(words[2].start, 0.04f);
    EXPECT_FLOAT_EQ(words[2].end, 0.06f);

    // A word of several tokens spans them, with the mean log probability.
    const int comma = word(",");
    const auto joined = seeker.findAlignment({hello, comma, world}, blocks(3, 10, {0, 4, 7}), {-1.0f, -0.5f, -0.2f},
                                             tokenizer(), nullptr);
    ASSERT_EQ(joined.size(), 3u);  // "," stands alone as a word of the split.
    EXPECT_FLOAT_EQ(joined[1].start, 0.06f);
    EXPECT_FLOAT_EQ(joined[2].start, 0.12f);
    EXPECT_FLOAT_EQ(joined[2].end, 0.18f);

    const auto together = tokenizer().encode("there");
    ASSERT_EQ(together.size(), 1u);
    const auto twoTokens = seeker.findAlignment({hello, together[0], world}, blocks(3, 10, {0, 4, 7}),
                                                {-1.0f, -0.5f, -0.2f}, tokenizer(), nullptr);
    ASSERT_EQ(twoTokens.size(), 2u);
    EXPECT_EQ(twoTokens[0].tokens, (std::vector<std::int64_t>{hello, together[0]}));
    EXPECT_FLOAT_EQ(twoTokens[0].start, 0.0f);
    EXPECT_FLOAT_EQ(twoTokens[0].end, 0.12f);
    EXPECT_FLOAT_EQ(twoTokens[0].probability, std::exp(-0.75f));

    // One word is no alignment.
    EXPECT_TRUE(seeker.findAlignment({hello}, matrix({{1, 0}}), {-0.1f}, tokenizer(), nullptr).empty());
}

TEST(WordTimestamps, DurationRulesTakeTheUpperMedianCappedAt0_7) {
    struct Case {
        std::vector<float> durations;
        float median;
    };
    for (const auto& c : {Case{{0.2f, 0.4f, 0.0f, 0.6f}, 0.4f}, Case{{1.0f, 2.0f}, 0.7f}, Case{{0, 0}, 0.0f},
                          Case{{}, 0.0f}, Case{{0.3f, -0.2f, 0.1f}, 0.3f}, Case{{0.5f}, 0.5f}}) {
        std::vector<WordTiming> words;
        float start = 1.0f;
        for (float d : c.durations) {
            words.push_back(timed("w", start, start + d));
            start += 1.0f;
        }
        const auto constraints = seeker.calculateWordDurationConstraints(words);
        EXPECT_FLOAT_EQ(constraints.median, c.median) << c.durations.size();
        EXPECT_FLOAT_EQ(constraints.max, 2 * c.median) << c.durations.size();
    }
}

TEST(WordTimestamps, LongWordsAreCutOnlyAtSentenceMarks) {
    auto cut = seeker.truncateLongWordsAtSentenceBoundaries({timed("Hello", 0, 0.5f), timed(".", 0.5f, 2.5f)}, 1.4f);
    EXPECT_FLOAT_EQ(cut[1].start, 0.5f);
    EXPECT_FLOAT_EQ(cut[1].end, 1.9f);
    cut = seeker.truncateLongWordsAtSentenceBoundaries({timed("\uFF1F", 0, 0.5f), timed("Next", 1.0f, 3.0f)}, 1.4f);
    EXPECT_FLOAT_EQ(cut[1].start, 1.6f);
    EXPECT_FLOAT_EQ(cut[1].end, 3.0f);
    // The first word, words after other words, and marks within the bound stay.
    const std::vector<WordTiming> kept = {timed("long", 0, 3), timed(",", 3, 6), timed("x", 6, 9), timed("!", 9, 10)};
    EXPECT_EQ(seeker.truncateLongWordsAtSentenceBoundaries(kept, 1.4f), kept);
    EXPECT_EQ(seeker.truncateLongWordsAtSentenceBoundaries({timed(".", 0, 9)}, 1.4f), (std::vector{timed(".", 0, 9)}));
    cut = seeker.truncateLongWordsAtSentenceBoundaries({timed(".", 0, 3), timed("next", 3, 6)}, 1.4f);
    EXPECT_EQ(cut[0], timed(".", 0, 3));
    EXPECT_FLOAT_EQ(cut[1].start, 4.6f);
}

TEST(WordTimestamps, PunctuationJoinsItsNeighbour) {
    const auto& prepend = Constants::defaultPrependPunctuations;
    const auto& append = Constants::defaultAppendPunctuations;
    auto merge = [&](const std::vector<WordTiming>& words) { return seeker.mergePunctuations(words, prepend, append); };

    auto out = merge({timed("say", 0, 1, {1}), timed(" (", 1, 2, {2}), timed("word", 2, 3, {3}, 0.5f)});
    ASSERT_THAT(texts(out), ElementsAre("say", " (word"));
    EXPECT_EQ(out[1], timed(" (word", 2, 3, {2, 3}, 0.5f));  // The word's times.

    EXPECT_THAT(texts(merge({timed("say", 0, 1), timed("(", 1, 2), timed("word", 2, 3)})), ElementsAre("say", "word"));
    EXPECT_THAT(texts(merge({timed("(", 0, 1), timed("word", 1, 2)})), ElementsAre("word"));
    EXPECT_THAT(texts(merge({timed(" \u201C", 0, 1), timed("word", 1, 2)})), ElementsAre(" \u201Cword"));

    out = merge({timed("Hello", 0, 1, {1}, 0.4f), timed(",", 1, 2, {2})});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], timed("Hello,", 0, 1, {1, 2}, 0.4f));  // The word's times again.
    EXPECT_THAT(texts(merge({timed("Hello ", 0, 1), timed(",", 1, 2)})), ElementsAre("Hello "));
    EXPECT_TRUE(merge({}).empty());
    EXPECT_TRUE(merge({timed(",", 0, 1)}).empty());

    // Runs of marks join whole: no word is lost to the second merge.
    out = merge({timed(" Hello", 0, 1, {1}), timed(".", 1, 2, {2}), timed("\"", 2, 3, {3}), timed(" Next", 3, 4, {4})});
    ASSERT_THAT(texts(out), ElementsAre(" Hello.\"", " Next"));
    EXPECT_EQ(out[0], timed(" Hello.\"", 0, 1, {1, 2, 3}));
    out = merge({timed("a", 0, 1, {1}), timed(" (", 1, 2, {2}), timed(" \"", 2, 3, {3}), timed("b", 3, 4, {4})});
    ASSERT_THAT(texts(out), ElementsAre("a", " ( \"b"));
    EXPECT_EQ(out[1], timed(" ( \"b", 3, 4, {2, 3, 4}));
}

TEST(WordTimestamps, SegmentsTakeTheirWordsShiftedAndRounded) {
    const int hello = word(" Hello"), world = word(" world"), big = word(" big");
    // A window at 30 s: every word moves by 30.00 s and is rounded to 0.01 s.
    const std::vector<TranscriptionSegment> segments = {segmentOf({T, hello, T + 50}, 30.0f, 31.0f, 480000),
                                                        segmentOf({T + 50, big, world, T + 100}, 31.0f, 32.0f, 480000)};
    const std::vector<WordTiming> words = {timed("<|0.00|>", 0, 0.1f, {T}),
                                           timed(" Hello", 0.1234f, 0.7f, {hello}, 0.876f),
                                           timed(" big", 1.2f, 1.5f, {big}), timed(" world", 1.5f, 1.96f, {world})};
    const auto out = seeker.updateSegmentsWithWordTimings(segments, words, 480000, 30.0f, 0.4f, 0.8f, tokenizer());
    ASSERT_EQ(out.size(), 2u);
    ASSERT_TRUE(out[0].words && out[1].words);
    ASSERT_EQ(out[0].words->size(), 1u);
    EXPECT_EQ(out[0].words->at(0), (WordTiming{" Hello", {hello}, 30.12f, 30.7f, 0.88f}));
    EXPECT_FLOAT_EQ(out[0].start, 30.12f);
    EXPECT_FLOAT_EQ(out[0].end, 30.7f);
    ASSERT_EQ(out[1].words->size(), 2u);
    EXPECT_FLOAT_EQ(out[1].start, 31.2f);
    EXPECT_FLOAT_EQ(out[1].end, 31.96f);
    EXPECT_EQ(out[1].tokens, segments[1].tokens);

    // A word far from its segment's bounds moves toward them instead.
    const auto far = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello, world}, 5.0f, 6.0f)},
        {timed(" Hello", 3.0f, 5.5f, {hello}), timed(" world", 5.6f, 7.0f, {world})}, 0, 4.9f, 0.4f, 3.0f, tokenizer());
    EXPECT_FLOAT_EQ(far[0].words->front().start, 5.0f);  // max(0, min(5.0, 5.5 - 0.4))
    EXPECT_FLOAT_EQ(far[0].words->back().end, 6.0f);     // max(6.0, 5.6 + 0.4)
    EXPECT_FLOAT_EQ(far[0].start, 5.0f);
    EXPECT_FLOAT_EQ(far[0].end, 6.0f);
}

TEST(WordTimestamps, NoWordStartsBeforeTheWordBeforeItEnded) {
    const int hello = word(" Hello"), world = word(" world"), big = word(" big");
    // " Hello" keeps its end 0.6 s past its segment's, and the short " world" after it would reach
    // back into the pause that only the segments' bounds show: it stays where " Hello" ends.
    auto out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello}, 0.0f, 1.0f), segmentOf({world}, 1.6f, 3.0f)},
        {timed(" Hello", 0.9f, 1.6f, {hello}), timed(" world", 1.6f, 1.65f, {world})}, 0, 0.0f, 0.7f, 1.4f,
        tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->front().end, 1.6f);
    EXPECT_FLOAT_EQ(out[1].words->front().start, 1.6f);
    EXPECT_FLOAT_EQ(out[1].start, 1.6f);

    // A first word starting well before its segment moves to the median length before its end, but
    // not back into the word before it.
    out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello}, 0.0f, 1.0f), segmentOf({big, world}, 1.55f, 3.0f)},
        {timed(" Hello", 0.2f, 1.0f, {hello}), timed(" big", 1.0f, 1.6f, {big}), timed(" world", 1.6f, 2.5f, {world})},
        0, 0.0f, 0.7f, 1.4f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->back().end, 1.0f);
    EXPECT_FLOAT_EQ(out[1].words->front().start, 1.0f);
}

TEST(WordTimestamps, ASegmentSpansItsWords) {
    const int hello = word(" Hello");
    // A last word running 0.8 s past its segment is cut back to the median length after its start,
    // 0.1 s past the segment: the segment ends with it.
    auto out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello}, 0.0f, 1.0f)}, {timed(" Hello", 0.6f, 1.8f, {hello})}, 0, 0.0f, 0.5f, 1.0f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->back().end, 1.1f);
    EXPECT_FLOAT_EQ(out[0].end, 1.1f);
    // A first word starting a second before its segment is moved to the median length before its
    // end, still before the segment's start: the segment starts with it.
    out = seeker.updateSegmentsWithWordTimings({segmentOf({hello}, 2.0f, 3.0f)}, {timed(" Hello", 1.0f, 2.2f, {hello})},
                                               0, 1.0f, 0.5f, 1.0f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->front().start, 1.7f);
    EXPECT_FLOAT_EQ(out[0].start, 1.7f);
    // A segment without words (only timestamps) starts no earlier than the word before it ended.
    out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({T, hello, T + 50}, 0.0f, 1.0f), segmentOf({T + 50, T + 60}, 1.0f, 1.2f)},
        {timed(" Hello", 0.6f, 1.4f, {hello})}, 0, 0.0f, 0.5f, 1.0f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].end, 1.4f);
    EXPECT_EQ(out[1].words, std::vector<WordTiming>{});
    EXPECT_FLOAT_EQ(out[1].start, 1.4f);
    EXPECT_FLOAT_EQ(out[1].end, 1.4f);
}

TEST(WordTimestamps, ShortAndLongFirstWordsAfterAPause) {
    const int hello = word(" Hello"), world = word(" world");
    // A lone first word ending 5 s after the last speech and lasting 2 s starts at most M before its end.
    auto out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello}, 3.0f, 7.0f)}, {timed(" Hello", 5.0f, 7.0f, {hello})}, 0, 2.0f, 0.5f, 1.0f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->front().start, 6.0f);
    EXPECT_FLOAT_EQ(out[0].start, 6.0f);
    // With a long second word the boundary between them moves too.
    out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello, world}, 0.0f, 9.0f)},
        {timed(" Hello", 5.0f, 7.0f, {hello}), timed(" world", 7.0f, 9.0f, {world})}, 0, 2.0f, 0.5f, 1.0f, tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->at(0).end, 8.0f);  // max(9 x 0.5, 9 - 1)
    EXPECT_FLOAT_EQ(out[0].words->at(1).start, 8.0f);
    EXPECT_FLOAT_EQ(out[0].words->at(0).start, 7.0f);
    // A very short word reaches back into the pause before it, by half the median at most.
    out = seeker.updateSegmentsWithWordTimings(
        {segmentOf({hello, world}, 0.0f, 9.0f)},
        {timed(" Hello", 1.0f, 2.0f, {hello}), timed(" world", 4.0f, 4.05f, {world})}, 0, 0.0f, 0.4f, 0.8f,
        tokenizer());
    EXPECT_FLOAT_EQ(out[0].words->at(1).start, 3.8f);
    EXPECT_FLOAT_EQ(out[0].words->at(1).end, 4.05f);
}

TEST(WordTimestamps, WholeWindowFromDecodedTokensAndWeights) {
    const int hello = word(" Hello"), comma = word(","), big = word(" big"), world = word(" world"), stop = word(".");
    // Closed at 1.60 s: the words may lie in all 100 frames of the weights.
    const std::vector<int> tokens = {SOT, EN, TRANSCRIBE, T, hello, comma, big, world, stop, T + 80, EOT};
    DecodingResult decoded;
    decoded.tokens = tokens;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        decoded.tokenLogProbs.push_back({{tokens[i], -0.1f * static_cast<float>(i + 1)}});
    // Rows past the tokens stay zero, as in the decoder's [224, 1500] tensor.
    const auto weights = blocks(16, 100, {0, 1, 2, 3, 5, 30, 35, 50, 70, 72, 99});

    for (const std::int64_t seek : {std::int64_t{0}, std::int64_t{480000}}) {
        const float offset = static_cast<float>(seek) / 16000.0f;
        const auto cut = seeker.findSeekPointAndSegments(decoded, {}, 0, seek, 480000, 16000, T, EOT, tokenizer());
        ASSERT_EQ(cut.segments->size(), 1u);
        const auto out = seeker.addWordTimestamps(*cut.segments, weights, tokenizer(), seek, 480000,
                                                  Constants::defaultPrependPunctuations,
                                                  Constants::defaultAppendPunctuations, offset + 0.5f, {}, {});
        ASSERT_TRUE(out.has_value());
        ASSERT_EQ(out->size(), 1u);
        const auto& s = out->front();
        ASSERT_TRUE(s.words.has_value());
        ASSERT_THAT(texts(*s.words), ElementsAre(" Hello,", " big", " world."));
        // Each token is entered one frame before its block; marks take their word's times.
        EXPECT_FLOAT_EQ(s.words->at(0).start, offset + 0.08f);
        EXPECT_FLOAT_EQ(s.words->at(0).end, offset + 0.58f);
        EXPECT_FLOAT_EQ(s.words->at(0).probability, 0.61f);  // The word's own e^(-0.5), rounded.
        EXPECT_EQ(s.words->at(0).tokens, (std::vector<std::int64_t>{hello, comma}));
        EXPECT_FLOAT_EQ(s.words->at(1).start, offset + 0.68f);
        EXPECT_FLOAT_EQ(s.words->at(1).end, offset + 0.98f);
        EXPECT_FLOAT_EQ(s.words->at(2).start, offset + 0.98f);
        EXPECT_FLOAT_EQ(s.words->at(2).end, offset + 1.38f);
        EXPECT_FLOAT_EQ(s.start, offset + 0.08f);
        EXPECT_FLOAT_EQ(s.end, offset + 1.38f);
    }

    // Right after the window's start, the long first word is cut to twice the median (0.1 s here).
    const auto cut = seeker.findSeekPointAndSegments(decoded, {}, 0, 0, 480000, 16000, T, EOT, tokenizer());
    const auto out =
        seeker.addWordTimestamps(*cut.segments, weights, tokenizer(), 0, 480000, Constants::defaultPrependPunctuations,
                                 Constants::defaultAppendPunctuations, 0.0f, {}, {});
    const auto& words = *out->front().words;
    EXPECT_FLOAT_EQ(words[0].start, 0.58f);
    EXPECT_FLOAT_EQ(words[0].end, 0.78f);
    EXPECT_FLOAT_EQ(words[1].start, 0.78f);
    EXPECT_FLOAT_EQ(out->front().start, 0.58f);
}

TEST(WordTimestamps, WordsLieWhereTheWindowsTokensPutTheSpeech) {
    // Two words closed at 1.00 s in a window that starts at 10 s, the model's attention pointing 24 s
    // into the window, at the silence it heard nothing in: the words lie before the closing
    // timestamp (or at most the half second a last word may run past it), not 24 s on, where they
    // would take the next window past the speech in between.
    const int hello = word(" Hello"), world = word(" world");
    const auto weights = blocks(10, 1500, {0, 1, 2, 3, 1200, 1250, 1300, 1350});
    auto timedWords = [&](const std::vector<int>& tokens, std::int64_t segmentSize) {
        DecodingResult decoded;
        decoded.tokens = tokens;
        for (int token : tokens) decoded.tokenLogProbs.push_back({{token, -0.1f}});
        const auto cut =
            seeker.findSeekPointAndSegments(decoded, {}, 0, 160000, segmentSize, 16000, T, EOT, tokenizer());
        const auto out = seeker.addWordTimestamps(*cut.segments, weights, tokenizer(), 160000, segmentSize,
                                                  Constants::defaultPrependPunctuations,
                                                  Constants::defaultAppendPunctuations, 10.0f, {}, {});
        EXPECT_EQ(out->size(), 1u);
        return out->front();
    };
    const auto closed = timedWords({SOT, EN, TRANSCRIBE, T, hello, world, T + 50, EOT}, 480000);
    ASSERT_THAT(texts(*closed.words), ElementsAre(" Hello", " world"));
    for (const auto& w : *closed.words) {
        EXPECT_GE(w.start, 10.0f) << w.word;
        EXPECT_LE(w.end, 11.5f) << w.word;
    }
    EXPECT_LE(closed.end, 11.5f);

    // Text that runs on to the end of a window of 2 s of audio lies in that audio, not in the
    // silence the window is padded with.
    const auto open = timedWords({SOT, EN, TRANSCRIBE, T, hello, world, EOT}, 32000);
    ASSERT_THAT(texts(*open.words), ElementsAre(" Hello", " world"));
    for (const auto& w : *open.words) EXPECT_LE(w.end, 12.0f) << w.word;
    EXPECT_LE(open.end, 12.0f);
}

TEST(WordTimestamps, WindowsWithoutTokensKeepTheirSegments) {
    const auto weights = blocks(8, 20, {0, 5});
    const auto none = seeker.addWordTimestamps({}, weights, tokenizer(), 0, 480000, "", "", 0.0f, {}, {});
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());

    const auto empty = segmentOf({}, 2.0f, 32.0f, 32000);
    const auto kept = seeker.addWordTimestamps({empty}, weights, tokenizer(), 32000, 480000, "", "", 2.0f, {}, {});
    ASSERT_EQ(kept->size(), 1u);
    EXPECT_FLOAT_EQ(kept->front().start, 2.0f);
    EXPECT_FLOAT_EQ(kept->front().end, 32.0f);
    EXPECT_EQ(kept->front().words, std::vector<WordTiming>{});

    // Weights without frames time no word either; a single word is no alignment.
    const int hello = word(" Hello");
    const auto single = segmentOf({hello}, 1.0f, 2.0f);
    for (const auto& w : {MLMultiArray({8, 0}, MLMultiArrayDataType::float16), weights}) {
        const auto out = seeker.addWordTimestamps({single}, w, tokenizer(), 0, 480000, "", "", 0.0f, {}, {});
        EXPECT_EQ(out->front().words, std::vector<WordTiming>{});
        EXPECT_FLOAT_EQ(out->front().start, 1.0f);
    }

    try {
        seeker.addWordTimestamps({single}, MLMultiArray(), tokenizer(), 0, 480000, "", "", 0.0f, {}, {});
        ADD_FAILURE() << "no error";
    } catch (const WhisperError& e) {
        EXPECT_EQ(e, WhisperError::segmentingFailed("Invalid shape in alignmentWeights"));
    }
}
