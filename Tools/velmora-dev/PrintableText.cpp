#include "PrintableText.hpp"

#include "Platform/Text/Unicode.hpp"

#include <cstdio>

namespace velmora::dev {
namespace {

std::string escaped(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

/// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string printable(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            out += escaped("\\x%02X", c);
            ++at;
        } else if (length == 1) {
            if (c < 0x20 || c == 0x7F) {
                if (keepLineBreaks && (c == '\n' || c == '\t'))
                    out += static_cast<char>(c);
                else
                    out += escaped("\\x%02X", c);
            } else {
                out += static_cast<char>(c);
            }
            ++at;
        } else {
            // C1 controls (U+0080 to U+009F), and the controls of direction, which would turn
            // what the terminal shows around them.
            const char32_t scalar = platform::text::firstScalar(text.substr(at, length));
            if (scalar <= 0x9F || platform::text::isBidiControl(scalar))
                out += escaped("\\u%04X", static_cast<unsigned>(scalar));
            else
                out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace velmora::dev
