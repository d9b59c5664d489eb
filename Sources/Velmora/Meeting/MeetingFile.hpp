#pragma once

// The JSON file of one meeting: pretty-printed, keys sorted at every level, the start in UTC with
// whole seconds and a Z. A reader takes any layout and ignores keys it does not know.

#include "Velmora/Meeting/Meeting.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class MeetingFile {
public:
    static std::string encode(const Meeting& meeting);
    /// Absent when a required key is missing, a value has the wrong type, the speaker is neither
    /// "me" nor "others", a UUID cannot be read or the start is not in the written form.
    static std::optional<Meeting> decode(std::string_view bytes);
};

}  // namespace velmora
