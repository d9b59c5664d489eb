// Moving, formatting, comparing and merging finished results.

#include "Support/CommaDecimalLocale.hpp"
#include "Tremolan/Core/Records/TranscriptionUtilities.hpp"

#include <gtest/gtest.h>

namespace {

using tremolan::TranscriptionResult;
using tremolan::TranscriptionSegment;
using tremolan::TranscriptionTimings;
using tremolan::TranscriptionUtilities;
using tremolan::WordTiming;

WordTiming word(std::string text, float start = 0, float end = 0) {
    return WordTiming{std::move(text), {1, 2}, start, end, 0.5f};
}

std::vector<std::string> words(const std::vector<WordTiming>& list) {
    std::vector<std::string> out;
    for (const auto& w : list) out.push_back(w.word);
    return out;
}

TranscriptionSegment segment(std::int64_t id, float start, float end, std::string text) {
    TranscriptionSegment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.text = std::move(text);
    return s;
}

std::shared_ptr<TranscriptionResult> result(std::string text, std::vector<TranscriptionSegment> segments,
                                            std::string language, TranscriptionTimings timings = {}) {
    return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments), std::move(language), timings,
                                                 1.5f);
}

TEST(TranscriptionUtilities, MovingASegmentShiftsSeekTimesAndWords) {
    TranscriptionSegment s = segment(4, 1.0f, 2.0f, " hi");
    s.words = std::vector<WordTiming>{word(" hi", 1.0f, 1.5f)};
    const auto moved = TranscriptionUtilities::updateSegmentTimings(s, 30.0f);
    EXPECT_EQ(moved.seek, 480000);
    EXPECT_FLOAT_EQ(moved.start, 31.0f);
    EXPECT_FLOAT_EQ(moved.end, 32.0f);
    EXPECT_FLOAT_EQ(moved.words->at(0).start, 31.0f);
    EXPECT_FLOAT_EQ(moved.words->at(0).end, 31.5f);
    EXPECT_EQ(moved.id, 4);
    EXPECT_EQ(moved.text, " hi");
    EXPECT_FLOAT_EQ(s.start, 1.0f);

    const auto bare = TranscriptionUtilities::updateSegmentTimings(segment(0, 0, 1, "x"), 0.5f);
    EXPECT_FALSE(bare.words);
    EXPECT_EQ(bare.seek, 8000);
}

TEST(TranscriptionUtilities, SegmentLinesCarryTwoDecimalTimesUnderAnyLocale) {
    velmora::test::CommaDecimalLocale comma;
    const std::vector<TranscriptionSegment> segments{segment(0, 0, 2.5f, " Hello"),
                                                     segment(1, 2.5f, 59.999f, " there")};
    EXPECT_EQ(TranscriptionUtilities::formatSegments(segments, true),
              (std::vector<std::string>{"[0.00 --> 2.50]  Hello", "[2.50 --> 60.00]  there"}));
    EXPECT_EQ(TranscriptionUtilities::formatSegments(segments, false), (std::vector<std::string>{" Hello", " there"}));
    EXPECT_TRUE(TranscriptionUtilities::formatSegments({}, true).empty());
}

TEST(TranscriptionUtilities, WordsAgreeOnceNormalisedAndTheAnswerComesFromTheSecondList) {
    const std::vector<WordTiming> first{word("Hello,"), word("world"), word("again")};
    const std::vector<WordTiming> second{word(" hello", 5, 6), word("World!"), word("now")};
    const auto prefix = TranscriptionUtilities::findLongestCommonPrefix(first, second);
    EXPECT_EQ(words(prefix), (std::vector<std::string>{" hello", "World!"}));
    EXPECT_FLOAT_EQ(prefix[0].start, 5);
    EXPECT_EQ(words(TranscriptionUtilities::findLongestDifferentSuffix(first, second)),
              std::vector<std::string>{"now"});

    EXPECT_EQ(TranscriptionUtilities::normalizedWord("Well-known"),
              TranscriptionUtilities::normalizedWord("well known"));
    EXPECT_EQ(TranscriptionUtilities::normalizedWord(" Don\u2019t "), "dont");
    EXPECT_EQ(TranscriptionUtilities::normalizedWord("ПРИВЕТ, "), "привет");
    EXPECT_EQ(TranscriptionUtilities::normalizedWord("a  --  b"), "a b");
    EXPECT_TRUE(TranscriptionUtilities::findLongestCommonPrefix({}, second).empty());
    EXPECT_EQ(TranscriptionUtilities::findLongestDifferentSuffix({}, second).size(), 3u);
    EXPECT_TRUE(TranscriptionUtilities::findLongestDifferentSuffix(second, second).empty());
}

TEST(TranscriptionUtilities, MergingJoinsTextsRenumbersSegmentsAndTakesTheFirstLanguage) {
    const auto a = result("A", {segment(7, 0, 1, "a0"), segment(8, 1, 2, "a1"), segment(9, 2, 3, "a2")}, "ru");
    const auto b = result("B", {segment(0, 0, 1, "b0"), segment(1, 1, 2, "b1")}, "en");
    const auto merged = TranscriptionUtilities::mergeTranscriptionResults({a, nullptr, b});
    EXPECT_EQ(merged->text(), "A  B");
    EXPECT_EQ(merged->language(), "ru");
    EXPECT_FALSE(merged->seekTime());
    std::vector<std::int64_t> ids;
    for (const auto& s : merged->segments()) ids.push_back(s.id);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{0, 1, 2, 3, 4}));  // one count over all results
    EXPECT_EQ(a->segments()[0].id, 7);

    const auto confirmed =
        TranscriptionUtilities::mergeTranscriptionResults({a, b}, std::vector<WordTiming>{word(" one"), word(" two")});
    EXPECT_EQ(confirmed->text(), " one two");

    const auto empty = TranscriptionUtilities::mergeTranscriptionResults({});
    EXPECT_EQ(empty->text(), "");
    EXPECT_TRUE(empty->segments().empty());
    EXPECT_EQ(empty->language(), "en");
    EXPECT_FALSE(empty->seekTime());
    const TranscriptionTimings zero = empty->timings();
    EXPECT_EQ(zero.pipelineStart, 0);
    EXPECT_EQ(zero.firstTokenTime, 0);
    EXPECT_EQ(zero.inputAudioSeconds, 0);
    EXPECT_EQ(zero.fullPipeline, 0);
}

TEST(TranscriptionUtilities, MergedTimingsCountParallelRunsOnce) {
    TranscriptionTimings first, second;
    first.pipelineStart = 100;
    first.fullPipeline = 10;
    first.firstTokenTime = 101;
    first.inputAudioSeconds = 30;
    first.decodingLoop = 4;
    first.totalDecodingWindows = 1;
    first.encoderLoadTime = 0.5;
    first.encoderSpecializationTime = 2;
    second = first;
    second.pipelineStart = 102;
    second.firstTokenTime = 103;
    second.encoderLoadTime = 0.7;

    auto merged =
        TranscriptionUtilities::mergeTranscriptionResults({result("", {}, "en", first), result("", {}, "en", second)})
            ->timings();
    EXPECT_DOUBLE_EQ(merged.fullPipeline, 12);
    EXPECT_DOUBLE_EQ(merged.pipelineStart, 100);
    EXPECT_DOUBLE_EQ(merged.firstTokenTime, 101);
    EXPECT_DOUBLE_EQ(merged.inputAudioSeconds, 60);
    EXPECT_DOUBLE_EQ(merged.decodingLoop, 8);
    EXPECT_DOUBLE_EQ(merged.totalDecodingWindows, 2);
    EXPECT_DOUBLE_EQ(merged.encoderLoadTime, 0.7);
    EXPECT_DOUBLE_EQ(merged.encoderSpecializationTime, 0);

    second.pipelineStart = 120;
    merged =
        TranscriptionUtilities::mergeTranscriptionResults({result("", {}, "en", first), result("", {}, "en", second)})
            ->timings();
    EXPECT_DOUBLE_EQ(merged.fullPipeline, 20);
}

}  // namespace
