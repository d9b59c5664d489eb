// The kernels the token sampler and the timestamp rule run over a whole vocabulary: the maximum
// with its first index, and sums of exponentials against a double-precision reference.

#include "Platform/ML/Kernels.hpp"

#include "Platform/ML/Float16.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace platform::ml::kernels;
using platform::ml::VectorPath;
constexpr float kInf = std::numeric_limits<float>::infinity();

/// The processor's best path and the plain loops: both must give the same answers.
std::vector<VectorPath> paths() {
    return {platform::ml::bestVectorPath(), VectorPath::portable};
}

TEST(LogitKernels, TheMaximumComesWithItsFirstIndexWhateverTheLengthAndLane) {
    for (const VectorPath path : paths()) {
        for (std::size_t n : {1u, 15u, 16u, 17u, 63u, 64u, 65u, 51865u}) {
            std::vector<float> x(n, -1.0f);
            std::vector<std::uint16_t> bits(n);
            for (std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
                std::fill(x.begin(), x.end(), -1.0f);
                x[at] = 2.5f;
                if (at + 17 < n) x[at + 17] = 2.5f;  // a later equal in another lane
                for (std::size_t i = 0; i < n; ++i) bits[i] = platform::ml::floatToHalfBits(x[i]);
                std::size_t index = 0;
                EXPECT_EQ(maximumAndIndex(x.data(), n, index, path), 2.5f) << n << "/" << at;
                EXPECT_EQ(index, at) << n;
                index = 0;
                EXPECT_EQ(halfMaximumAndIndex(bits.data(), n, index, path), 2.5f) << n << "/" << at;
                EXPECT_EQ(index, at) << n;
            }
        }
        // Equal values everywhere: the first one.
        std::vector<float> flat(100, 0.0f);
        std::size_t index = 99;
        maximumAndIndex(flat.data(), flat.size(), index, path);
        EXPECT_EQ(index, 0u);
        const std::vector<std::uint16_t> flatBits(100, 0);
        index = 99;
        halfMaximumAndIndex(flatBits.data(), flatBits.size(), index, path);
        EXPECT_EQ(index, 0u);
    }
}

TEST(LogitKernels, NaNIsPassedOverAndNothingAboveMinusInfinityHasNoIndex) {
    for (const VectorPath path : paths()) {
        std::vector<float> x(40, std::nanf(""));
        x[33] = -7.0f;
        std::size_t index = 0;
        EXPECT_EQ(maximumAndIndex(x.data(), x.size(), index, path), -7.0f);
        EXPECT_EQ(index, 33u);
        std::vector<float> none(40, -kInf);
        none[3] = std::nanf("");
        EXPECT_EQ(maximumAndIndex(none.data(), none.size(), index, path), -kInf);
        EXPECT_EQ(index, 40u);
        EXPECT_EQ(maximumAndIndex(none.data(), 0, index, path), -kInf);
        EXPECT_EQ(index, 0u);
    }
}

TEST(LogitKernels, SumsOfExponentialsMatchADoublePrecisionSum) {
    std::mt19937 random(5);
    std::normal_distribution<float> spread(0.0f, 4.0f), confident(-45.0f, 6.0f);
    for (std::size_t n : {1u, 7u, 16u, 70u, 1501u, 51865u}) {
        for (auto* distribution : {&spread, &confident}) {
            std::vector<float> x(n);
            for (float& v : x) v = (*distribution)(random);
            std::size_t index = 0;
            const float m = maximumAndIndex(x.data(), n, index);
            double reference = 0;
            for (float v : x) reference += std::exp(static_cast<double>(v) - m);
            EXPECT_NEAR(sumOfExponentials(x.data(), n, m), reference, reference * 2e-6) << n;
        }
    }
    // -inf adds (next to) nothing, NaN counts as -inf.
    std::vector<float> x{0.0f, -kInf, std::nanf(""), std::log(3.0f)};
    EXPECT_NEAR(sumOfExponentials(x.data(), x.size(), 0.0f), 4.0, 1e-6);
}

TEST(LogitKernels, HalfPrecisionScoresGiveWhatTheirFloatsGive) {
    std::mt19937 random(8);
    std::normal_distribution<float> spread(0.0f, 4.0f);
    for (std::size_t n : {1u, 17u, 100u, 1501u, 51865u}) {
        std::vector<std::uint16_t> bits(n);
        std::vector<float> values(n);
        for (std::size_t i = 0; i < n; ++i) {
            bits[i] = platform::ml::floatToHalfBits(spread(random));
            values[i] = platform::ml::halfBitsToFloat(bits[i]);
        }
        bits[n / 3] = 0x7E00;  // NaN, passed over
        values[n / 3] = std::nanf("");
        std::size_t halfIndex = 0, floatIndex = 0;
        const float m = halfMaximumAndIndex(bits.data(), n, halfIndex);
        EXPECT_EQ(m, maximumAndIndex(values.data(), n, floatIndex)) << n;
        EXPECT_EQ(halfIndex, floatIndex) << n;
        std::size_t portableIndex = 0;
        EXPECT_EQ(halfMaximumAndIndex(bits.data(), n, portableIndex, VectorPath::portable), m) << n;
        EXPECT_EQ(portableIndex, halfIndex) << n;
        if (!std::isfinite(m)) continue;
        double reference = 0;
        for (float v : values)
            if (!std::isnan(v)) reference += std::exp(static_cast<double>(v) - m);
        EXPECT_NEAR(halfSumOfExponentials(bits.data(), n, m), reference, reference * 2e-6) << n;
    }
    std::vector<std::uint16_t> none(40, 0xFC00);  // all -inf
    for (const VectorPath path : paths()) {
        std::size_t index = 0;
        EXPECT_EQ(halfMaximumAndIndex(none.data(), none.size(), index, path), -kInf);
        EXPECT_EQ(index, 40u);
    }
}

TEST(LogitKernels, DividesInPlace) {
    std::vector<float> x{1.0f, -3.0f, 0.5f, -kInf};
    divideInPlace(x.data(), x.size(), 0.5f);
    EXPECT_EQ(x, (std::vector<float>{2.0f, -6.0f, 1.0f, -kInf}));
}

}  // namespace
