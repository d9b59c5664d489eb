#pragma once

// One line of a meeting's transcript: who spoke, and when from the meeting's start.

#include "KorbitCore/UUID.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct MeetingLine {
    /// The microphone (the user) or the system's sound (everyone else).
    enum class Speaker { me, others };

    korbit::UUID id;
    /// Whole seconds from the meeting's start.
    std::int64_t at = 0;
    Speaker speaker = Speaker::me;
    std::string text;

    /// "me" or "others", the values in the meeting file.
    static std::string_view speakerName(Speaker speaker) { return speaker == Speaker::me ? "me" : "others"; }
    static std::optional<Speaker> speakerNamed(std::string_view name) {
        if (name == "me") return Speaker::me;
        if (name == "others") return Speaker::others;
        return std::nullopt;
    }

    bool operator==(const MeetingLine&) const = default;
};

}  // namespace velmora
