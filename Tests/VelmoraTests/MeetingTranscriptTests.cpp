#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingTranscript.hpp"
#include "Velmora/Post/Glossary.hpp"

#include "MeetingTestSupport.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using Speaker = MeetingLine::Speaker;
using velmora::test::describe;
using velmora::test::SystemLogCapture;
using velmora::test::TempDir;

namespace {

MeetingLine line(Speaker speaker, std::int64_t at, std::string text) {
    return MeetingLine{korbit::UUID(), at, speaker, std::move(text)};
}

}  // namespace

TEST(MeetingTranscript, SimilarityIsTheOverlapOfLowerCasedWordSets) {
    struct Case {
        const char* a;
        const char* b;
        double expected;
    };
    const Case cases[] = {
        {"да", "Ну да, конечно", 1.0},
        {"один два три четыре пять", "один два три шесть семь", 0.6},  // 3 of 5 and 5
        {"один два три четыре пять", "один два три шесть", 0.75},      // 3 of 5 and 4
        {"...", "да", 0.0},                                            // no words on one side
        {"", "", 0.0},
        {"ёлка", "елка", 0.0},                    // letters compared exactly
        {"кто-то пришёл", "кто то пришёл", 1.0},  // a hyphenated word counts as its parts
        {"Привет, МИР!", "привет мир", 1.0},
        {"да да да нет", "да", 1.0},  // repeats count once: {да, нет} against {да}
        {"встреча в 10 часов", "в 10", 1.0},
        {"\u0438\u0306од", "йод", 1.0},  // decomposed and composed й
        {"café au lait", "CAFÉ", 1.0},
        {"½ литра", "½", 1.0},  // numbers of every kind are word characters
        {"hello world", "goodbye moon", 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MeetingTranscript::similarity(c.a, c.b), c.expected) << c.a << " | " << c.b;
        EXPECT_EQ(MeetingTranscript::similarity(c.b, c.a), c.expected) << "symmetric: " << c.a << " | " << c.b;
    }
    EXPECT_EQ(MeetingRecorder::similarity("да", "да нет"), 1.0);
    EXPECT_EQ(MeetingTranscript::words("Кто-то, где-то... Кто?"), (std::vector<std::string>{"где", "кто", "то"}));
}

TEST(MeetingTranscript, EchoDecisions) {
    struct Case {
        Speaker speaker;
        std::int64_t at;
        const char* text;
        bool echo;
        const char* why;
    };
    // Against one line of "others" at 100 s: "один два три четыре пять".
    const Case cases[] = {
        {Speaker::me, 100, "один два три четыре пять", true, "the same words"},
        {Speaker::me, 130, "один два три шесть семь", false, "3 of 5: 0.6 is not above the threshold"},
        {Speaker::me, 130, "один два три шесть", true, "3 of 4: 0.75, 30 s apart"},
        {Speaker::me, 70, "один два три шесть", true, "30 s before"},
        {Speaker::me, 131, "один два три шесть", false, "31 s apart: not compared"},
        {Speaker::me, 69, "один два три шесть", false, "31 s before"},
        {Speaker::me, 100, "да", false, "no shared word"},
        {Speaker::me, 100, "?!", false, "no words at all"},
        {Speaker::others, 100, "один два три четыре пять", false, "others never echo"},
    };
    Meeting meeting;
    meeting.lines.push_back(line(Speaker::others, 100, "один два три четыре пять"));
    for (const auto& c : cases)
        EXPECT_EQ(MeetingTranscript::isEcho(meeting, line(c.speaker, c.at, c.text)), c.echo) << c.why;

    // A line of "me" does not make another "me" line an echo, and an empty meeting has none.
    Meeting mine;
    mine.lines.push_back(line(Speaker::me, 10, "да"));
    EXPECT_FALSE(MeetingTranscript::isEcho(mine, line(Speaker::me, 10, "да")));
    EXPECT_FALSE(MeetingTranscript::isEcho(Meeting{}, line(Speaker::me, 10, "да")));
    // "да" against a longer line of the other side that contains it: similarity 1.
    mine.lines.push_back(line(Speaker::others, 40, "да, я согласен"));
    EXPECT_TRUE(MeetingTranscript::isEcho(mine, line(Speaker::me, 12, "Да.")));
}

TEST(MeetingTranscript, LinesStayInTimeOrderAndEchoesAreDroppedOrRemoved) {
    SystemLogCapture log;
    Meeting meeting;
    EXPECT_TRUE(MeetingTranscript::append(meeting, line(Speaker::me, 30, "первая")));
    EXPECT_TRUE(MeetingTranscript::append(meeting, line(Speaker::me, 30, "вторая")));
    EXPECT_TRUE(MeetingTranscript::append(meeting, line(Speaker::others, 0, "раньше всех")));  // finished late
    EXPECT_TRUE(MeetingTranscript::append(meeting, line(Speaker::me, 60, "потом")));
    EXPECT_TRUE(MeetingTranscript::append(meeting, line(Speaker::me, 30, "третья")));
    EXPECT_EQ(describe(meeting), (std::vector<std::string>{"others:0:раньше всех", "me:30:первая", "me:30:вторая",
                                                           "me:30:третья", "me:60:потом"}));
    EXPECT_TRUE(log.lines("stt").empty());

    // Two lines of "me" repeat what the other side says later: both go, with one log line.
    Meeting echoing;
    MeetingTranscript::append(echoing, line(Speaker::me, 100, "мы начнём в понедельник"));
    MeetingTranscript::append(echoing, line(Speaker::me, 120, "в понедельник утром"));
    MeetingTranscript::append(echoing, line(Speaker::me, 135, "в понедельник"));  // 35 s away: stays
    MeetingTranscript::append(echoing, line(Speaker::others, 95, "соседи придут"));
    MeetingTranscript::append(echoing, line(Speaker::me, 90, "моя реплика"));
    MeetingTranscript::append(echoing, line(Speaker::others, 100, "мы начнём в понедельник утром"));
    EXPECT_EQ(describe(echoing),
              (std::vector<std::string>{"me:90:моя реплика", "others:95:соседи придут",
                                        "others:100:мы начнём в понедельник утром", "me:135:в понедельник"}));
    EXPECT_EQ(log.lines("stt"), std::vector<std::string>{"встреча: убрано эхо динамиков, реплик 2"});

    // Others never remove others; a line of "me" never removes anything.
    log.clear();
    EXPECT_TRUE(MeetingTranscript::append(echoing, line(Speaker::others, 100, "мы начнём в понедельник утром")));
    EXPECT_TRUE(MeetingTranscript::append(echoing, line(Speaker::me, 200, "мы начнём в понедельник утром")));
    EXPECT_EQ(echoing.lines.size(), 6u);

    // The echo of a line of the other side is not added; the log quotes its first 30 characters.
    EXPECT_FALSE(MeetingTranscript::append(echoing, line(Speaker::me, 101, "Мы начнём в понедельник!")));
    const std::string longText =
        "👍🏽 Мы начнём в понедельник утром, как и договаривались на "
        "прошлой "
        "неделе";
    EXPECT_FALSE(MeetingTranscript::append(echoing, line(Speaker::me, 110, longText)));
    EXPECT_EQ(echoing.lines.size(), 6u);
    EXPECT_EQ(
        log.lines("stt"),
        (std::vector<std::string>{
            "встреча: реплика «Мы начнём в понедельник!…» — эхо динамиков, не добавляю",
            "встреча: реплика «👍🏽 Мы начнём в понедельник утро…» — "
            "эхо "
            "динамиков, не добавляю"}))
        << "the thumb and its skin tone are one character";
    for (const auto& entry : log.entries()) EXPECT_EQ(entry.type, platform::log::LogType::info);
}

TEST(MeetingTranscript, TheRecognisedTextIsCleanedThenCorrectedByTheGlossary) {
    TempDir dir;
    Glossary glossary(dir / "glossary.json");
    EXPECT_EQ(MeetingTranscript::lineText("Продолжение следует...", glossary), "");
    EXPECT_EQ(MeetingTranscript::lineText("выложи на гитхаб. Спасибо за просмотр!", glossary), "выложи на GitHub.");
    const auto github = std::find_if(glossary.terms().begin(), glossary.terms().end(),
                                     [](const Term& t) { return t.canonical == "GitHub"; });
    ASSERT_NE(github, glossary.terms().end());
    EXPECT_EQ(github->hits, 1);
    // Neither stutters nor punctuation are touched.
    EXPECT_EQ(MeetingTranscript::lineText("ну ну это это", glossary), "ну ну это это");
}
