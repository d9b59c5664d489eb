#include "Velmora/Meeting/Meeting.hpp"
#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"

#include "ScopedTimeZone.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace std::chrono;
using Speaker = MeetingLine::Speaker;
using velmora::test::ScopedTimeZone;

namespace {

MeetingLine line(std::int64_t at, Speaker speaker, std::string text) {
    return MeetingLine{korbit::UUID(), at, speaker, std::move(text)};
}

}  // namespace

TEST(Meeting, WordsCountNonEmptyPiecesOfEveryLine) {
    Meeting meeting;
    meeting.lines = {line(0, Speaker::me, "раз  два"), line(5, Speaker::others, "  \n ")};
    EXPECT_EQ(meeting.words(), 2);
    meeting.lines.push_back(line(9, Speaker::others, "три\tчетыре\nпять"));
    EXPECT_EQ(meeting.words(), 5);
    EXPECT_EQ(Meeting().words(), 0);
}

TEST(Meeting, BlocksMergeRunsOfOneSpeakerUnderTheFirstLine) {
    Meeting meeting;
    meeting.lines = {line(3, Speaker::me, "Привет."), line(8, Speaker::me, "Слышно?"), line(12, Speaker::others, "Да."),
                     line(20, Speaker::me, " Хорошо ")};
    const auto blocks = meeting.blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], (Meeting::Block{meeting.lines[0].id, 3, Speaker::me, "Привет. Слышно?"}));
    EXPECT_EQ(blocks[1], (Meeting::Block{meeting.lines[2].id, 12, Speaker::others, "Да."}));
    EXPECT_EQ(blocks[2].text, " Хорошо ");
    EXPECT_TRUE(Meeting().blocks().empty());
}

TEST(Meeting, DatesAreRussianInTheCurrentTimeZone) {
    const auto newYearsEve = sys_days(2024y / December / 31) + 22h + 30min + 59s;
    {
        ScopedTimeZone moscow("Europe/Moscow");
        EXPECT_EQ(Meeting::dateText(newYearsEve), "1 января 2025, 01:30");
        EXPECT_EQ(MeetingStore::defaultTitle(newYearsEve), "Встреча 1 января, 01:30");
        EXPECT_EQ(Meeting::dateText(sys_days(2024y / May / 9) + 7h + 5min), "9 мая 2024, 10:05");
    }
    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(Meeting::dateText(newYearsEve), "31 декабря 2024, 17:30");
    EXPECT_EQ(MeetingStore::defaultTitle(newYearsEve), "Встреча 31 декабря, 17:30");
}

TEST(Meeting, PlainTextHasHeaderThenBlocksWithMinutesPastAnHour) {
    ScopedTimeZone moscow("Europe/Moscow");
    Meeting meeting;
    meeting.title = "Планёрка";
    meeting.startedAt = sys_days(2024y / December / 5) + 6h + 30min;
    meeting.durationSec = 119;
    EXPECT_EQ(meeting.plainText(), "Планёрка\n5 декабря 2024, 09:30 · 1 мин\n\n");
    meeting.durationSec = 3725 + 60;
    meeting.lines = {line(7, Speaker::me, "Начнём."), line(9, Speaker::me, "Все здесь?"),
                     line(3725, Speaker::others, "Да, все.")};
    EXPECT_EQ(meeting.plainText(),
              "Планёрка\n5 декабря 2024, 09:30 · 63 мин\n\n"
              "00:07  Ты:\nНачнём. Все здесь?\n\n"
              "62:05  Собеседники:\nДа, все.");
}

TEST(MeetingFile, WritesSortedKeysWholeSecondsInUtcAndReadsItBack) {
    Meeting meeting;
    meeting.id = *korbit::UUID::fromString("5a0e3b7c-9d41-4e2f-8b6a-1c2d3e4f5a6b");
    meeting.title = "Созвон \"Q4\"";
    meeting.startedAt = sys_days(2026y / December / 6) + 20h + 51min + 41s + 730ms;
    meeting.durationSec = 95;
    meeting.lines = {
        MeetingLine{*korbit::UUID::fromString("00000000-0000-4000-8000-000000000001"), 4, Speaker::me, "Добрый вечер"}};
    const std::string bytes = MeetingFile::encode(meeting);
    EXPECT_EQ(bytes,
              "{\n"
              "  \"durationSec\": 95,\n"
              "  \"id\": \"5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B\",\n"
              "  \"lines\": [\n"
              "    {\n"
              "      \"at\": 4,\n"
              "      \"id\": \"00000000-0000-4000-8000-000000000001\",\n"
              "      \"speaker\": \"me\",\n"
              "      \"text\": \"Добрый вечер\"\n"
              "    }\n"
              "  ],\n"
              "  \"startedAt\": \"2026-12-06T20:51:41Z\",\n"
              "  \"title\": \"Созвон \\\"Q4\\\"\"\n"
              "}");
    const auto back = MeetingFile::decode(bytes);
    ASSERT_TRUE(back);
    meeting.startedAt = sys_days(2026y / December / 6) + 20h + 51min + 41s;  // the fraction is not kept
    EXPECT_EQ(*back, meeting);
    meeting.lines.clear();
    EXPECT_NE(MeetingFile::encode(meeting).find("\"lines\": [],"), std::string::npos);
}

TEST(MeetingFile, ReadsAnyLayoutIgnoringUnknownKeys) {
    const auto meeting = MeetingFile::decode(
        R"({"title":"t","extra":{"x":1},"startedAt":"2024-12-05T09:30:00+03:00","lines":[)"
        R"({"text":"a","speaker":"others","id":"5a0e3b7c-9d41-4e2f-8b6a-1c2d3e4f5a6b","at":61,"mood":"ok"}],)"
        R"("id":"5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B","durationSec":-1})");
    ASSERT_TRUE(meeting);
    EXPECT_EQ(meeting->startedAt, sys_days(2024y / December / 5) + 6h + 30min);
    EXPECT_EQ(meeting->durationSec, 0) << "a negative length is no length";
    ASSERT_EQ(meeting->lines.size(), 1u);
    EXPECT_EQ(meeting->lines[0].speaker, Speaker::others);
    EXPECT_EQ(meeting->lines[0].at, 61);
}

// What a careless hand or a sync tool may leave: negative times would show as "-1:-40", and a start
// in year 1 wrapped round the clock to "30 августа 1754". Both are mended, and said.
TEST(MeetingFile, NegativeTimesAndAStartTheClockCannotHoldAreMended) {
    const std::string bytes =
        R"({"durationSec":-5,"id":"5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B","startedAt":"0001-01-01T00:00:00Z",)"
        R"("title":"t","lines":[{"at":-100,"id":"5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B","speaker":"me","text":"a"},)"
        R"({"at":7,"id":"6A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B","speaker":"others","text":"b"}]})";
    EXPECT_FALSE(MeetingFile::decode(bytes)) << "no start to put in the year 1's place";
    const Date fallback = sys_days(2025y / March / 3) + 10h;
    std::vector<std::string> repairs;
    const auto meeting = MeetingFile::decode(bytes, fallback, &repairs);
    ASSERT_TRUE(meeting);
    EXPECT_EQ(meeting->startedAt, fallback);
    EXPECT_EQ(meeting->durationSec, 0);
    ASSERT_EQ(meeting->lines.size(), 2u);
    EXPECT_EQ(meeting->lines[0].at, 0);
    EXPECT_EQ(meeting->lines[1].at, 7);
    EXPECT_EQ(repairs, (std::vector<std::string>{"начало 0001-01-01T00:00:00Z заменено временем файла",
                                                 "отрицательная длина заменена нулём",
                                                 "отрицательное время реплик заменено нулём"}));
    EXPECT_EQ(Meeting::clockText(meeting->lines[0].at), "00:00");

    // A start the clock holds is kept as written, however early; a malformed one is no start.
    std::string early = bytes;
    early.replace(early.find("0001-01-01"), 10, "1901-02-03");
    EXPECT_EQ(MeetingFile::decode(early, fallback)->startedAt, sys_days(1901y / February / 3));
    std::string malformed = bytes;
    malformed.replace(malformed.find("0001-01-01"), 10, "0001-13-01");
    EXPECT_FALSE(MeetingFile::decode(malformed, fallback));
}

TEST(MeetingFile, RefusesFilesThatBreakTheFormat) {
    const std::string lineOk = R"({"at":1,"id":"5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B","speaker":"me","text":"a"})";
    const auto file = [](const std::string& duration, const std::string& id, const std::string& lines,
                         const std::string& started, const std::string& title) {
        std::string body = "{";
        for (const auto& [key, value] : {std::pair{"durationSec", duration},
                                         {"id", id},
                                         {"lines", lines},
                                         {"startedAt", started},
                                         {"title", title}})
            if (!value.empty()) body += std::string(body.size() > 1 ? "," : "") + "\"" + key + "\":" + value;
        return body + "}";
    };
    const std::string id = R"("5A0E3B7C-9D41-4E2F-8B6A-1C2D3E4F5A6B")";
    const std::string date = R"("2024-12-05T06:30:00Z")";
    ASSERT_TRUE(MeetingFile::decode(file("1", id, "[" + lineOk + "]", date, R"("t")")));
    const std::vector<std::string> broken = {
        file("1", id, "", date, R"("t")"),
        file("", id, "[]", date, R"("t")"),
        file("1.5", id, "[]", date, R"("t")"),
        file("\"1\"", id, "[]", date, R"("t")"),
        file("1", R"("not-a-uuid")", "[]", date, R"("t")"),
        file("1", id, "{}", date, R"("t")"),
        file("1", id, "[]", R"("2024-12-05T06:30:00.250Z")", R"("t")"),
        file("1", id, "[]", R"("2024-12-05 06:30:00")", R"("t")"),
        file("1", id, "[]", "1733380200", R"("t")"),
        file("1", id, "[]", date, "null"),
        file("1", id, "[]", date, ""),
        file("1", id, "[" + lineOk + R"(,{"at":2,"id":)" + id + R"(,"speaker":"them","text":"b"}])", date, R"("t")"),
        file("1", id, R"([{"at":"2","id":)" + id + R"(,"speaker":"me","text":"b"}])", date, R"("t")"),
        file("1", id, R"([{"at":2,"speaker":"me","text":"b"}])", date, R"("t")"),
        "[]",
        "{\"durationSec\":1,",
        "",
    };
    for (const std::string& bytes : broken) EXPECT_FALSE(MeetingFile::decode(bytes)) << bytes;
}
