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
    // Each byte's UTF-8 form (one or two bytes: the table ends below U+0800) and its length.
    std::array<std::array<char, 2>, 256> encoded{};
    std::array<std::uint8_t, 256> encodedLength{};
    std::unordered_map<std::string, std::uint8_t> decoder;

    Tables() {
        byteOfScalar.fill(-1);
        char32_t next = kFirstShifted;
        for (unsigned b = 0; b < 256; ++b) {
            scalarOfByte[b] = standsForItself(b) ? char32_t(b) : next++;
            byteOfScalar[scalarOfByte[b]] = static_cast<int>(b);
            platform::text::appendUtf8(encoder[b], scalarOfByte[b]);
            encodedLength[b] = static_cast<std::uint8_t>(encoder[b].size());
            for (std::size_t k = 0; k < encoder[b].size(); ++k) encoded[b][k] = encoder[b][k];
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
    const Tables& t = tables();
    const std::size_t start = out.size();
    out.resize(start + 2 * bytes.size());
    char* at = out.data() + start;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        at[0] = t.encoded[b][0];
        at[1] = t.encoded[b][1];
        at += t.encodedLength[b];
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
}

}  // namespace korbit
