#pragma once

// The lines of a meeting as they come back from the recogniser: the text cleaned, the speakers'
// echo kept out, and the lines kept in the order of their time.
//
// Without headphones the microphone also hears the other participants through the speakers, so
// a line of "me" may repeat a nearby line of "others". Such a line is dropped, and a line of
// "others" that arrives later removes the lines of "me" that repeat it.

#include "Velmora/Meeting/Meeting.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class Glossary;

class MeetingTranscript {
public:
    /// Lines can repeat each other only when their times differ by at most this many seconds.
    static constexpr std::int64_t echoWindowSeconds = 30;
    /// ... and only when their similarity is strictly above this.
    static constexpr double echoThreshold = 0.6;
    /// User-perceived characters of a dropped line quoted in the log.
    static constexpr std::size_t excerptLength = 30;

    /// The recogniser's text as a line's text: invented captions stripped, then the glossary's
    /// replacements applied (which counts its hits). Empty when nothing is left.
    static std::string lineText(std::string_view text, Glossary& glossary);

    /// The distinct words of a text, sorted: maximal runs of letters and numbers after NFC and
    /// lower-casing (a letter keeps the marks that follow it).
    static std::vector<std::string> words(std::string_view text);

    /// The share of the smaller word set found in the other, from 0 to 1; 0 when either has no words.
    static double similarity(std::string_view a, std::string_view b);

    /// Whether two lines' times are close enough to compare: at most echoWindowSeconds apart.
    static bool withinEchoWindow(std::int64_t a, std::int64_t b);

    /// Whether a line of "me" repeats a line of "others" of the meeting within the window.
    static bool isEcho(const Meeting& meeting, const MeetingLine& line);

    /// Adds the line to the meeting unless it is an echo (logged, false); a line of "others" first
    /// removes the lines of "me" that repeat it (logged with their number). The line goes after
    /// every line with the same or an earlier time. The caller saves the meeting when it was added.
    static bool append(Meeting& meeting, MeetingLine line);
};

}  // namespace velmora
