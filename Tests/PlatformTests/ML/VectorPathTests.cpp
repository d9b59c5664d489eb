#include "Platform/ML/Float16.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/VectorProducts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace platform::ml;

TEST(VectorPath, ASettingLowersTheProcessorsPathButNeverRaisesIt) {
    EXPECT_EQ(limitVectorPath(VectorPath::avx512, "avx2"), VectorPath::avx2);
    EXPECT_EQ(limitVectorPath(VectorPath::avx512, "portable"), VectorPath::portable);
    EXPECT_EQ(limitVectorPath(VectorPath::avx2, "portable"), VectorPath::portable);
    EXPECT_EQ(limitVectorPath(VectorPath::avx2, "avx512"), VectorPath::avx2);
    EXPECT_EQ(limitVectorPath(VectorPath::portable, "avx2"), VectorPath::portable);
    // No setting, or one that names no path, leaves the processor's.
    EXPECT_EQ(limitVectorPath(VectorPath::avx512, std::nullopt), VectorPath::avx512);
    EXPECT_EQ(limitVectorPath(VectorPath::avx512, ""), VectorPath::avx512);
    EXPECT_EQ(limitVectorPath(VectorPath::avx2, "AVX2 please"), VectorPath::avx2);
}

TEST(VectorPath, ThisProcessRunsOnThePathItsSettingAllows) {
    // The runs of the reference checks with VELMORA_VECTOR_PATH set (see Tests/CMakeLists.txt) take
    // the paths of processors without AVX-512, or of other architectures.
    const char* setting = std::getenv("VELMORA_VECTOR_PATH");
    const std::string asked = setting ? setting : "";
    if (asked == "avx2") {
        EXPECT_NE(bestVectorPath(), VectorPath::avx512);
    } else if (asked == "portable") {
        EXPECT_EQ(bestVectorPath(), VectorPath::portable);
        EXPECT_FALSE(hasHardwareHalfConversion());
        // Conversions then take the portable code and still round to nearest even.
        const float values[3] = {1.0f + 1.0f / 2048.0f, 1.0f + 3.0f / 2048.0f, 65520.0f};
        std::uint16_t halves[3];
        convertFloatToHalf(values, halves, 3);
        EXPECT_EQ(halves[0], 0x3C00u);
        EXPECT_EQ(halves[1], 0x3C02u);
        EXPECT_EQ(halves[2], 0x7C00u);
    } else {
        EXPECT_EQ(bestVectorPath(), processorVectorPath());
    }
}

// One product whose rounding tells the paths apart: (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24 lies halfway
// between two floats. Code that rounds the product before adding it to -(1 + 2^-11) gets 0; code that
// fuses the multiply and the add keeps 2^-24. The vector paths' multiply-adds are fused as written;
// the portable path, in the baseline instruction set, rounds twice.
TEST(VectorPath, TheChosenPathReachesTheElementwiseKernels) {
    if (processorVectorPath() == VectorPath::portable) GTEST_SKIP() << "one path only on this processor";
    const float near = 1.0f + std::ldexp(1.0f, -12), below = -(1.0f + std::ldexp(1.0f, -11));
    const float expected = bestVectorPath() == VectorPath::portable ? 0.0f : std::ldexp(1.0f, -24);
    // Two terms in the same one of the sixteen running sums: the first sets it, the second is fused or not.
    std::vector<float> a(32, 0.0f), b(32, 0.0f);
    a[0] = 1.0f, b[0] = below, a[16] = near, b[16] = near;
    EXPECT_EQ(kernels::dot(a.data(), b.data(), a.size()), expected);
    std::vector<float> x(32, near), y(32, below);
    kernels::addScaled(x.data(), near, y.data(), y.size());
    for (float v : y) EXPECT_EQ(v, expected);
}
