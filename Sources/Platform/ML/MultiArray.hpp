#pragma once

// A shared n-dimensional array: copies of the handle share one storage, so an array written in
// place is seen by every holder.

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/MultiArrayDataType.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace platform::ml {

class PixelBuffer;

/// A multi-array that cannot be made (bad shape, strides or storage) or an access out of its bounds.
class MLMultiArrayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MLMultiArray {
public:
    /// An empty handle (no storage, count 0).
    MLMultiArray() = default;
    /// A zero-filled dense row-major array. Negative dimensions or a size that overflows throw.
    MLMultiArray(std::vector<std::int64_t> shape, MLMultiArrayDataType dataType);
    /// A half-precision array laid over a pixel buffer: the last dimension runs along a row, the
    /// others down the rows (height = product of the other dimensions).
    MLMultiArray(std::shared_ptr<PixelBuffer> pixelBuffer, std::vector<std::int64_t> shape);

    bool isNull() const { return storage_ == nullptr; }
    const std::vector<std::int64_t>& shape() const { return shape_; }
    /// Strides in elements; the last is 1 for a dense array.
    const std::vector<std::int64_t>& strides() const { return strides_; }
    MLMultiArrayDataType dataType() const { return dataType_; }
    /// Number of elements (the product of the shape).
    std::int64_t count() const { return count_; }
    /// True when the elements lie densely in row-major order.
    bool isContiguous() const;
    /// The pixel buffer under the array, when it was made over one.
    std::shared_ptr<PixelBuffer> pixelBuffer() const;

    /// Read access to the storage. Reading never changes the array's generation.
    const void* bytes() const;
    /// Write access to the storage; every call counts as a change of the contents (see generation()).
    void* mutableBytes();
    /// Number of elements the storage holds (at least the largest reachable offset + 1).
    std::int64_t storageElements() const;

    template <typename T>
    const T* data() const {
        checkElementType(sizeof(T), isFloatingType<T>());
        return static_cast<const T*>(bytes());
    }
    template <typename T>
    T* mutableData() {
        checkElementType(sizeof(T), isFloatingType<T>());
        return static_cast<T*>(mutableBytes());
    }

    /// Element at a flat storage offset (sum of index x stride), widened to double.
    double value(std::int64_t offset) const;
    /// Stores a value at a flat storage offset, converted to the element type (round to nearest even
    /// for half precision; integers saturate).
    void setValue(std::int64_t offset, double value);
    /// Offset of a full index through the array's strides; throws when the index is out of bounds.
    std::int64_t offset(const std::vector<std::int64_t>& index) const;
    double value(const std::vector<std::int64_t>& index) const { return value(offset(index)); }
    void setValue(const std::vector<std::int64_t>& index, double v) { setValue(offset(index), v); }

    /// Copies the elements in row-major index order into floats, whatever the strides.
    std::vector<float> toFloatVector() const;

    /// A process-unique number of the storage; copies of the handle share it, new arrays never reuse it.
    std::uint64_t storageIdentifier() const;
    /// Counts writes through mutableBytes()/mutableData()/setValue(); with storageIdentifier() it
    /// tells whether contents seen earlier may have changed.
    std::uint64_t generation() const;

private:
    struct Storage;
    template <typename T>
    static constexpr bool isFloatingType() {
        return std::is_floating_point_v<T> || std::is_same_v<T, Float16>;
    }
    void checkElementType(std::size_t size, bool floating) const;

    std::shared_ptr<Storage> storage_;
    std::vector<std::int64_t> shape_;
    std::vector<std::int64_t> strides_;
    MLMultiArrayDataType dataType_ = MLMultiArrayDataType::float32;
    std::int64_t count_ = 0;
};

/// Human-readable "[1, 80, 1, 3000]".
std::string formatShape(const std::vector<std::int64_t>& shape);

}  // namespace platform::ml
