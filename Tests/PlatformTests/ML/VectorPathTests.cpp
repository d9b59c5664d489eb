#include "Platform/ML/Float16.hpp"
#include "Platform/ML/VectorProducts.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
