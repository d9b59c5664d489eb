#include "Tremolan/Core/Audio/WaveformImage.hpp"

#include "Tremolan/Core/Audio/AudioProcessing.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace tremolan {
namespace {

/// A size truncated toward zero; none unless it is at least one pixel and fits the byte counts.
std::optional<std::size_t> wholePixels(double size) {
    if (!std::isfinite(size)) return std::nullopt;
    const double whole = std::trunc(size);
    if (whole < 1 || whole > static_cast<double>(std::numeric_limits<std::uint32_t>::max())) return std::nullopt;
    return static_cast<std::size_t>(whole);
}

}  // namespace

std::uint32_t WaveformImage::argb(std::size_t x, std::size_t y) const {
    const std::uint8_t* p = pixels.data() + y * bytesPerRow + x * 4;
    // A little-endian word: the first byte is its lowest.
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::optional<WaveformImage> WaveformImage::fromSamples(const std::vector<float>& samples, double width,
                                                        double height) {
    const auto w = wholePixels(width), h = wholePixels(height);
    if (!w || !h) return std::nullopt;
    const std::size_t bytesPerRow = *w * 4;
    // Both at most 2^32 - 1: the product of the row bytes and the height would overflow past this.
    if (bytesPerRow > std::numeric_limits<std::size_t>::max() / *h) return std::nullopt;
    const std::size_t needed = bytesPerRow * *h;
    if (samples.size() * sizeof(float) < needed) return std::nullopt;
    WaveformImage image;
    image.width = *w;
    image.height = *h;
    image.bytesPerRow = bytesPerRow;
    image.pixels.resize(needed);
    std::memcpy(image.pixels.data(), samples.data(), needed);
    return image;
}

std::optional<WaveformImage> AudioProcessing::createWaveformImage(const std::vector<float>& audio, double width,
                                                                  double height) const {
    return WaveformImage::fromSamples(audio, width, height);
}

}  // namespace tremolan
