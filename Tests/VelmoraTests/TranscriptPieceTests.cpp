#include "Velmora/UI/TranscriptPiece.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using Speaker = MeetingLine::Speaker;

namespace {

Meeting meetingOf(const std::vector<std::pair<Speaker, std::string>>& lines) {
    Meeting meeting;
    std::int64_t at = 0;
    for (const auto& [speaker, text] : lines) meeting.lines.push_back({korbit::UUID(), at += 30, speaker, text});
    return meeting;
}

std::vector<std::string> texts(const std::vector<TranscriptPiece>& pieces) {
    std::vector<std::string> result;
    for (const auto& piece : pieces) result.push_back(piece.block.text);
    return result;
}

}  // namespace

// Short blocks are the meeting's blocks as they are; a long one is cut between its lines, each part
// keeping the block's id, start and speaker and counting up from 0.
TEST(TranscriptPiece, LongBlocksArePartedBetweenTheirLines) {
    const Meeting meeting = meetingOf({{Speaker::me, "один два"},
                                       {Speaker::me, "три"},
                                       {Speaker::others, "четыре"},
                                       {Speaker::me, "пять"},
                                       {Speaker::me, "шесть"},
                                       {Speaker::me, "семь"}});
    const auto whole = TranscriptPiece::of(meeting, 4096);
    ASSERT_EQ(whole.size(), 3u);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i].block, meeting.blocks()[i]);
        EXPECT_EQ(whole[i].part, 0);
    }

    // At 20 bytes: "один два" is 15, with "три" 22; "пять шесть" is 19, with "семь" 28.
    const auto parted = TranscriptPiece::of(meeting, 20);
    EXPECT_EQ(texts(parted), (std::vector<std::string>{"один два", "три", "четыре", "пять шесть", "семь"}));
    EXPECT_EQ(parted[1].block.id, meeting.lines[0].id);
    EXPECT_EQ(parted[1].part, 1);
    EXPECT_EQ(parted[4].block.id, meeting.lines[3].id);
    EXPECT_EQ(parted[4].block.at, meeting.lines[3].at);
    EXPECT_EQ(parted[4].block.speaker, Speaker::me);
    EXPECT_EQ(parted[4].part, 1);
    EXPECT_EQ(parted[3].part, 0);
    EXPECT_EQ(parted[2].part, 0);
}

// A single line longer than the bound is cut at its last blank within it, else before the
// character that would pass it, never inside a character; no part is over the bound.
TEST(TranscriptPiece, ALineLongerThanTheBoundIsCutAtABlankOrBetweenCharacters) {
    const Meeting spoken = meetingOf({{Speaker::others, "раз два три четыре пять"}, {Speaker::others, "шесть"}});
    // At 14 bytes: "раз два" is 13, "три четыре" 19, "четыре пять" 21.
    const auto pieces = TranscriptPiece::of(spoken, 14);
    EXPECT_EQ(texts(pieces), (std::vector<std::string>{"раз два", "три", "четыре", "пять", "шесть"}));
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].part, static_cast<int>(i));
        EXPECT_EQ(pieces[i].block.id, spoken.lines[0].id);
        joined += (i ? " " : "") + pieces[i].block.text;
    }
    EXPECT_EQ(joined, spoken.blocks()[0].text) << "joined with blanks, the parts are the block";

    // No blank: cut between characters of two bytes, at most 5 bytes a part.
    const auto unbroken = TranscriptPiece::of(meetingOf({{Speaker::me, "абвгд"}}), 5);
    EXPECT_EQ(texts(unbroken), (std::vector<std::string>{"аб", "вг", "д"}));
    // A bound below the longest character is taken as four bytes, so that every cut moves on.
    EXPECT_EQ(texts(TranscriptPiece::of(meetingOf({{Speaker::me, "ёжик"}}), 1)),
              (std::vector<std::string>{"ёж", "ик"}));
    EXPECT_TRUE(TranscriptPiece::of(Meeting{}, 10).empty());
}
