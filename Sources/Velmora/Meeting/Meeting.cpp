#include "Velmora/Meeting/Meeting.hpp"

#include "Velmora/Support/RussianDate.hpp"
#include "Velmora/Support/WordCount.hpp"

#include <cstdio>

namespace velmora {

std::int64_t Meeting::words() const {
    std::int64_t total = 0;
    for (const MeetingLine& line : lines) total += countWords(line.text);
    return total;
}

std::vector<Meeting::Block> Meeting::blocks() const {
    std::vector<Block> result;
    for (const MeetingLine& line : lines) {
        if (!result.empty() && result.back().speaker == line.speaker) {
            result.back().text += ' ';
            result.back().text += line.text;
        } else {
            result.push_back({line.id, line.at, line.speaker, line.text});
        }
    }
    return result;
}

std::string Meeting::plainText() const {
    std::string text = title + "\n" + dateText(startedAt) + " · " + std::to_string(durationSec / 60) + " мин\n";
    text += '\n';
    bool first = true;
    for (const Block& block : blocks()) {
        if (!first) text += "\n\n";
        first = false;
        text += clockText(block.at);
        text += "  ";
        text += speakerLabel(block.speaker);
        text += ":\n";
        text += block.text;
    }
    return text;
}

std::string Meeting::dateText(Date date) {
    return russianDate(date, "d MMMM yyyy, HH:mm");
}

std::string Meeting::clockText(std::int64_t at) {
    // Minutes go past 59 rather than into hours.
    char clock[48];
    std::snprintf(clock, sizeof clock, "%02lld:%02lld", static_cast<long long>(at / 60),
                  static_cast<long long>(at % 60));
    return clock;
}

std::string_view Meeting::speakerLabel(MeetingLine::Speaker speaker) {
    return speaker == MeetingLine::Speaker::me ? "Ты" : "Собеседники";
}

}  // namespace velmora
