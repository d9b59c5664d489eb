#include "Support/FileSizeLimit.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Writers/WriteJSON.hpp"
#include "Tremolan/Core/Writers/WriteSRT.hpp"
#include "Tremolan/Core/Writers/WriteVTT.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <memory>

using namespace tremolan;
using velmora::test::readFile;
using velmora::test::TempDir;

namespace {

TranscriptionSegment segment(float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
    TranscriptionSegment s;
    s.start = start;
    s.end = end;
    s.text = std::move(text);
    s.words = std::move(words);
    return s;
}

WordTiming word(std::string text, float start, float end) {
    return WordTiming{std::move(text), {1}, start, end, 1};
}

TranscriptionResult result(std::vector<TranscriptionSegment> segments) {
    return TranscriptionResult("", std::move(segments), "en", TranscriptionTimings{});
}

}  // namespace

TEST(ResultWriting, TimesAreCutNotRoundedInSinglePrecision) {
    WriteSRT writer("/tmp");
    EXPECT_EQ(writer.formatTime(3661.5f, false, ","), "01:01:01,500");
    EXPECT_EQ(writer.formatTime(3661.5f, false, "."), "01:01:01.500");
    EXPECT_EQ(writer.formatTime(1.5f, false, "."), "00:01.500");
    EXPECT_EQ(writer.formatTime(2.3f, true, ","), "00:00:02,299");
    EXPECT_EQ(writer.formatTime(61.07f, false, "."), "01:01.069");
    EXPECT_EQ(writer.formatTime(59.999f, true, ","), "00:00:59,999");
    EXPECT_EQ(writer.formatTime(59.999f, false, "."), "00:59.999");
    EXPECT_EQ(writer.formatTime(0.0f, true, ","), "00:00:00,000");
    EXPECT_EQ(writer.formatTime(360000.25f, false, "."), "100:00:00.250");
    EXPECT_THROW(writer.formatTime(std::numeric_limits<float>::infinity(), true, ","), std::invalid_argument);
    EXPECT_THROW(writer.formatTime(std::numeric_limits<float>::quiet_NaN(), true, ","), std::invalid_argument);
}

TEST(ResultWriting, SubRipAndWebVttFilesHoldTheExactCues) {
    TempDir dir;
    auto one = result({segment(0.0f, 2.5f, " T")});

    auto srt = WriteSRT(dir.path().string()).write(one, "out");
    ASSERT_TRUE(srt.succeeded()) << srt.errorMessage();
    EXPECT_EQ(srt.fileURL(), "file://" + (dir.path() / "out.srt").string());
    EXPECT_EQ(readFile(dir / "out.srt"), "1\n00:00:00,000 --> 00:00:02,500\n T\n\n");

    auto vtt = WriteVTT(dir.path().string()).write(one, "out");
    ASSERT_TRUE(vtt.succeeded()) << vtt.errorMessage();
    EXPECT_EQ(readFile(dir / "out.vtt"), "WEBVTT\n\n00:00.000 --> 00:02.500\n T\n\n");

    auto words =
        result({segment(0, 1, "a", std::vector<WordTiming>{}),
                segment(1, 4000, "ignored", std::vector{word(" b", 1, 2), word(" c", 2, 3), word(" d", 3, 3700)}),
                segment(3700, 3701, " e")});
    ASSERT_TRUE(WriteSRT(dir.path().string()).write(words, "words").succeeded());
    EXPECT_EQ(readFile(dir / "words.srt"),
              "1\n00:00:00,000 --> 00:00:01,000\na\n\n"
              "2\n00:00:01,000 --> 00:00:02,000\n b\n\n"
              "3\n00:00:02,000 --> 00:00:03,000\n c\n\n"
              "4\n00:00:03,000 --> 01:01:40,000\n d\n\n"
              "5\n01:01:40,000 --> 01:01:41,000\n e\n\n");
    ASSERT_TRUE(WriteVTT(dir.path().string()).write(words, "words").succeeded());
    EXPECT_EQ(readFile(dir / "words.vtt"),
              "WEBVTT\n\n00:00.000 --> 00:01.000\na\n\n00:01.000 --> 00:02.000\n b\n\n"
              "00:02.000 --> 00:03.000\n c\n\n00:03.000 --> 01:01:40.000\n d\n\n01:01:40.000 --> 01:01:41.000\n e\n\n");
}

TEST(ResultWriting, EmptyResultsAndCuesWithoutTimes) {
    TempDir dir;
    ASSERT_TRUE(WriteSRT(dir.path().string()).write(result({}), "empty").succeeded());
    EXPECT_EQ(readFile(dir / "empty.srt"), "");
    ASSERT_TRUE(WriteVTT(dir.path().string()).write(result({}), "empty").succeeded());
    EXPECT_EQ(readFile(dir / "empty.vtt"), "WEBVTT\n\n");

    // A cue whose time has no text is skipped and the numbering stays contiguous.
    const float inf = std::numeric_limits<float>::infinity();
    auto odd = result({segment(0, 1, "a"), segment(1, inf, "lost"), segment(2, 3, "c")});
    ASSERT_TRUE(WriteSRT(dir.path().string()).write(odd, "odd").succeeded());
    EXPECT_EQ(readFile(dir / "odd.srt"),
              "1\n00:00:00,000 --> 00:00:01,000\na\n\n2\n00:00:02,000 --> 00:00:03,000\nc\n\n");
}

TEST(ResultWriting, JsonWriterWritesThePrettyResultAndRefusesUnencodableNumbers) {
    TempDir dir;
    auto one = result({segment(0.0f, 2.5f, " T")});
    auto written = WriteJSON(dir.path().string()).write(one, "result");
    ASSERT_TRUE(written.succeeded()) << written.errorMessage();
    const std::string text = readFile(dir / "result.json");
    EXPECT_THAT(text, ::testing::StartsWith("{\n  \"text\": \"\",\n  \"segments\": [\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("\"seekTime\": null"));
    EXPECT_EQ(TranscriptionResult::decode(json::parse(text))->segments(), one.segments());

    auto bad = segment(0, 1, "x");
    bad.avgLogprob = -std::numeric_limits<float>::infinity();
    auto failed = WriteJSON(dir.path().string()).write(result({bad}), "bad");
    EXPECT_FALSE(failed.succeeded());
    EXPECT_THAT(failed.errorMessage(), ::testing::HasSubstr("Float.inf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.json"));
}

TEST(ResultWriting, WritesIntoAMissingFolderFailAndLeaveNothing) {
    TempDir dir;
    const std::string missing = (dir.path() / "missing").string();
    auto one = result({segment(0, 1, "a")});
    std::vector<std::unique_ptr<ResultWriting>> writers;
    writers.push_back(std::make_unique<WriteJSON>(missing));
    writers.push_back(std::make_unique<WriteSRT>(missing));
    writers.push_back(std::make_unique<WriteVTT>(missing));
    for (const auto& writer : writers) {
        auto outcome = writer->write(one, "x");
        EXPECT_FALSE(outcome.succeeded());
        // The message names the file asked for and its missing folder, not a temporary file.
        EXPECT_THAT(outcome.errorMessage(), ::testing::StartsWith("Cannot write " + missing + "/x."));
        EXPECT_THAT(outcome.errorMessage(), ::testing::HasSubstr(": the folder " + missing + " does not exist"));
        EXPECT_THAT(outcome.errorMessage(), ::testing::Not(::testing::HasSubstr("temporary")));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

TEST(ResultWriting, AFailedWriteLeavesTheEarlierFileAsItWas) {
    TempDir dir;
    std::vector<std::unique_ptr<ResultWriting>> writers;
    writers.push_back(std::make_unique<WriteJSON>(dir.path().string()));
    writers.push_back(std::make_unique<WriteSRT>(dir.path().string()));
    writers.push_back(std::make_unique<WriteVTT>(dir.path().string()));
    const auto longer = result({segment(0, 1, std::string(4000, 'b'))});
    for (const auto& writer : writers) {
        const auto earlier = writer->write(result({segment(0, 1, "a")}), "x");
        ASSERT_TRUE(earlier.succeeded()) << earlier.errorMessage();
        std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(dir.path()), {});
        ASSERT_EQ(files.size(), 1u);
        const std::string before = readFile(files.front());
        WriteResult outcome = WriteResult::success("");
        {
            // A write that fails part way, as on a full disk.
            const velmora::test::FileSizeLimit limit(1024);
            outcome = writer->write(longer, "x");
        }
        EXPECT_FALSE(outcome.succeeded()) << files.front();
        EXPECT_THAT(outcome.errorMessage(), ::testing::HasSubstr(files.front().string() + ": File too large"));
        EXPECT_EQ(readFile(files.front()), before);
        EXPECT_EQ(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(dir.path()), {}), files);
        std::filesystem::remove(files.front());
    }
}

TEST(ResultWriting, FileUrlsArePercentEncodedAndReplaceOldFiles) {
    TempDir dir;
    std::filesystem::create_directories(dir / "my notes");
    velmora::test::writeFile(dir / "my notes" / "a b.srt", "old contents that are longer than the new ones");
    auto outcome = WriteSRT((dir / "my notes").string()).write(result({segment(0, 1, "a")}), "a b");
    ASSERT_TRUE(outcome.succeeded());
    EXPECT_EQ(outcome.fileURL(), "file://" + dir.path().string() + "/my%20notes/a%20b.srt");
    EXPECT_EQ(readFile(dir / "my notes" / "a b.srt"), "1\n00:00:00,000 --> 00:00:01,000\na\n\n");
    // The temporary file of the atomic write is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "my notes"), {}), 1);
}

TEST(ResultWriting, AFolderThroughALinkAndDotDotIsWhereTheKernelTakesIt) {
    namespace fs = std::filesystem;
    // lnk leads two folders down: lnk/.. is far, not the folder that holds lnk.
    TempDir dir;
    fs::create_directories(dir / "far/deep");
    fs::create_symlink("far/deep", dir / "lnk");
    const fs::path far = fs::canonical(dir / "far");
    const std::string through = (dir / "lnk/..").string();
    struct Writer {
        std::unique_ptr<ResultWriting> writer;
        std::string extension;
    };
    std::vector<Writer> writers;
    writers.push_back({std::make_unique<WriteJSON>(through), ".json"});
    writers.push_back({std::make_unique<WriteSRT>(through), ".srt"});
    writers.push_back({std::make_unique<WriteVTT>(through), ".vtt"});
    for (const auto& [writer, extension] : writers) {
        velmora::test::writeFile(dir / ("x" + extension), "mine");
        const auto outcome = writer->write(result({segment(0, 1, "a")}), "x");
        ASSERT_TRUE(outcome.succeeded()) << outcome.errorMessage();
        // The URL names the file written, with no ".." that a reader of the URL would take away.
        EXPECT_EQ(outcome.fileURL(), "file://" + (far / ("x" + extension)).string());
        EXPECT_NE(readFile(far / ("x" + extension)), "");
        EXPECT_EQ(readFile(dir / ("x" + extension)), "mine");
    }
    // Without "..", the URL keeps the folder as it was given, the link in it.
    const auto linked = WriteSRT((dir / "lnk").string()).write(result({segment(0, 1, "a")}), "y");
    ASSERT_TRUE(linked.succeeded()) << linked.errorMessage();
    EXPECT_EQ(linked.fileURL(), "file://" + (dir / "lnk/y.srt").string());
    EXPECT_TRUE(fs::exists(dir / "far/deep/y.srt"));
}
