#pragma once

// A shaped array: a dense, row-major value copy of a multi-array's elements in one scalar type,
// and the way back to a new multi-array.

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/MultiArray.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace platform::ml {

template <typename Scalar>
class MLShapedArray {
    static_assert(std::is_same_v<Scalar, Float16> || std::is_same_v<Scalar, float> ||
                      std::is_same_v<Scalar, std::int32_t>,
                  "a shaped array holds Float16, float or std::int32_t");

public:
    /// Throws std::invalid_argument when the scalars do not fill the shape.
    MLShapedArray(std::vector<Scalar> scalars, std::vector<std::int64_t> shape)
        : scalars_(std::move(scalars)), shape_(std::move(shape)) {
        const auto count = std::accumulate(shape_.begin(), shape_.end(), std::int64_t{1}, std::multiplies<>());
        if (count != static_cast<std::int64_t>(scalars_.size())) {
            throw std::invalid_argument("A shaped array of shape " + formatShape(shape_) + " needs " +
                                        std::to_string(count) + " scalars, not " + std::to_string(scalars_.size()));
        }
    }

    /// The multi-array's elements in row-major index order, converted to the scalar type.
    explicit MLShapedArray(const MLMultiArray& array) : shape_(array.shape()) {
        scalars_.reserve(static_cast<std::size_t>(array.count()));
        if (array.isContiguous()) {
            for (std::int64_t n = 0; n < array.count(); ++n) scalars_.push_back(convert(array.value(n)));
            return;
        }
        std::vector<std::int64_t> index(shape_.size(), 0);
        for (std::int64_t n = 0; n < array.count(); ++n) {
            scalars_.push_back(convert(array.value(index)));
            for (std::size_t k = shape_.size(); k-- > 0;) {
                if (++index[k] < shape_[k]) break;
                index[k] = 0;
            }
        }
    }

    const std::vector<std::int64_t>& shape() const { return shape_; }
    const std::vector<Scalar>& scalars() const { return scalars_; }

    /// A new dense multi-array of the matching element type holding the scalars.
    MLMultiArray toMultiArray() const {
        MLMultiArray array(shape_, dataType());
        auto* data = array.mutableData<Scalar>();
        std::copy(scalars_.begin(), scalars_.end(), data);
        return array;
    }

    static MLMultiArrayDataType dataType() {
        if constexpr (std::is_same_v<Scalar, Float16>) return MLMultiArrayDataType::float16;
        if constexpr (std::is_same_v<Scalar, float>) return MLMultiArrayDataType::float32;
        return MLMultiArrayDataType::int32;
    }

private:
    static Scalar convert(double value) {
        if constexpr (std::is_same_v<Scalar, Float16>) {
            return Float16(static_cast<float>(value));
        } else {
            return static_cast<Scalar>(value);
        }
    }

    std::vector<Scalar> scalars_;
    std::vector<std::int64_t> shape_;
};

}  // namespace platform::ml
