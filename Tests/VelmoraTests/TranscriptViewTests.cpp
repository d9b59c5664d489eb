#include "Velmora/UI/TranscriptView.hpp"

#include "Velmora/UI/BlockView.hpp"

#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace velmora;
using Speaker = MeetingLine::Speaker;

// A monologue that grows past a part while it is recorded keeps the views it has: the last part
// takes the new line while it fits, and a new part comes in after it once it does not.
TEST(TranscriptView, AGrowingMonologueKeepsItsPartsAndAddsTheNextOne) {
    velmora::test::ScopedEnv reduced("VELMORA_REDUCE_MOTION", "1");
    TranscriptView transcript;
    transcript.resize(600, 400);
    transcript.show();
    Meeting meeting;
    std::string line;
    while (line.size() < 4000) line += "слово ";
    for (int i = 0; i < 3; ++i) meeting.lines.push_back({korbit::UUID(), i * 30, Speaker::me, line});
    transcript.setMeeting(meeting, true);
    QCoreApplication::processEvents();
    ASSERT_EQ(transcript.blockViews().size(), 1u);
    BlockView* first = transcript.blockViews()[0];

    meeting.lines.push_back({korbit::UUID(), 90, Speaker::me, line});
    transcript.setMeeting(meeting, true);
    QCoreApplication::processEvents();
    ASSERT_EQ(transcript.blockViews().size(), 1u) << "four lines of 4 KB still fit one part of 16 KB";
    EXPECT_EQ(transcript.blockViews()[0], first);
    EXPECT_EQ(first->block().text, meeting.blocks()[0].text);

    meeting.lines.push_back({korbit::UUID(), 120, Speaker::me, "и последнее " + line});
    transcript.setMeeting(meeting, true);
    QCoreApplication::processEvents();
    const std::vector<BlockView*> views = transcript.blockViews();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0], first) << "the first part stays as it was";
    EXPECT_EQ(views[1]->part(), 1);
    EXPECT_EQ(views[1]->id(), meeting.lines[0].id);
    EXPECT_EQ(views[1]->block().text, "и последнее " + line);
    EXPECT_EQ(views[1]->speakerLabel(), nullptr);
    EXPECT_TRUE(views[1]->isVisibleTo(&transcript));
    EXPECT_EQ(transcript.pieceCount(), 2u);
}
