#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace tremolan;

namespace {

/// Samples whose bytes are the given 32-bit words, as this machine stores them.
std::vector<float> samplesOfWords(const std::vector<std::uint32_t>& words) {
    std::vector<float> samples(words.size());
    std::memcpy(samples.data(), words.data(), words.size() * sizeof(float));
    return samples;
}

}  // namespace

TEST(WaveformImage, TheSamplesBytesArePixelsOfFourComponentsAlphaFirst) {
    const AudioProcessor processor;
    // 1.0f is the word 0x3F800000: alpha 0x3F, red 0x80, green and blue 0.
    const std::vector<float> samples{1.0f, -2.5f, 0.0f, 0.5f, 1.0f, 1.0f};
    const auto image = processor.createWaveformImage(samples, 2.0, 3.0);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 2u);
    EXPECT_EQ(image->height, 3u);
    EXPECT_EQ(image->bytesPerRow, 8u);
    EXPECT_EQ(WaveformImage::bitsPerComponent, 8);
    EXPECT_EQ(WaveformImage::bitsPerPixel, 32);
    ASSERT_EQ(image->pixels.size(), 24u);
    EXPECT_EQ(std::memcmp(image->pixels.data(), samples.data(), 24), 0);  // drawn from nothing but the bytes
    EXPECT_EQ(image->argb(0, 0), 0x3F800000u);
    EXPECT_EQ(image->argb(1, 0), 0xC0200000u);  // -2.5f
    EXPECT_EQ(image->argb(0, 1), 0x00000000u);
    EXPECT_EQ(image->argb(1, 1), 0x3F000000u);  // 0.5f
    EXPECT_EQ(image->argb(1, 2), 0x3F800000u);

    // The words' byte order is fixed: the first byte of a pixel is its blue, the last its alpha.
    const auto words = WaveformImage::fromSamples(samplesOfWords({0x80402010u}), 1, 1);
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(words->argb(0, 0), 0x80402010u);
}

TEST(WaveformImage, SizesAreTruncatedAndBytesBeyondTheImageAreLeftOut) {
    const std::vector<float> samples = samplesOfWords({1, 2, 3, 4, 5, 6, 7});
    const auto image = WaveformImage::fromSamples(samples, 3.99, 2.5);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 3u);
    EXPECT_EQ(image->height, 2u);
    EXPECT_EQ(image->bytesPerRow, 12u);
    EXPECT_EQ(image->pixels.size(), 24u);
    EXPECT_EQ(image->argb(0, 1), 4u);
    EXPECT_EQ(image->argb(2, 1), 6u);
}

TEST(WaveformImage, NoneWhenTheBytesDoNotFillTheImageOrTheSizeIsNoImage) {
    const std::vector<float> four(4, 0.25f);
    EXPECT_TRUE(WaveformImage::fromSamples(four, 2, 2).has_value());
    EXPECT_FALSE(WaveformImage::fromSamples(four, 2, 3).has_value());
    EXPECT_FALSE(WaveformImage::fromSamples(four, 5, 1).has_value());
    EXPECT_FALSE(WaveformImage::fromSamples({}, 1, 1).has_value());
    for (const double bad : {0.0, 0.99, -1.0, -0.5, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_FALSE(WaveformImage::fromSamples(four, bad, 1).has_value()) << bad;
        EXPECT_FALSE(WaveformImage::fromSamples(four, 1, bad).has_value()) << bad;
    }
    // A size whose byte count overflows is no image rather than a small one.
    EXPECT_FALSE(WaveformImage::fromSamples(four, 4294967295.0, 4294967295.0).has_value());
}
