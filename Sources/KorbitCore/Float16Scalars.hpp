#pragma once

// Half precision as an element type of shaped arrays and of the neural-network routines.

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/MultiArrayDataType.hpp"

#include <cstdint>

namespace korbit {

using Float16 = platform::ml::Float16;
using platform::ml::MLMultiArrayDataType;

/// Element types of the neural-network routines: a kind flag (0x10000 floating point, 0x20000
/// signed integer) combined with the width in bits, as for multi-arrays.
enum class BNNSDataType : std::uint32_t {
    float16 = 0x10000 | 16,
    float32 = 0x10000 | 32,
    int8 = 0x20000 | 8,
    int32 = 0x20000 | 32,
};

/// A scalar the neural-network routines can run on.
template <typename T>
struct BNNSScalar;

/// A scalar a shaped array (and so a multi-array) can hold.
template <typename T>
struct MLShapedArrayScalar;

template <>
struct BNNSScalar<Float16> {
    static constexpr BNNSDataType bnnsDataType = BNNSDataType::float16;
};

template <>
struct MLShapedArrayScalar<Float16> {
    static constexpr MLMultiArrayDataType multiArrayDataType = MLMultiArrayDataType::float16;
};

}  // namespace korbit
