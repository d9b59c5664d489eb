#pragma once

// Many-row products with half-precision weights in register tiles (AVX-512, or AVX2 with FMA and
// F16C). The weights are read as they are packed (panels of 16 rows, column by column) and widened
// in registers: no Float32 copy of them is made, so a product of a few rows costs no more per row
// than one of many, and the encoder can hand out small blocks of frames to whichever thread is free.

#include "Platform/ML/PackedMatrix.hpp"
#include "Platform/ML/VectorProducts.hpp"

#include <cstddef>

namespace platform::ml::kernels {

/// Whether halfPanelProduct runs for these weights on this path.
bool halfPanelProductRuns(const PackedMatrix& w, VectorPath path = bestVectorPath());

/// Rows of one task when `rows` rows go through products with weights `w` on `threads` threads,
/// a multiple of `multiple`. Products in register tiles cost the same per row whatever the block,
/// so the rows go out in small blocks of 48 (four AVX-512 tiles, eight AVX2 ones) and a thread the
/// machine slows down takes fewer of them; products that widen their weights per call (the
/// portable path, Float32 weights, or no weights) take one block per thread.
int rowsPerTask(const PackedMatrix* w, int rows, int threads, int multiple = 1, VectorPath path = bestVectorPath());

/// Y[rows x [colBegin, colEnd)] = X[rows x in] W^T, or Y += X W^T with accumulate, on the calling
/// thread; W holds the outputs' weights [out x in] in half precision, colBegin is a multiple of 16,
/// and nothing outside those columns of Y is written. Runs only on the AVX-512 and AVX2 paths with
/// half-precision weights: returns false, having done nothing, for any other path or element.
bool halfPanelProduct(const float* x, std::size_t ldx, int rows, const PackedMatrix& w, int colBegin, int colEnd,
                      float* y, std::size_t ldy, bool accumulate, VectorPath path);

}  // namespace platform::ml::kernels
