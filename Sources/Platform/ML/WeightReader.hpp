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
    /// Where a layer's packed weights go: rows x columns stacked from "<prefix>.weight" of every
    /// prefix, in half precision when every part is stored so (else Float32).
    PackedMatrixPlace place(kernels::Linear& layer, int rows, int columns,
                            const std::vector<std::string>& prefixes) const;
    /// Appends "<prefix>.bias" [rows] to a layer's bias.
    void appendBias(const std::string& prefix, int rows, kernels::Linear& layer) const;
    /// Copies "<name>" [rows x columns] into rows [firstRow, firstRow + rows) of a packed matrix.
    void pack(const std::string& name, int rows, int columns, PackedMatrix& into, int firstRow = 0) const;
    /// Copies a convolution's "<name>" [out x in x 3] into a packed [out x 3 in] matrix, each row
    /// reordered tap-major ([3][in]), so that an input window is three consecutive time-major rows.
    void packConvolution(const std::string& name, int out, int in, PackedMatrix& into) const;

    kernels::LayerNormWeights layerNorm(const std::string& prefix, int width) const;

private:
    const SafetensorsFile& file_;
    std::string where_;
};

}  // namespace platform::ml
