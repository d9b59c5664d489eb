#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::ml {

/// Element types of a multi-array. The raw values combine a kind flag (0x10000 floating point,
/// 0x20000 integer) with the width in bits.
enum class MLMultiArrayDataType : std::int32_t {
    float16 = 0x10000 | 16,
    float32 = 0x10000 | 32,
    float64 = 0x10000 | 64,
    int8 = 0x20000 | 8,
    int32 = 0x20000 | 32,
};

std::size_t elementSize(MLMultiArrayDataType type);
/// "float16", "float32", "float64", "int8", "int32": the names bundles use.
std::string dataTypeName(MLMultiArrayDataType type);
std::optional<MLMultiArrayDataType> dataTypeNamed(std::string_view name);

}  // namespace platform::ml
