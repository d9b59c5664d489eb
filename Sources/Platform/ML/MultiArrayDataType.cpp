#include "Platform/ML/MultiArrayDataType.hpp"

namespace platform::ml {

std::size_t elementSize(MLMultiArrayDataType type) {
    return (static_cast<std::uint32_t>(type) & 0xFFFFu) / 8;
}

std::string dataTypeName(MLMultiArrayDataType type) {
    switch (type) {
        case MLMultiArrayDataType::float16:
            return "float16";
        case MLMultiArrayDataType::float32:
            return "float32";
        case MLMultiArrayDataType::float64:
            return "float64";
        case MLMultiArrayDataType::int8:
            return "int8";
        case MLMultiArrayDataType::int32:
            return "int32";
    }
    return "unknown(" + std::to_string(static_cast<std::int32_t>(type)) + ")";
}

std::optional<MLMultiArrayDataType> dataTypeNamed(std::string_view name) {
    if (name == "float16") return MLMultiArrayDataType::float16;
    if (name == "float32") return MLMultiArrayDataType::float32;
    if (name == "float64") return MLMultiArrayDataType::float64;
    if (name == "int8") return MLMultiArrayDataType::int8;
    if (name == "int32") return MLMultiArrayDataType::int32;
    return std::nullopt;
}

}  // namespace platform::ml
