#include "Platform/ML/PackedMatrix.hpp"

#include "Platform/ML/Float16.hpp"

#include <algorithm>

namespace platform::ml {

namespace {
constexpr int P = PackedMatrix::kPanel;
}  // namespace

PackedMatrix::PackedMatrix(Element element, int rows, int columns, std::byte* storage)
    : element_(element), rows_(rows), columns_(columns), data_(storage) {}

std::size_t PackedMatrix::storageBytes(Element element, int rows, int columns) {
    const std::size_t panels = (static_cast<std::size_t>(rows) + P - 1) / P;
    const std::size_t bytes = panels * P * static_cast<std::size_t>(columns) * elementBytes(element);
    return (bytes + 63) / 64 * 64;
}

void PackedMatrix::setRow(int row, int c0, int c1, const float* values) {
    const std::size_t base = static_cast<std::size_t>(row / P) * columns_ * P + row % P;
    if (element_ == Element::float32) {
        float* d = reinterpret_cast<float*>(data_) + base;
        for (int c = c0; c < c1; ++c) d[static_cast<std::size_t>(c) * P] = values[c - c0];
        return;
    }
    std::uint16_t* d = reinterpret_cast<std::uint16_t*>(data_) + base;
    std::uint16_t chunk[256];
    for (int from = c0; from < c1; from += 256) {
        const int n = std::min(256, c1 - from);
        convertFloatToHalf(values + (from - c0), chunk, static_cast<std::size_t>(n));
        for (int c = 0; c < n; ++c) d[static_cast<std::size_t>(from + c) * P] = chunk[c];
    }
}

void PackedMatrix::setRow(int row, const std::uint16_t* halves) {
    const std::size_t base = static_cast<std::size_t>(row / P) * columns_ * P + row % P;
    if (element_ == Element::float16) {
        std::uint16_t* d = reinterpret_cast<std::uint16_t*>(data_) + base;
        for (int c = 0; c < columns_; ++c) d[static_cast<std::size_t>(c) * P] = halves[c];
        return;
    }
    float* d = reinterpret_cast<float*>(data_) + base;
    for (int c = 0; c < columns_; ++c) d[static_cast<std::size_t>(c) * P] = halfBitsToFloat(halves[c]);
}

void PackedMatrix::readRow(int row, float* out) const {
    const std::size_t base = static_cast<std::size_t>(row / P) * columns_ * P + row % P;
    if (element_ == Element::float32) {
        const float* s = reinterpret_cast<const float*>(data_) + base;
        for (int c = 0; c < columns_; ++c) out[c] = s[static_cast<std::size_t>(c) * P];
        return;
    }
    const std::uint16_t* s = reinterpret_cast<const std::uint16_t*>(data_) + base;
    for (int c = 0; c < columns_; ++c) out[c] = halfBitsToFloat(s[static_cast<std::size_t>(c) * P]);
}

void PackedMatrix::unpack(int p0, int p1, float* out, VectorPath path) const {
    const std::size_t panelStride = static_cast<std::size_t>(columns_) * P, ld = static_cast<std::size_t>(p1 - p0) * P;
    for (int p = p0; p < p1; ++p) {
        float* to = out + static_cast<std::size_t>(p - p0) * P;
        if (element_ == Element::float32) {
            const float* from = reinterpret_cast<const float*>(data_) + p * panelStride;
            for (int c = 0; c < columns_; ++c)
                std::copy_n(from + static_cast<std::size_t>(c) * P, P, to + static_cast<std::size_t>(c) * ld);
        } else {
            products::widenHalfPanel(reinterpret_cast<const std::uint16_t*>(data_) + p * panelStride, columns_, to, ld,
                                     path);
        }
    }
}

void PackedMatrix::multiply(int p0, int p1, int c0, int c1, const float* x, float* y, VectorPath path) const {
    if (p1 <= p0) return;
    const std::size_t panelStride = static_cast<std::size_t>(columns_) * P;
    const std::size_t offset = static_cast<std::size_t>(p0) * panelStride;
    if (element_ == Element::float16)
        products::halfPanels(reinterpret_cast<const std::uint16_t*>(data_) + offset, P, panelStride, p1 - p0, c0, c1, x,
                             y, path);
    else
        products::floatPanels(reinterpret_cast<const float*>(data_) + offset, P, panelStride, p1 - p0, c0, c1, x, y,
                              path);
}

AlignedBuffer placePackedMatrices(std::span<const PackedMatrixPlace> places) {
    std::size_t total = 0;
    for (const auto& place : places) total += PackedMatrix::storageBytes(place.element, place.rows, place.columns);
    AlignedBuffer buffer(total);
    std::size_t offset = 0;
    for (const auto& place : places) {
        *place.matrix = PackedMatrix(place.element, place.rows, place.columns, buffer.data() + offset);
        offset += place.matrix->bytes();
    }
    return buffer;
}

}  // namespace platform::ml
