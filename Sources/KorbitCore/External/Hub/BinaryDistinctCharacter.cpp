#include "KorbitCore/External/Hub/BinaryDistinctCharacter.hpp"

#include "Platform/Text/Unicode.hpp"

#include <cstdio>

namespace korbit {

BinaryDistinctCharacter::BinaryDistinctCharacter(std::string_view utf8) : bytes(platform::text::toUtf16(utf8)) {}

std::string BinaryDistinctCharacter::description() const {
    std::string out = "BinaryDistinctCharacter('" + platform::text::toUtf8(bytes) + "', bytes: [";
    char hex[16];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ", ";
        std::snprintf(hex, sizeof hex, "\"0x%02X\"", static_cast<unsigned>(bytes[i]));
        out += hex;
    }
    out += "])";
    return out;
}

}  // namespace korbit
