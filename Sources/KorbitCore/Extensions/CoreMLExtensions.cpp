#include "KorbitCore/Extensions/CoreMLExtensions.hpp"

#include <cstring>
#include <limits>

namespace korbit {

using platform::ml::MLMultiArrayDataType;
using platform::ml::MLTensorScalarType;

std::string description(MLComputeUnits units) {
    switch (units) {
        case MLComputeUnits::cpuOnly:
            return "cpuOnly";
        case MLComputeUnits::cpuAndGPU:
            return "cpuAndGPU";
        case MLComputeUnits::all:
            return "all";
        case MLComputeUnits::cpuAndNeuralEngine:
            return "cpuAndNeuralEngine";
    }
    return "unknown";
}

std::string displayName(MLComputeUnits units) {
    switch (units) {
        case MLComputeUnits::cpuOnly:
            return "CPU";
        case MLComputeUnits::cpuAndGPU:
            return "GPU";
        case MLComputeUnits::all:
            return "All";
        case MLComputeUnits::cpuAndNeuralEngine:
            return "Neural Engine";
    }
    return "Unknown";
}

std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel& model, const MLFeatureProvider& input,
                                                   const MLPredictionOptions& options) {
    return model.prediction(input, options);
}

std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel& model, const MLFeatureProvider& input, MLState& state,
                                                   const MLPredictionOptions& options) {
    return model.prediction(input, state, options);
}

std::shared_ptr<PixelBuffer> pixelBuffer(const std::vector<std::int64_t>& shape) {
    if (shape.empty()) return nullptr;
    const std::int64_t width = shape.back();
    std::int64_t height = 1;
    if (width <= 0) return nullptr;
    for (std::size_t i = 0; i + 1 < shape.size(); ++i) {
        if (shape[i] <= 0 || height > std::numeric_limits<std::int64_t>::max() / shape[i]) return nullptr;
        height *= shape[i];
    }
    return PixelBuffer::create(static_cast<std::size_t>(width), static_cast<std::size_t>(height));
}

namespace {

template <typename T>
void fillAll(MLMultiArray& array, T value) {
    T* data = array.mutableData<T>();
    // Elements by index through the strides, so that padded rows are never written.
    const auto& shape = array.shape();
    const auto& strides = array.strides();
    std::vector<std::int64_t> index(shape.size(), 0);
    for (std::int64_t n = 0; n < array.count(); ++n) {
        std::int64_t offset = 0;
        for (std::size_t i = 0; i < index.size(); ++i) offset += index[i] * strides[i];
        data[offset] = value;
        for (std::size_t i = index.size(); i-- > 0;) {
            if (++index[i] < shape[i]) break;
            index[i] = 0;
        }
    }
}

template <typename T>
void fillAt(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, T value,
            MLMultiArrayDataType expected) {
    if (array.dataType() != expected)
        throw std::invalid_argument("Cannot fill a multi-array of " + platform::ml::dataTypeName(array.dataType()) +
                                    " with a value of " + platform::ml::dataTypeName(expected));
    std::vector<std::int64_t> offsets;
    for (const auto& index : indexes) {
        const std::int64_t o = linearOffset(array, index);
        if (o < 0 || o >= array.storageElements())
            throw std::invalid_argument("Index " + platform::ml::formatShape(index) + " lies outside the multi-array");
        offsets.push_back(o);
    }
    if (offsets.empty()) return;
    T* data = array.mutableData<T>();
    for (auto o : offsets) data[o] = value;
}

}  // namespace

MLMultiArray makeMultiArray(const std::vector<std::int64_t>& shape, MLMultiArrayDataType dataType,
                            const std::any& initialValue) {
    if (dataType == MLMultiArrayDataType::float16) {
        auto buffer = pixelBuffer(shape);
        if (!buffer) throw MLMultiArrayCreationError::pixelBufferFailed();
        MLMultiArray array(std::move(buffer), shape);
        if (const auto* v = std::any_cast<Float16>(&initialValue)) fillAll(array, *v);
        return array;
    }
    MLMultiArray array(shape, dataType);
    if (dataType == MLMultiArrayDataType::float32) {
        if (const auto* v = std::any_cast<float>(&initialValue)) fillAll(array, *v);
    } else if (dataType == MLMultiArrayDataType::float64) {
        if (const auto* v = std::any_cast<double>(&initialValue)) fillAll(array, *v);
    } else if (dataType == MLMultiArrayDataType::int32) {
        if (const auto* v = std::any_cast<std::int32_t>(&initialValue)) fillAll(array, *v);
    } else if (dataType == MLMultiArrayDataType::int8) {
        if (const auto* v = std::any_cast<std::int8_t>(&initialValue)) fillAll(array, *v);
    }
    return array;
}

MLMultiArray multiArrayFrom(const std::vector<long>& values, int dims) {
    if (dims < 1) throw std::invalid_argument("A multi-array needs at least one dimension");
    for (long v : values)
        if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
            throw std::invalid_argument("The value " + std::to_string(v) + " does not fit in 32 bits");
    std::vector<std::int64_t> shape(static_cast<std::size_t>(dims), 1);
    shape.back() = static_cast<std::int64_t>(values.size());
    MLMultiArray array(shape, MLMultiArrayDataType::int32);
    auto* data = array.mutableData<std::int32_t>();
    for (std::size_t i = 0; i < values.size(); ++i) data[i] = static_cast<std::int32_t>(values[i]);
    return array;
}

std::int64_t linearOffset(const MLMultiArray& array, const std::vector<std::int64_t>& index,
                          const std::optional<std::vector<std::int64_t>>& strides) {
    const auto& s = strides ? *strides : array.strides();
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < std::min(index.size(), s.size()); ++i) offset += index[i] * s[i];
    return offset;
}

void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, Float16 value) {
    fillAt(array, indexes, value, MLMultiArrayDataType::float16);
}

void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, float value) {
    fillAt(array, indexes, value, MLMultiArrayDataType::float32);
}

void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, std::int32_t value) {
    fillAt(array, indexes, value, MLMultiArrayDataType::int32);
}

void fillLastDimension(MLMultiArray& array, std::int64_t begin, std::int64_t end, Float16 value) {
    const auto& shape = array.shape();
    if (shape.size() != 3 || shape[0] != 1 || shape[1] != 1)
        throw std::invalid_argument("fillLastDimension needs a [1, 1, N] multi-array, not " +
                                    platform::ml::formatShape(shape));
    if (array.dataType() != MLMultiArrayDataType::float16)
        throw std::invalid_argument("fillLastDimension needs a half-precision multi-array");
    if (begin >= end) return;
    if (begin < 0 || end > shape[2])
        throw std::invalid_argument("The range " + std::to_string(begin) + "..<" + std::to_string(end) +
                                    " lies outside the last dimension of " + std::to_string(shape[2]));
    Float16* data = array.mutableData<Float16>();
    const std::int64_t stride = array.strides()[2];
    for (std::int64_t i = begin; i < end; ++i) data[i * stride] = value;
}

std::vector<long> toIntArray(const MLTensor& tensor) {
    const auto ints = tensor.scalars<std::int32_t>();
    return std::vector<long>(ints.begin(), ints.end());
}

namespace {

void requireSupported(const MLTensor& tensor) {
    const auto t = tensor.scalarType();
    if (t != MLTensorScalarType::float32 && t != MLTensorScalarType::float16 && t != MLTensorScalarType::int32)
        throw std::invalid_argument("Unsupported scalar type: " + platform::ml::scalarTypeName(t));
}

}  // namespace

std::vector<float> toFloatArray(const MLTensor& tensor) {
    requireSupported(tensor);
    return tensor.scalars<float>();
}

MLMultiArray toMLMultiArray(const MLTensor& tensor) {
    requireSupported(tensor);
    MLMultiArrayDataType type = MLMultiArrayDataType::float32;
    if (tensor.scalarType() == MLTensorScalarType::float16) type = MLMultiArrayDataType::float16;
    if (tensor.scalarType() == MLTensorScalarType::int32) type = MLMultiArrayDataType::int32;
    MLMultiArray array(tensor.shape(), type);
    if (tensor.scalarCount() > 0)
        std::memcpy(array.mutableBytes(), tensor.rawData(),
                    tensor.scalarCount() * platform::ml::scalarSize(tensor.scalarType()));
    return array;
}

}  // namespace korbit
