#pragma once

// IEEE 754 binary16. The scalar conversions are portable; the bulk ones use the CPU's
// F16C instructions when it has them.

#include <cstddef>
#include <cstdint>

namespace platform::ml {

/// Converts a float to binary16 bits, rounding to nearest even; overflow gives infinity, NaN stays NaN.
std::uint16_t floatToHalfBits(float value);
/// Widens binary16 bits to a float exactly.
float halfBitsToFloat(std::uint16_t bits);

struct Float16 {
    std::uint16_t bits = 0;

    Float16() = default;
    Float16(float value) : bits(floatToHalfBits(value)) {}  // NOLINT: implicit like the built-in types
    static Float16 fromBits(std::uint16_t bits) {
        Float16 h;
        h.bits = bits;
        return h;
    }
    operator float() const { return halfBitsToFloat(bits); }  // NOLINT

    bool isNaN() const { return (bits & 0x7C00u) == 0x7C00u && (bits & 0x03FFu) != 0; }
    bool isInfinite() const { return (bits & 0x7FFFu) == 0x7C00u; }

    static Float16 infinity() { return fromBits(0x7C00u); }
    static Float16 greatestFiniteMagnitude() { return fromBits(0x7BFFu); }
    static Float16 leastNonzeroMagnitude() { return fromBits(0x0001u); }
    static Float16 quietNaN() { return fromBits(0x7E00u); }

    /// Bitwise identity (so NaN == NaN and +0 != -0); numeric comparisons go through float.
    bool sameBits(Float16 other) const { return bits == other.bits; }
};

static_assert(sizeof(Float16) == 2);

/// Bulk conversions of contiguous runs.
void convertHalfToFloat(const std::uint16_t* source, float* destination, std::size_t count);
void convertFloatToHalf(const float* source, std::uint16_t* destination, std::size_t count);

/// True when the bulk conversions run on F16C instructions: the processor has them and the vector
/// path (bestVectorPath) is not the portable one.
bool hasHardwareHalfConversion();
/// True when the processor has F16C instructions, whatever path is chosen.
bool processorHasHalfConversion();

}  // namespace platform::ml
