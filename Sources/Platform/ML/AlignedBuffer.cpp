#include "Platform/ML/AlignedBuffer.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace platform::ml {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

AlignedBuffer::AlignedBuffer(std::size_t bytes) {
    if (bytes == 0) return;
    const bool huge = bytes >= kHugePage;
    const std::size_t length = huge ? (bytes + kHugePage - 1) / kHugePage * kHugePage : bytes;
    // Anonymous mappings come zeroed; a large one is over-allocated so that it can start on a huge page.
    const std::size_t mapped = huge ? length + kHugePage : length;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    mapping_ = p;
    mappedBytes_ = mapped;
    auto start = reinterpret_cast<std::uintptr_t>(p);
    if (huge) {
        start = (start + kHugePage - 1) / kHugePage * kHugePage;
        // Not every kernel offers huge pages; the buffer works without them.
        madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    }
    data_ = reinterpret_cast<std::byte*>(start);
    size_ = bytes;
}

AlignedBuffer::~AlignedBuffer() {
    reset();
}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mappedBytes_(std::exchange(other.mappedBytes_, 0)) {}

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappedBytes_ = std::exchange(other.mappedBytes_, 0);
    }
    return *this;
}

void AlignedBuffer::reset() {
    if (mapping_) munmap(mapping_, mappedBytes_);
    mapping_ = nullptr;
    mappedBytes_ = 0;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace platform::ml
