#include "Support/LogCapture.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tremolan;

// Expected values: raw size over the size of a raw DEFLATE stream made at level 5.
TEST(TextUtilities, TokenRatioCompressesFourLittleEndianBytesPerToken) {
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio(std::vector<int>(200, 50363)), 800.0f / 14.0f);
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio(std::vector<int>{50363}), 4.0f / 6.0f);
    const std::vector<int> window = {50258, 50259, 50359, 50364, 634, 1029, 1333, 291, 1027, 13, 50414, 50257};
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio(window), 48.0f / 42.0f);
    EXPECT_EQ(TextUtilities::compressionRatio(window), TextUtilities::compressionRatio(window));
    EXPECT_GT(TextUtilities::compressionRatio(std::vector<int>(200, 7)), 2.4f);
    EXPECT_EQ(TextUtilities::compressionRatio(std::vector<int>{}), 0.0f);
}

TEST(TextUtilities, TextRatioCompressesTheUtf8Bytes) {
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio(std::string_view(
                        "And so my fellow Americans, ask not what your country can do for you, ask what you can "
                        "do for your country.")),
                    107.0f / 73.0f);
    std::string repeated;
    for (int i = 0; i < 100; ++i) repeated += "la ";
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio(std::string_view(repeated)), 300.0f / 9.0f);
}

TEST(TextUtilities, TextThatCannotBeMeasuredIsInfinitelyRepetitive) {
    velmora::test::LogCapture log;
    EXPECT_EQ(TextUtilities::compressionRatio(std::string_view("")), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(TextUtilities::compressionRatio(std::string_view("\xff\xfe")), std::numeric_limits<float>::infinity());
    EXPECT_EQ(log.count("String encoding error"), 1);
}
