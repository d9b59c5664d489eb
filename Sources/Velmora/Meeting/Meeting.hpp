#pragma once

// A recorded meeting, and the views of it that the screens show and copy.

#include "Velmora/Meeting/MeetingLine.hpp"
#include "Velmora/Support/IsoDate.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct Meeting {
    /// A run of consecutive lines of one speaker, merged for display: the first line's id and
    /// position, the texts joined with a blank.
    struct Block {
        korbit::UUID id;
        std::int64_t at = 0;
        MeetingLine::Speaker speaker = MeetingLine::Speaker::me;
        std::string text;
        bool operator==(const Block&) const = default;
    };

    korbit::UUID id;
    std::string title;
    Date startedAt;
    /// Whole seconds.
    std::int64_t durationSec = 0;
    /// In the recorder's order (by `at`).
    std::vector<MeetingLine> lines;

    /// The words of all lines: non-empty pieces between white-space characters.
    std::int64_t words() const;
    std::vector<Block> blocks() const;
    /// The whole meeting as text: the title, the date and length, then each block under its time and speaker.
    std::string plainText() const;
    /// "5 декабря 2024, 09:30" in the current time zone.
    static std::string dateText(Date date);
    /// A block's position: whole minutes and seconds, "%02d:%02d"; minutes go past 59 ("62:05").
    static std::string clockText(std::int64_t at);
    /// "Ты" or "Собеседники".
    static std::string_view speakerLabel(MeetingLine::Speaker speaker);

    bool operator==(const Meeting&) const = default;
};

}  // namespace velmora
