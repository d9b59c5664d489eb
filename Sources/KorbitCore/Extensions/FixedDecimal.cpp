#include "KorbitCore/Extensions/FixedDecimal.hpp"

#include <charconv>
#include <cmath>

namespace korbit {

std::string fixedDecimal(double value, int places, int width) {
    // The largest double has 309 digits before the point.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, places);
    std::string text =
        result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string(std::isnan(value) ? "nan" : "inf");
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

}  // namespace korbit
