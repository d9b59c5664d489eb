#pragma once

// Products of a matrix in half precision (or Float32) with a Float32 vector: the decoder's work on
// every token. Hand-vectorised for AVX-512 and for AVX2 + FMA + F16C, chosen when the program
// starts; a portable path runs everywhere else.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::ml {

/// The instruction sets a product can run on.
enum class VectorPath { portable, avx2, avx512 };
/// The best path this CPU offers, lowered by VELMORA_VECTOR_PATH when it is set ("portable", "avx2",
/// "avx512"), so that the paths of older processors can be run, and checked, on a newer one. Every
/// kernel of the runtime uses it unless a test asks for another.
VectorPath bestVectorPath();
/// The path of the processor alone.
VectorPath processorVectorPath();
/// The lower of `offered` and a setting's path; no setting, or one naming no path, leaves `offered`.
VectorPath limitVectorPath(VectorPath offered, std::optional<std::string_view> setting);
/// The path's name, as VELMORA_VECTOR_PATH takes it.
std::string_view vectorPathName(VectorPath path);

namespace products {

/// Panels of 16 outputs: for p < panels and r < 16,
///   y[16 p + r] = sum over c in [c0, c1) of w[p panelStride + c columnStride + r] x[c].
/// With columnStride 16 the panel is read front to back (PackedMatrix); a larger stride reads 16
/// adjacent columns of a row-major matrix, giving the product with its transpose.
void halfPanels(const std::uint16_t* w, std::size_t columnStride, std::size_t panelStride, int panels, int c0, int c1,
                const float* x, float* y, VectorPath path);
void floatPanels(const float* w, std::size_t columnStride, std::size_t panelStride, int panels, int c0, int c1,
                 const float* x, float* y, VectorPath path);

/// One panel of 16 half-precision values per column (`columns` of them, one after another) widened
/// to floats: out[c ld + r] = panel[16 c + r] for r < 16.
void widenHalfPanel(const std::uint16_t* panel, int columns, float* out, std::size_t ld, VectorPath path);

/// Row-major rows of half-precision values, columns [0, n) where keep[j] is all ones:
///   y[r] = sum over kept j of w[r stride + j] x[j], for r < rows.
/// Columns not kept add nothing whatever they hold (NaN and infinities included).
void halfRowsKept(const std::uint16_t* w, std::size_t stride, int rows, int n, const float* x,
                  const std::uint32_t* keep, float* y, VectorPath path);

}  // namespace products
}  // namespace platform::ml
