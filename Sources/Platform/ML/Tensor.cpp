#include "Platform/ML/Tensor.hpp"

namespace platform::ml {

std::string scalarTypeName(MLTensorScalarType type) {
    switch (type) {
        case MLTensorScalarType::float32:
            return "Float";
        case MLTensorScalarType::float16:
            return "Float16";
        case MLTensorScalarType::int32:
            return "Int32";
        case MLTensorScalarType::int8:
            return "Int8";
        case MLTensorScalarType::uint8:
            return "UInt8";
        case MLTensorScalarType::bool_:
            return "Bool";
    }
    return "?";
}

std::size_t scalarSize(MLTensorScalarType type) {
    switch (type) {
        case MLTensorScalarType::float32:
        case MLTensorScalarType::int32:
            return 4;
        case MLTensorScalarType::float16:
            return 2;
        default:
            return 1;
    }
}

double MLTensor::scalarAt(std::size_t i) const {
    const std::uint8_t* p = bytes_.data() + i * scalarSize(scalarType_);
    switch (scalarType_) {
        case MLTensorScalarType::float32: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        case MLTensorScalarType::float16: {
            std::uint16_t h;
            std::memcpy(&h, p, 2);
            return halfBitsToFloat(h);
        }
        case MLTensorScalarType::int32: {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        case MLTensorScalarType::int8:
            return static_cast<std::int8_t>(*p);
        case MLTensorScalarType::uint8:
            return *p;
        case MLTensorScalarType::bool_:
            return *p ? 1.0 : 0.0;
    }
    return 0;
}

}  // namespace platform::ml
