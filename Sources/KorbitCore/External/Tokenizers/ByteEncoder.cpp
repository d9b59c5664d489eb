#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"

#include "Platform/Text/Unicode.hpp"

namespace korbit {
namespace {

constexpr char32_t kFirstShifted = 0x100;
constexpr char32_t kTableEnd = 0x144;  // one past the highest character of the table

bool standsForItself(unsigned b) {
    return (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xAC) || (b >= 0xAE && b <= 0xFF);
}

struct Tables {
    std::array<char32_t, 256> scalarOfByte{};
    std::array<int, kTableEnd> byteOfScalar{};
    std::array<std::string, 256> encoder;
    std::unordered_map<std::string, std::uint8_t> decoder;

    Tables() {
        byteOfScalar.fill(-1);
        char32_t next = kFirstShifted;
        for (unsigned b = 0; b < 256; ++b) {
            scalarOfByte[b] = standsForItself(b) ? char32_t(b) : next++;
            byteOfScalar[scalarOfByte[b]] = static_cast<int>(b);
            platform::text::appendUtf8(encoder[b], scalarOfByte[b]);
            decoder.emplace(encoder[b], static_cast<std::uint8_t>(b));
        }
    }
};

const Tables& tables() {
    static const Tables instance;
    return instance;
}

}  // namespace

const std::array<std::string, 256>& byteEncoder() {
    return tables().encoder;
}

const std::unordered_map<std::string, std::uint8_t>& byteDecoder() {
    return tables().decoder;
}

int byteForScalar(char32_t scalar) {
    return scalar < kTableEnd ? tables().byteOfScalar[scalar] : -1;
}

void appendByteLevel(std::string& out, std::string_view bytes) {
    const auto& encoder = tables().encoder;
    for (char c : bytes) out += encoder[static_cast<unsigned char>(c)];
}

}  // namespace korbit
