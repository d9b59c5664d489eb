#include "Platform/ML/Float16.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using platform::ml::Float16;
using platform::ml::floatToHalfBits;
using platform::ml::halfBitsToFloat;

namespace {

float bitsToFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

/// Round to nearest even by exhaustive search over the halves: the reference for the fast paths.
std::uint16_t slowRound(float x) {
    if (std::isnan(x)) return 0x7E00;
    const std::uint16_t sign = std::signbit(x) ? 0x8000 : 0;
    const double a = std::fabs(static_cast<double>(x));
    if (a >= 65520.0) return sign | 0x7C00;
    std::uint16_t best = 0;
    double bestErr = INFINITY;
    for (std::uint16_t b = 0; b < 0x7C00; ++b) {
        const double err = std::fabs(static_cast<double>(halfBitsToFloat(b)) - a);
        if (err < bestErr || (err == bestErr && (b & 1) == 0)) {
            best = b;
            bestErr = err;
        }
    }
    return sign | best;
}

}  // namespace

TEST(Float16, EveryHalfWidensAndNarrowsBackExactly) {
    for (std::uint32_t b = 0; b <= 0xFFFF; ++b) {
        const auto bits = static_cast<std::uint16_t>(b);
        const float f = halfBitsToFloat(bits);
        if (Float16::fromBits(bits).isNaN()) {
            EXPECT_TRUE(std::isnan(f));
            EXPECT_TRUE(Float16(f).isNaN()) << std::hex << b;
        } else {
            ASSERT_EQ(floatToHalfBits(f), bits) << std::hex << b;
        }
    }
}

TEST(Float16, RoundsToNearestEvenAtTiesAndEdges) {
    EXPECT_EQ(floatToHalfBits(1.0f + std::ldexp(1.0f, -11)), 0x3C00);      // tie, even stays
    EXPECT_EQ(floatToHalfBits(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3C02);  // tie, odd rounds up
    EXPECT_EQ(floatToHalfBits(1.0f + std::ldexp(1.0f, -11) + std::ldexp(1.0f, -20)), 0x3C01);
    EXPECT_EQ(floatToHalfBits(65504.0f), 0x7BFF);
    EXPECT_EQ(floatToHalfBits(65519.99f), 0x7BFF);
    EXPECT_EQ(floatToHalfBits(65520.0f), 0x7C00);  // tie past the largest: infinity
    EXPECT_EQ(floatToHalfBits(-1e10f), 0xFC00);
    EXPECT_EQ(floatToHalfBits(std::numeric_limits<float>::infinity()), 0x7C00);
    EXPECT_EQ(floatToHalfBits(std::ldexp(1.0f, -24)), 0x0001);  // smallest subnormal
    EXPECT_EQ(floatToHalfBits(std::ldexp(1.0f, -25)), 0x0000);  // tie to even zero
    EXPECT_EQ(floatToHalfBits(std::ldexp(1.5f, -25)), 0x0001);
    EXPECT_EQ(floatToHalfBits(std::ldexp(3.0f, -25)), 0x0002);  // 1.5 units: tie to even 2
    EXPECT_EQ(floatToHalfBits(std::ldexp(1.0f, -14) - std::ldexp(1.0f, -26)),
              0x0400);  // rounds up to the smallest normal
    EXPECT_EQ(floatToHalfBits(-0.0f), 0x8000);
    EXPECT_TRUE(Float16(std::numeric_limits<float>::quiet_NaN()).isNaN());
    EXPECT_TRUE(Float16(bitsToFloat(0x7F800001u)).isNaN());  // signalling NaN payload below the kept bits
    EXPECT_TRUE(Float16::infinity().isInfinite());
    EXPECT_FLOAT_EQ(static_cast<float>(Float16::greatestFiniteMagnitude()), 65504.0f);
    EXPECT_EQ(-static_cast<float>(Float16::infinity()), -std::numeric_limits<float>::infinity());
}

TEST(Float16, ScalarAgreesWithExhaustiveRoundingOnSampledFloats) {
    std::uint32_t s = 12345;
    for (int i = 0; i < 400; ++i) {
        s = s * 1664525u + 1013904223u;
        // Exponents across the half range, from below the subnormals to overflow.
        const float x = bitsToFloat((s & 0x807FFFFFu) | ((100u + (s >> 8) % 50u) << 23));
        ASSERT_EQ(floatToHalfBits(x), slowRound(x)) << x;
    }
}

TEST(Float16, BulkConversionsMatchTheScalarOnes) {
    std::vector<float> values;
    std::uint32_t s = 99;
    for (int i = 0; i < 4099; ++i) {
        s = s * 1664525u + 1013904223u;
        values.push_back(bitsToFloat((s & 0x807FFFFFu) | ((98u + (s >> 9) % 56u) << 23)));
    }
    values.push_back(std::numeric_limits<float>::quiet_NaN());
    values.push_back(-std::numeric_limits<float>::infinity());
    std::vector<std::uint16_t> halves(values.size());
    platform::ml::convertFloatToHalf(values.data(), halves.data(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::isnan(values[i])) {
            EXPECT_TRUE(Float16::fromBits(halves[i]).isNaN());
        } else {
            ASSERT_EQ(halves[i], floatToHalfBits(values[i])) << values[i];
        }
    }
    std::vector<float> back(values.size());
    platform::ml::convertHalfToFloat(halves.data(), back.data(), halves.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!std::isnan(back[i])) {
            ASSERT_EQ(back[i], halfBitsToFloat(halves[i]));
        }
}
