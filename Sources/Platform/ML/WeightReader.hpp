#pragma once

#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/PackedMatrix.hpp"
#include "Platform/ML/Safetensors.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::ml {

/// Takes tensors out of a bundle's weights by checkpoint name, checking shape and element type.
class WeightReader {
public:
    WeightReader(const SafetensorsFile& file, std::string where) : file_(file), where_(std::move(where)) {}

    const TensorView& view(const std::string& name, const std::vector<std::int64_t>& shape) const;
    std::vector<float> floats(const std::string& name, const std::vector<std::int64_t>& shape) const;
    bool storedAsHalf(const std::string& name) const;
    /// Copies "<name>" [rows x columns] into rows [firstRow, firstRow + rows) of a packed matrix.
    void pack(const std::string& name, int rows, int columns, PackedMatrix& into, int firstRow = 0) const;

    /// "<prefix>.weight" [out x in] and, when withBias, "<prefix>.bias" [out].
    kernels::Linear linear(const std::string& prefix, int out, int in, bool withBias) const;
    kernels::LayerNormWeights layerNorm(const std::string& prefix, int width) const;

private:
    const SafetensorsFile& file_;
    std::string where_;
};

}  // namespace platform::ml
