#include "KorbitCore/UUID.hpp"

#include "Platform/Text/Unicode.hpp"

#include <sys/random.h>

#include <cstring>
#include <ostream>
#include <random>

namespace korbit {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

void fillRandom(UUID::Bytes& bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled == bytes.size()) return;
    // The kernel call is missing or interrupted for good: fall back to the library's source.
    std::random_device device;
    for (auto& b : bytes) b = static_cast<std::uint8_t>(device());
}

}  // namespace

UUID::UUID() {
    fillRandom(bytes_);
    bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);  // version 4
    bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        int value = platform::text::hexDigitValue(text[i]);
        if (value < 0) return std::nullopt;
        bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 ? value : value << 4));
        ++nibble;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHexDigits[bytes_[i] >> 4]);
        text.push_back(kHexDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

std::ostream& operator<<(std::ostream& out, const UUID& id) {
    return out << id.uuidString();
}

}  // namespace korbit

std::size_t std::hash<korbit::UUID>::operator()(const korbit::UUID& id) const noexcept {
    std::uint64_t high = 0, low = 0;
    std::memcpy(&high, id.bytes().data(), 8);
    std::memcpy(&low, id.bytes().data() + 8, 8);
    // The bytes are random already; mixing the halves is enough.
    return static_cast<std::size_t>(high ^ (low * 0x9E3779B97F4A7C15ULL));
}
