#include "Platform/ML/WeightReader.hpp"

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Float16.hpp"
#include "Platform/ML/MultiArray.hpp"

#include <algorithm>
#include <cstring>

namespace platform::ml {

const TensorView& WeightReader::view(const std::string& name, const std::vector<std::int64_t>& shape) const {
    const TensorView* t = file_.find(name);
    if (!t) throw MLModelError(where_ + ": tensor \"" + name + "\" is missing from the weights");
    if (t->shape != shape)
        throw MLModelError(where_ + ": tensor \"" + name + "\" has shape " + formatShape(t->shape) + ", expected " +
                           formatShape(shape));
    if (t->dataType != TensorDataType::F16 && t->dataType != TensorDataType::F32)
        throw MLModelError(where_ + ": tensor \"" + name + "\" has element type " + tensorDataTypeName(t->dataType) +
                           "; bundles hold F16 or F32 weights");
    return *t;
}

std::vector<float> WeightReader::floats(const std::string& name, const std::vector<std::int64_t>& shape) const {
    const TensorView& t = view(name, shape);
    auto out = t.toFloat();
    file_.release(t);
    return out;
}

bool WeightReader::storedAsHalf(const std::string& name) const {
    const TensorView* t = file_.find(name);
    return t && t->dataType == TensorDataType::F16;
}

void WeightReader::pack(const std::string& name, int rows, int columns, PackedMatrix& into, int firstRow) const {
    const TensorView& t = view(name, {rows, columns});
    const std::size_t n = static_cast<std::size_t>(columns);
    const bool half = t.dataType == TensorDataType::F16;
    // Panels of 16 rows on all threads. The mapped data need not be aligned for its element type:
    // each row is copied out first.
    constexpr int block = PackedMatrix::kPanel;
    ComputePool::shared().parallelFor(static_cast<std::size_t>((rows + block - 1) / block), [&](std::size_t b) {
        thread_local std::vector<std::uint16_t> halves;
        thread_local std::vector<float> floats;
        for (int r = static_cast<int>(b) * block; r < std::min(rows, static_cast<int>(b + 1) * block); ++r) {
            if (half) {
                halves.resize(n);
                std::memcpy(halves.data(), t.data + r * n * 2, n * 2);
                into.setRow(firstRow + r, halves.data());
            } else {
                floats.resize(n);
                std::memcpy(floats.data(), t.data + r * n * 4, n * 4);
                into.setRow(firstRow + r, floats.data());
            }
        }
    });
    file_.release(t);
}

kernels::Linear WeightReader::linear(const std::string& prefix, int out, int in, bool withBias) const {
    kernels::Linear l;
    l.out = out;
    l.in = in;
    l.weight = floats(prefix + ".weight", {out, in});
    if (withBias) l.bias = floats(prefix + ".bias", {out});
    return l;
}

kernels::LayerNormWeights WeightReader::layerNorm(const std::string& prefix, int width) const {
    return {floats(prefix + ".weight", {width}), floats(prefix + ".bias", {width})};
}

}  // namespace platform::ml
