#pragma once

// A matrix laid out for products with one vector, the decoder's work on every token: rows in
// panels of 16, each panel stored column by column ([columns][16]). A product streams the matrix
// once, front to back, and keeps the panel's 16 sums in one register, with no horizontal additions.

#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/VectorProducts.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::ml {

class PackedMatrix {
public:
    enum class Element : std::uint8_t { float16, float32 };
    static constexpr int kPanel = 16;

    PackedMatrix() = default;
    /// A view over zero-filled storage of at least storageBytes() bytes, 64-byte aligned, that
    /// outlives it. Rows past `rows` up to the panel's end stay zero.
    PackedMatrix(Element element, int rows, int columns, std::byte* storage);
    /// Bytes the panels take, rounded up to whole cache lines.
    static std::size_t storageBytes(Element element, int rows, int columns);

    Element element() const { return element_; }
    int rows() const { return rows_; }
    int columns() const { return columns_; }
    int panels() const { return (rows_ + kPanel - 1) / kPanel; }
    std::size_t bytes() const { return storageBytes(element_, rows_, columns_); }
    /// Where panel p starts, and the bytes of one panel (panels lie one after another).
    const std::byte* panelData(int p) const { return data_ + static_cast<std::size_t>(p) * panelBytes(); }
    std::size_t panelBytes() const { return static_cast<std::size_t>(columns_) * kPanel * elementBytes(element_); }
    static std::size_t elementBytes(Element element) { return element == Element::float16 ? 2 : 4; }

    /// Sets one row from `columns()` values (rounded to nearest even when stored in half precision).
    void setRow(int row, const float* values) { setRow(row, 0, columns_, values); }
    /// Sets columns [c0, c1) of one row from c1 - c0 values. Calls that set different elements may
    /// run at once.
    void setRow(int row, int c0, int c1, const float* values);
    void setRow(int row, const std::uint16_t* halves);
    /// One row, widened to floats.
    void readRow(int row, float* out) const;
    /// Panels [p0, p1) widened to floats as a row-major [columns() x 16 (p1 - p0)] matrix: the
    /// transposed rows 16 p0 .. 16 p1 - 1 (zero past `rows()`). Half precision is widened with
    /// the CPU's conversion instructions unless `path` is portable.
    void unpack(int p0, int p1, float* out, VectorPath path = bestVectorPath()) const;

    /// For every panel p in [p0, p1) and r < 16: y[16 (p - p0) + r] = sum over c in [c0, c1) of
    /// W[16 p + r][c] x[c]. Rows past `rows()` give 0.
    void multiply(int p0, int p1, int c0, int c1, const float* x, float* y) const {
        multiply(p0, p1, c0, c1, x, y, bestVectorPath());
    }
    /// The same on a given path (at most bestVectorPath()).
    void multiply(int p0, int p1, int c0, int c1, const float* x, float* y, VectorPath path) const;

private:
    Element element_ = Element::float32;
    int rows_ = 0;
    int columns_ = 0;
    std::byte* data_ = nullptr;
};

/// A packed matrix to be placed: where it goes, its element type and its size.
struct PackedMatrixPlace {
    PackedMatrix* matrix;
    PackedMatrix::Element element;
    int rows, columns;
};

/// One zero-filled buffer holding every matrix of `places` one after the other (so that a network's
/// weights share huge pages); each matrix is set to a view into it.
AlignedBuffer placePackedMatrices(std::span<const PackedMatrixPlace> places);

}  // namespace platform::ml
