#include "Platform/ML/Float16.hpp"

#include "Platform/ML/VectorProducts.hpp"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VELMORA_X86 1
#endif

namespace platform::ml {

std::uint16_t floatToHalfBits(float value) {
    std::uint32_t f;
    std::memcpy(&f, &value, sizeof f);
    const std::uint32_t sign = (f >> 16) & 0x8000u;
    const std::uint32_t absolute = f & 0x7FFFFFFFu;

    if (absolute >= 0x7F800000u) {  // infinity or NaN; NaN keeps a payload bit so it stays NaN
        const std::uint32_t mantissa = absolute & 0x007FFFFFu;
        return static_cast<std::uint16_t>(sign | 0x7C00u | (mantissa ? (0x0200u | (mantissa >> 13)) : 0u));
    }
    if (absolute >= 0x477FF000u) return static_cast<std::uint16_t>(sign | 0x7C00u);  // rounds past 65504
    if (absolute < 0x38800000u) {
        // Subnormal half (or zero): align the implicit-one mantissa to the 2^-24 unit and round to even.
        if (absolute < 0x33000000u) return static_cast<std::uint16_t>(sign);  // below half the smallest subnormal
        const std::uint32_t exponent = absolute >> 23;
        const std::uint32_t mantissa = (absolute & 0x007FFFFFu) | 0x00800000u;
        const std::uint32_t shift = 126u - exponent;  // 14..24 for the values that reach here
        std::uint32_t half = mantissa >> shift;
        const std::uint32_t remainder = mantissa & ((1u << shift) - 1u);
        const std::uint32_t halfway = 1u << (shift - 1u);
        if (remainder > halfway || (remainder == halfway && (half & 1u))) ++half;
        return static_cast<std::uint16_t>(sign | half);
    }
    // Normal: rebias the exponent and round the 13 dropped bits to even; a carry may step into the exponent.
    std::uint32_t half = ((absolute - 0x38000000u) >> 13);
    const std::uint32_t remainder = absolute & 0x1FFFu;
    if (remainder > 0x1000u || (remainder == 0x1000u && (half & 1u))) ++half;
    return static_cast<std::uint16_t>(sign | half);
}

float halfBitsToFloat(std::uint16_t bits) {
    const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000u) << 16;
    const std::uint32_t exponent = (bits >> 10) & 0x1Fu;
    std::uint32_t mantissa = bits & 0x03FFu;
    std::uint32_t f;
    if (exponent == 0x1Fu) {
        f = sign | 0x7F800000u | (mantissa << 13);
    } else if (exponent != 0) {
        f = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        f = sign;
    } else {
        // Subnormal: normalise the mantissa.
        std::uint32_t e = 113u;
        while ((mantissa & 0x0400u) == 0) {
            mantissa <<= 1;
            --e;
        }
        f = sign | (e << 23) | ((mantissa & 0x03FFu) << 13);
    }
    float out;
    std::memcpy(&out, &f, sizeof out);
    return out;
}

#ifdef VELMORA_X86
namespace {

__attribute__((target("avx,f16c"))) void halfToFloatF16C(const std::uint16_t* s, float* d, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm256_storeu_ps(d + i, _mm256_cvtph_ps(h));
    }
    for (; i < n; ++i) d[i] = halfBitsToFloat(s[i]);
}

__attribute__((target("avx,f16c"))) void floatToHalfF16C(const float* s, std::uint16_t* d, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(s + i), _MM_FROUND_TO_NEAREST_INT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), h);
    }
    for (; i < n; ++i) d[i] = floatToHalfBits(s[i]);
}

bool detectF16C() {
    __builtin_cpu_init();
    // The CPUID bit itself: clang's __builtin_cpu_supports knows no "f16c".
    unsigned a = 0, b = 0, c = 0, d = 0;
    const bool f16c = __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_F16C) != 0;
    return f16c && __builtin_cpu_supports("avx");
}

}  // namespace

bool processorHasHalfConversion() {
    static const bool has = detectF16C();
    return has;
}

bool hasHardwareHalfConversion() {
    static const bool has = processorHasHalfConversion() && bestVectorPath() != VectorPath::portable;
    return has;
}

void convertHalfToFloat(const std::uint16_t* source, float* destination, std::size_t count) {
    if (hasHardwareHalfConversion()) return halfToFloatF16C(source, destination, count);
    for (std::size_t i = 0; i < count; ++i) destination[i] = halfBitsToFloat(source[i]);
}

void convertFloatToHalf(const float* source, std::uint16_t* destination, std::size_t count) {
    if (hasHardwareHalfConversion()) return floatToHalfF16C(source, destination, count);
    for (std::size_t i = 0; i < count; ++i) destination[i] = floatToHalfBits(source[i]);
}
#else
bool processorHasHalfConversion() {
    return false;
}
bool hasHardwareHalfConversion() {
    return false;
}
void convertHalfToFloat(const std::uint16_t* source, float* destination, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) destination[i] = halfBitsToFloat(source[i]);
}
void convertFloatToHalf(const float* source, std::uint16_t* destination, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) destination[i] = floatToHalfBits(source[i]);
}
#endif

}  // namespace platform::ml
