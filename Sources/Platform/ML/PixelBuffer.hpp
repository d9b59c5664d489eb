#pragma once

// A two-dimensional buffer of one-component pixels in shared memory, the kind of surface that
// half-precision multi-arrays may be laid over so that other processes or devices can map it.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform::ml {

/// Four-character code of the one-component 16-bit half-float format ('L00h').
inline constexpr std::uint32_t kPixelFormatOneComponent16Half = 0x4C303068u;

class PixelBuffer {
public:
    /// A zero-filled buffer of width x height half-float pixels; absent when the size is zero, overflows,
    /// or the shared memory cannot be made.
    static std::shared_ptr<PixelBuffer> create(std::size_t width, std::size_t height,
                                               std::uint32_t pixelFormat = kPixelFormatOneComponent16Half);
    ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t bytesPerRow() const { return bytesPerRow_; }
    std::uint32_t pixelFormat() const { return pixelFormat_; }
    /// The file descriptor of the shared memory, for mapping elsewhere.
    int fileDescriptor() const { return fd_; }
    void* baseAddress() const { return base_; }

private:
    PixelBuffer() = default;
    std::size_t width_ = 0, height_ = 0, bytesPerRow_ = 0, mappedBytes_ = 0;
    std::uint32_t pixelFormat_ = 0;
    int fd_ = -1;
    void* base_ = nullptr;
};

}  // namespace platform::ml
