#pragma once

// A dense n-dimensional value of one scalar type, as model code passes them between routines.

#include "Platform/ML/Float16.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace platform::ml {

enum class MLTensorScalarType { float32, float16, int32, int8, uint8, bool_ };

std::string scalarTypeName(MLTensorScalarType type);
std::size_t scalarSize(MLTensorScalarType type);

class MLTensor {
public:
    MLTensor() = default;
    /// Elements in row-major order; their number must match the shape.
    template <typename T>
    MLTensor(std::vector<std::int64_t> shape, const std::vector<T>& scalars) : shape_(std::move(shape)) {
        scalarType_ = typeOf<T>();
        std::int64_t n = 1;
        for (auto d : shape_) n *= d;
        if (n != static_cast<std::int64_t>(scalars.size()))
            throw std::invalid_argument("Tensor of shape with " + std::to_string(n) + " elements given " +
                                        std::to_string(scalars.size()) + " scalars");
        bytes_.resize(scalars.size() * sizeof(T));
        if (!scalars.empty()) std::memcpy(bytes_.data(), scalars.data(), bytes_.size());
    }

    const std::vector<std::int64_t>& shape() const { return shape_; }
    MLTensorScalarType scalarType() const { return scalarType_; }
    std::size_t scalarCount() const { return bytes_.size() / scalarSize(scalarType_); }
    const std::uint8_t* rawData() const { return bytes_.data(); }

    /// Every scalar converted to T (floats to integers truncate toward zero, saturating).
    template <typename T>
    std::vector<T> scalars() const;

private:
    template <typename T>
    static constexpr MLTensorScalarType typeOf() {
        if constexpr (std::is_same_v<T, float>)
            return MLTensorScalarType::float32;
        else if constexpr (std::is_same_v<T, Float16>)
            return MLTensorScalarType::float16;
        else if constexpr (std::is_same_v<T, std::int32_t>)
            return MLTensorScalarType::int32;
        else if constexpr (std::is_same_v<T, std::int8_t>)
            return MLTensorScalarType::int8;
        else if constexpr (std::is_same_v<T, std::uint8_t>)
            return MLTensorScalarType::uint8;
        else if constexpr (std::is_same_v<T, bool>)
            return MLTensorScalarType::bool_;
        else
            static_assert(sizeof(T) == 0, "unsupported tensor scalar");
    }
    double scalarAt(std::size_t i) const;

    std::vector<std::int64_t> shape_;
    MLTensorScalarType scalarType_ = MLTensorScalarType::float32;
    std::vector<std::uint8_t> bytes_;
};

template <typename T>
std::vector<T> MLTensor::scalars() const {
    std::vector<T> out(scalarCount());
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double v = scalarAt(i);
        if constexpr (std::is_integral_v<T>) {
            if (!(v == v))
                out[i] = 0;
            else if (v <= static_cast<double>(std::numeric_limits<T>::min()))
                out[i] = std::numeric_limits<T>::min();
            else if (v >= static_cast<double>(std::numeric_limits<T>::max()))
                out[i] = std::numeric_limits<T>::max();
            else
                out[i] = static_cast<T>(v);
        } else {
            out[i] = static_cast<T>(static_cast<float>(v));
        }
    }
    return out;
}

}  // namespace platform::ml
