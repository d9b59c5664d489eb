#include "Platform/ML/PixelBuffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <limits>

namespace platform::ml {

std::shared_ptr<PixelBuffer> PixelBuffer::create(std::size_t width, std::size_t height, std::uint32_t pixelFormat) {
    if (pixelFormat != kPixelFormatOneComponent16Half || width == 0 || height == 0) return nullptr;
    constexpr std::size_t pixelBytes = 2;
    if (width > std::numeric_limits<std::size_t>::max() / pixelBytes / height) return nullptr;
    // Rows are packed without padding, so the buffer is also a dense row-major array.
    const std::size_t bytesPerRow = width * pixelBytes;
    const std::size_t bytes = bytesPerRow * height;
    if (bytes > static_cast<std::size_t>(std::numeric_limits<off_t>::max())) return nullptr;

    int fd = memfd_create("velmora-pixel-buffer", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        close(fd);
        return nullptr;
    }
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    std::shared_ptr<PixelBuffer> buffer(new PixelBuffer());
    buffer->width_ = width;
    buffer->height_ = height;
    buffer->bytesPerRow_ = bytesPerRow;
    buffer->mappedBytes_ = bytes;
    buffer->pixelFormat_ = pixelFormat;
    buffer->fd_ = fd;
    buffer->base_ = base;
    return buffer;
}

PixelBuffer::~PixelBuffer() {
    if (base_) munmap(base_, mappedBytes_);
    if (fd_ >= 0) close(fd_);
}

}  // namespace platform::ml
