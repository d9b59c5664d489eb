#pragma once

// Shared additions over the model runtime: prediction calls, compute-unit texts, multi-array
// creation with an initial value, offset and fill helpers, and tensor conversions.

#include "KorbitCore/Float16Scalars.hpp"
#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/Model.hpp"
#include "Platform/ML/MultiArray.hpp"
#include "Platform/ML/PixelBuffer.hpp"
#include "Platform/ML/Tensor.hpp"

#include <any>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korbit {

using platform::ml::MLComputeUnits;
using platform::ml::MLFeatureProvider;
using platform::ml::MLModel;
using platform::ml::MLMultiArray;
using platform::ml::MLPredictionOptions;
using platform::ml::MLState;
using platform::ml::MLTensor;
using platform::ml::PixelBuffer;

class MLMultiArrayCreationError : public std::runtime_error {
public:
    enum class Kind { pixelBufferFailed };

    static MLMultiArrayCreationError pixelBufferFailed() {
        return MLMultiArrayCreationError(Kind::pixelBufferFailed,
                                         "Failed to create IOSurface-backed pixel buffer for MLMultiArray");
    }
    Kind kind() const { return kind_; }
    std::string errorDescription() const { return what(); }
    bool operator==(const MLMultiArrayCreationError& other) const { return kind_ == other.kind_; }

private:
    MLMultiArrayCreationError(Kind kind, const char* message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

/// An object that owns one model.
class MLModelLoading {
public:
    virtual ~MLModelLoading() = default;
    virtual void loadModel(const std::filesystem::path& url, MLComputeUnits computeUnits, bool prewarmMode) = 0;
    virtual void unloadModel() = 0;
    /// Loads without prewarming.
    void loadModel(const std::filesystem::path& url, MLComputeUnits computeUnits) {
        loadModel(url, computeUnits, false);
    }
};

/// "cpuOnly", "cpuAndGPU", "all", "cpuAndNeuralEngine"; "unknown" for any other value.
std::string description(MLComputeUnits units);
/// "CPU", "GPU", "All", "Neural Engine"; "Unknown" for any other value.
std::string displayName(MLComputeUnits units);

/// Runs a prediction on the calling thread; the model's errors reach the caller unchanged.
std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel& model, const MLFeatureProvider& input,
                                                   const MLPredictionOptions& options = {});
std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel& model, const MLFeatureProvider& input, MLState& state,
                                                   const MLPredictionOptions& options = {});

/// A multi-array of the shape and element type. Half precision lies over a shared-memory pixel
/// buffer (MLMultiArrayCreationError::pixelBufferFailed when it cannot be made). Every element is set
/// to the initial value when its type is the element type's exactly (Float16, float, double,
/// std::int32_t, std::int8_t); any other initial value leaves the zeroed contents.
MLMultiArray makeMultiArray(const std::vector<std::int64_t>& shape, platform::ml::MLMultiArrayDataType dataType,
                            const std::any& initialValue);

/// A half-float pixel buffer for a shape: width the last dimension, height the product of the others.
/// Absent for an empty shape, a zero or negative dimension, or a size that overflows.
std::shared_ptr<PixelBuffer> pixelBuffer(const std::vector<std::int64_t>& shape);

/// An int32 array of shape [1, ..., 1, values.size()] with `dims` dimensions holding the values.
/// Throws std::invalid_argument for dims below 1 or a value outside 32 bits (nothing is made).
MLMultiArray multiArrayFrom(const std::vector<long>& values, int dims);

/// The sum of index[i] x strides[i] over the positions both lists have; strides default to the array's.
std::int64_t linearOffset(const MLMultiArray& array, const std::vector<std::int64_t>& index,
                          const std::optional<std::vector<std::int64_t>>& strides = std::nullopt);

/// Writes the value at each index (offsets through the array's strides). A value whose type is not
/// the element type, or an index outside the storage, throws std::invalid_argument before anything
/// is written.
void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, Float16 value);
void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, float value);
void fill(MLMultiArray& array, const std::vector<std::vector<std::int64_t>>& indexes, std::int32_t value);

/// Writes a half-precision value at elements i x strides[2] of a [1, 1, N] half array for i in
/// [begin, end). Any other shape or type, or a range outside [0, N], throws std::invalid_argument and
/// writes nothing.
void fillLastDimension(MLMultiArray& array, std::int64_t begin, std::int64_t end, Float16 value);

/// The scalars as machine integers (floats truncate toward zero).
std::vector<long> toIntArray(const MLTensor& tensor);
/// Float, Float16 and Int32 tensors as floats; another scalar type throws std::invalid_argument
/// "Unsupported scalar type: <name>".
std::vector<float> toFloatArray(const MLTensor& tensor);
/// Float, Float16 and Int32 tensors as multi-arrays of the same element type and shape; another
/// scalar type throws as toFloatArray does.
MLMultiArray toMLMultiArray(const MLTensor& tensor);

}  // namespace korbit
