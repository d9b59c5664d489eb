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

void WeightReader::packConvolution(const std::string& name, int out, int in, PackedMatrix& into) const {
    const TensorView& t = view(name, {out, in, 3});
    const std::size_t n = static_cast<std::size_t>(in) * 3;
    // Rows are copied out first: the mapped data need not be aligned for its element type.
    auto reorder = [&]<typename Element>(std::size_t o, std::vector<Element>& row, std::vector<Element>& taps) {
        row.resize(n);
        taps.resize(n);
        std::memcpy(row.data(), t.data + o * n * sizeof(Element), n * sizeof(Element));
        for (int i = 0; i < in; ++i)
            for (int k = 0; k < 3; ++k)
                taps[static_cast<std::size_t>(k) * in + i] = row[static_cast<std::size_t>(i) * 3 + k];
        into.setRow(static_cast<int>(o), taps.data());
    };
    const bool half = t.dataType == TensorDataType::F16;
    ComputePool::shared().parallelFor(static_cast<std::size_t>(out), [&](std::size_t o) {
        thread_local std::vector<std::uint16_t> halves, halfTaps;
        thread_local std::vector<float> floats, floatTaps;
        if (half)
            reorder(o, halves, halfTaps);
        else
            reorder(o, floats, floatTaps);
    });
    file_.release(t);
}

PackedMatrixPlace WeightReader::place(kernels::Linear& layer, int rows, int columns,
                                      const std::vector<std::string>& prefixes) const {
    const bool half = std::all_of(prefixes.begin(), prefixes.end(),
                                  [&](const std::string& prefix) { return storedAsHalf(prefix + ".weight"); });
    return {&layer.weight, half ? PackedMatrix::Element::float16 : PackedMatrix::Element::float32, rows, columns};
}

void WeightReader::appendBias(const std::string& prefix, int rows, kernels::Linear& layer) const {
    const auto b = floats(prefix + ".bias", {rows});
    layer.bias.insert(layer.bias.end(), b.begin(), b.end());
}

kernels::LayerNormWeights WeightReader::layerNorm(const std::string& prefix, int width) const {
    return {floats(prefix + ".weight", {width}), floats(prefix + ".bias", {width})};
}

}  // namespace platform::ml
