#pragma once

// A 128-bit universally unique identifier, as a plain value.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace korbit {

class UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    /// A fresh random identifier (version 4, from the kernel's random source).
    UUID();
    explicit constexpr UUID(const Bytes& bytes) : bytes_(bytes) {}

    /// Reads the 8-4-4-4-12 hexadecimal form (either case); absent for anything else.
    static std::optional<UUID> fromString(std::string_view text);

    /// The 8-4-4-4-12 form in upper case, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend std::strong_ordering operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_;
};

std::ostream& operator<<(std::ostream& out, const UUID& id);

}  // namespace korbit

template <>
struct std::hash<korbit::UUID> {
    std::size_t operator()(const korbit::UUID& id) const noexcept;
};
