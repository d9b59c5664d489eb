#include "Platform/Compression/Deflate.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using platform::compression::deflatedSize;

TEST(Deflate, RepetitiveBytesShrinkAndRandomOnesDoNot) {
    const std::string repeated(4000, 'a');
    EXPECT_LT(deflatedSize(repeated, 5), 100u);
    std::string noise;
    unsigned state = 12345;
    for (int i = 0; i < 4000; ++i) {
        state = state * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(state >> 16));
    }
    EXPECT_GE(deflatedSize(noise, 5), 4000u);  // stored blocks: no header or checksum, a few bytes more
    EXPECT_LT(deflatedSize(noise, 5), 4100u);
}

TEST(Deflate, RawStreamHasNoHeaderAndEmptyInputStillEndsTheStream) {
    // One empty final block of raw DEFLATE is two bytes; the zlib wrapper would add six more.
    EXPECT_EQ(deflatedSize("", 5), 2u);
    EXPECT_EQ(deflatedSize("a", 5), 3u);
}

TEST(Deflate, ABadLevelIsAnErrorWithTheCompressorsMessage) {
    EXPECT_THROW(deflatedSize("text", 42), std::runtime_error);
}
