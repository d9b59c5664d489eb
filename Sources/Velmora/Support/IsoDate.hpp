#pragma once

// ISO 8601 date-times in UTC, the form of the dates in the application's files.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

using Date = std::chrono::system_clock::time_point;

class IsoDate {
public:
    /// "2024-12-05T06:30:00Z"; with milliseconds "2024-12-05T06:30:00.042Z". Finer parts are dropped.
    static std::string format(Date date, bool milliseconds = false);

    /// Reads "yyyy-MM-ddTHH:mm:ss" followed by "Z" or an offset "+HH:MM"/"-HH:MM"; a fraction of a
    /// second after the seconds only when allowed. Anything else, a day that does not exist, or a
    /// time the clock cannot hold (before about 1678 or after about 2261: "0001-01-01T00:00:00Z"),
    /// is absent.
    static std::optional<Date> parse(std::string_view text, bool allowFraction = false);
    /// Whether the text is in the form parse reads but names a time the clock cannot hold.
    static bool isOutOfRange(std::string_view text, bool allowFraction = false);
};

}  // namespace velmora
