#pragma once

// A picture made of a sample array's own bytes: nothing is drawn. Each pixel is one 32-bit
// little-endian word, alpha first and premultiplied (in memory: blue, green, red, alpha), 8 bits per
// component, device RGB, rows of width x 4 bytes, shown without interpolation.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tremolan {

struct WaveformImage {
    static constexpr int bitsPerComponent = 8;
    static constexpr int bitsPerPixel = 32;
    static constexpr bool premultipliedAlphaFirst = true;
    static constexpr bool littleEndianWords = true;
    static constexpr bool interpolates = false;

    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t bytesPerRow = 0;
    /// bytesPerRow x height bytes, the first ones of the samples.
    std::vector<std::uint8_t> pixels;

    /// The four components of the pixel at (x, y), as alpha, red, green, blue.
    std::uint32_t argb(std::size_t x, std::size_t y) const;

    /// The samples' bytes as a width x height image; none when the sizes are not positive whole
    /// numbers of pixels (truncated toward zero) or the bytes do not fill the image.
    static std::optional<WaveformImage> fromSamples(const std::vector<float>& samples, double width, double height);
};

}  // namespace tremolan
