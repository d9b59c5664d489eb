#include "Platform/ML/MultiArray.hpp"

#include "Platform/ML/PixelBuffer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace platform::ml {

namespace {

std::atomic<std::uint64_t> nextStorageIdentifier{1};

std::int64_t checkedCount(const std::vector<std::int64_t>& shape) {
    std::int64_t count = 1;
    for (std::int64_t d : shape) {
        if (d < 0) throw MLMultiArrayError("Multi-array shape " + formatShape(shape) + " has a negative dimension");
        if (d != 0 && count > std::numeric_limits<std::int64_t>::max() / 16 / d)
            throw MLMultiArrayError("Multi-array shape " + formatShape(shape) + " is too large");
        count *= d;
    }
    return count;
}

std::vector<std::int64_t> denseStrides(const std::vector<std::int64_t>& shape) {
    std::vector<std::int64_t> strides(shape.size(), 1);
    for (std::size_t i = shape.size(); i-- > 1;) strides[i - 1] = strides[i] * std::max<std::int64_t>(shape[i], 1);
    return strides;
}

template <typename I>
I saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<I>::min())) return std::numeric_limits<I>::min();
    if (v >= static_cast<double>(std::numeric_limits<I>::max())) return std::numeric_limits<I>::max();
    return static_cast<I>(v);
}

}  // namespace

struct MLMultiArray::Storage {
    std::byte* base = nullptr;
    std::size_t bytes = 0;
    bool owned = false;
    std::shared_ptr<PixelBuffer> pixelBuffer;
    std::uint64_t identifier = nextStorageIdentifier.fetch_add(1);
    std::atomic<std::uint64_t> generation{0};

    ~Storage() {
        if (owned) std::free(base);
    }
};

std::string formatShape(const std::vector<std::int64_t>& shape) {
    std::string s = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (i) s += ", ";
        s += std::to_string(shape[i]);
    }
    return s + "]";
}

MLMultiArray::MLMultiArray(std::vector<std::int64_t> shape, MLMultiArrayDataType dataType)
    : shape_(std::move(shape)), dataType_(dataType) {
    count_ = checkedCount(shape_);
    strides_ = denseStrides(shape_);
    auto storage = std::make_shared<Storage>();
    storage->bytes = static_cast<std::size_t>(count_) * elementSize(dataType);
    // 64-byte alignment suits vector loads; calloc-like zero fill.
    const std::size_t allocation = ((std::max<std::size_t>(storage->bytes, 1) + 63) / 64) * 64;
    storage->base = static_cast<std::byte*>(std::aligned_alloc(64, allocation));
    if (!storage->base) throw std::bad_alloc();
    std::memset(storage->base, 0, allocation);
    storage->owned = true;
    storage_ = std::move(storage);
}

MLMultiArray::MLMultiArray(std::shared_ptr<PixelBuffer> pixelBuffer, std::vector<std::int64_t> shape)
    : shape_(std::move(shape)), dataType_(MLMultiArrayDataType::float16) {
    if (!pixelBuffer) throw MLMultiArrayError("No pixel buffer to lay the multi-array over");
    if (shape_.empty()) throw MLMultiArrayError("A multi-array over a pixel buffer needs at least one dimension");
    count_ = checkedCount(shape_);
    std::int64_t height = 1;
    for (std::size_t i = 0; i + 1 < shape_.size(); ++i) height *= shape_[i];
    if (static_cast<std::size_t>(shape_.back()) != pixelBuffer->width() ||
        static_cast<std::size_t>(height) != pixelBuffer->height())
        throw MLMultiArrayError("Multi-array shape " + formatShape(shape_) + " does not match a pixel buffer of " +
                                std::to_string(pixelBuffer->width()) + " x " + std::to_string(pixelBuffer->height()));
    const auto rowElements = static_cast<std::int64_t>(pixelBuffer->bytesPerRow() / 2);
    strides_.assign(shape_.size(), 1);
    if (shape_.size() >= 2) {
        strides_[shape_.size() - 2] = rowElements;
        for (std::size_t i = shape_.size() - 2; i-- > 0;) strides_[i] = strides_[i + 1] * shape_[i + 1];
    }
    auto storage = std::make_shared<Storage>();
    storage->base = static_cast<std::byte*>(pixelBuffer->baseAddress());
    storage->bytes = pixelBuffer->bytesPerRow() * pixelBuffer->height();
    storage->pixelBuffer = std::move(pixelBuffer);
    storage_ = std::move(storage);
}

bool MLMultiArray::isContiguous() const {
    return strides_ == denseStrides(shape_);
}

std::shared_ptr<PixelBuffer> MLMultiArray::pixelBuffer() const {
    return storage_ ? storage_->pixelBuffer : nullptr;
}

const void* MLMultiArray::bytes() const {
    return storage_ ? storage_->base : nullptr;
}

void* MLMultiArray::mutableBytes() {
    if (!storage_) return nullptr;
    storage_->generation.fetch_add(1, std::memory_order_relaxed);
    return storage_->base;
}

std::int64_t MLMultiArray::storageElements() const {
    return storage_ ? static_cast<std::int64_t>(storage_->bytes / elementSize(dataType_)) : 0;
}

std::uint64_t MLMultiArray::storageIdentifier() const {
    return storage_ ? storage_->identifier : 0;
}

std::uint64_t MLMultiArray::generation() const {
    return storage_ ? storage_->generation.load(std::memory_order_relaxed) : 0;
}

void MLMultiArray::checkElementType(std::size_t size, bool floating) const {
    const bool typeIsFloating = (static_cast<std::uint32_t>(dataType_) & 0x10000u) != 0;
    if (size != elementSize(dataType_) || floating != typeIsFloating)
        throw MLMultiArrayError("Multi-array of " + dataTypeName(dataType_) + " read with an element type of " +
                                std::to_string(size * 8) + " bits");
}

double MLMultiArray::value(std::int64_t offset) const {
    if (offset < 0 || offset >= storageElements())
        throw MLMultiArrayError("Offset " + std::to_string(offset) + " is outside the multi-array's storage");
    const std::byte* p = storage_->base + offset * static_cast<std::int64_t>(elementSize(dataType_));
    switch (dataType_) {
        case MLMultiArrayDataType::float16: {
            std::uint16_t bits;
            std::memcpy(&bits, p, 2);
            return halfBitsToFloat(bits);
        }
        case MLMultiArrayDataType::float32: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        case MLMultiArrayDataType::float64: {
            double d;
            std::memcpy(&d, p, 8);
            return d;
        }
        case MLMultiArrayDataType::int8:
            return static_cast<double>(static_cast<std::int8_t>(*p));
        case MLMultiArrayDataType::int32: {
            std::int32_t i;
            std::memcpy(&i, p, 4);
            return i;
        }
    }
    return 0;
}

void MLMultiArray::setValue(std::int64_t offset, double value) {
    if (offset < 0 || offset >= storageElements())
        throw MLMultiArrayError("Offset " + std::to_string(offset) + " is outside the multi-array's storage");
    std::byte* p = static_cast<std::byte*>(mutableBytes()) + offset * static_cast<std::int64_t>(elementSize(dataType_));
    switch (dataType_) {
        case MLMultiArrayDataType::float16: {
            std::uint16_t bits = floatToHalfBits(static_cast<float>(value));
            std::memcpy(p, &bits, 2);
            break;
        }
        case MLMultiArrayDataType::float32: {
            float f = static_cast<float>(value);
            std::memcpy(p, &f, 4);
            break;
        }
        case MLMultiArrayDataType::float64:
            std::memcpy(p, &value, 8);
            break;
        case MLMultiArrayDataType::int8:
            *p = static_cast<std::byte>(saturate<std::int8_t>(value));
            break;
        case MLMultiArrayDataType::int32: {
            std::int32_t i = saturate<std::int32_t>(value);
            std::memcpy(p, &i, 4);
            break;
        }
    }
}

std::int64_t MLMultiArray::offset(const std::vector<std::int64_t>& index) const {
    if (index.size() != shape_.size())
        throw MLMultiArrayError("Index of " + std::to_string(index.size()) + " dimensions for a multi-array of shape " +
                                formatShape(shape_));
    std::int64_t o = 0;
    for (std::size_t i = 0; i < index.size(); ++i) {
        if (index[i] < 0 || index[i] >= shape_[i])
            throw MLMultiArrayError("Index " + formatShape(index) + " is outside the shape " + formatShape(shape_));
        o += index[i] * strides_[i];
    }
    return o;
}

std::vector<float> MLMultiArray::toFloatVector() const {
    std::vector<float> out(static_cast<std::size_t>(count_));
    if (count_ == 0) return out;
    if (isContiguous() && dataType_ == MLMultiArrayDataType::float16) {
        convertHalfToFloat(static_cast<const std::uint16_t*>(bytes()), out.data(), out.size());
        return out;
    }
    if (isContiguous() && dataType_ == MLMultiArrayDataType::float32) {
        std::memcpy(out.data(), bytes(), out.size() * 4);
        return out;
    }
    std::vector<std::int64_t> index(shape_.size(), 0);
    for (std::size_t n = 0; n < out.size(); ++n) {
        std::int64_t o = 0;
        for (std::size_t i = 0; i < index.size(); ++i) o += index[i] * strides_[i];
        out[n] = static_cast<float>(value(o));
        for (std::size_t i = index.size(); i-- > 0;) {
            if (++index[i] < shape_[i]) break;
            index[i] = 0;
        }
    }
    return out;
}

}  // namespace platform::ml
