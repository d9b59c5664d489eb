#pragma once

// The JSON file of one meeting: pretty-printed, keys sorted at every level, the start in UTC with
// whole seconds and a Z. A reader takes any layout and ignores keys it does not know.

#include "Velmora/Meeting/Meeting.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class MeetingFile {
public:
    static std::string encode(const Meeting& meeting);
    /// Absent when a required key is missing, a value has the wrong type, the speaker is neither
    /// "me" nor "others", a UUID cannot be read or the start is not in the written form.
    /// What a careless hand or a sync tool may leave is mended on the way, each mend named in
    /// `repairs` when given: a negative length or line time becomes 0, and so does one that
    /// would end past what the clock can hold (2^62 s); a start the clock cannot hold (a year 1)
    /// becomes `fallbackStart` (without one the file is unreadable).
    static std::optional<Meeting> decode(std::string_view bytes, std::optional<Date> fallbackStart = std::nullopt,
                                         std::vector<std::string>* repairs = nullptr);
};

}  // namespace velmora
