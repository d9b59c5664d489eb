#pragma once

// The numeric building blocks of the speech networks: Float32 arithmetic, weights in the bundle's
// precision, GEMM through OpenBLAS.

#include "Platform/ML/PackedMatrix.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::ml::kernels {

/// A linear layer y = x W^T + b: W [out x in] (the checkpoint's rows) packed in panels of 16 rows,
/// in half precision where the bundle keeps it so.
struct Linear {
    PackedMatrix weight;
    std::vector<float> bias;  // empty when the layer has none
};

struct LayerNormWeights {
    std::vector<float> gamma;
    std::vector<float> beta;
};

/// Y[rows x out] = X[rows x in] W^T + b, spread over the compute pool. ldx/ldy are row strides.
/// With accumulate, the product is added to Y (residual connections) instead of replacing it; with
/// gelu, GELU is applied to the product and bias (the two are not combined). Half-precision
/// weights are widened a tile at a time, never as a whole, on `path` (at most bestVectorPath()).
void linear(const float* x, std::size_t ldx, int rows, const Linear& layer, float* y, std::size_t ldy,
            bool accumulate = false, bool gelu = false, VectorPath path = bestVectorPath());
/// The same product on the calling thread, for outputs [colBegin, colEnd) only (colBegin a multiple
/// of 16; y and ldy address the whole output row): the weights are widened a few panels at a time,
/// and bias, GELU and the residual are applied to each chunk while it is still in cache.
void linearRows(const float* x, std::size_t ldx, int rows, const Linear& layer, int colBegin, int colEnd, float* y,
                std::size_t ldy, bool accumulate = false, bool gelu = false, VectorPath path = bestVectorPath());

/// Layer normalisation (eps 1e-5) of one row of width values.
void layerNormRow(const float* x, int width, const LayerNormWeights& w, float* y);

/// The elementwise kernels below run the build of `path` (at most bestVectorPath()): the portable
/// loops, or the same loops built for AVX2 + FMA or for AVX-512.
/// In place: x = x * 0.5 * (1 + erf(x / sqrt 2)).
void geluInPlace(float* x, std::size_t n, VectorPath path = bestVectorPath());
/// In place: exp(x - max) / sum over n values.
void softmaxInPlace(float* x, std::size_t n, VectorPath path = bestVectorPath());
/// In place: x = exp(x - max) over n > 0 values; returns the sum and stores the maximum.
float exponentiate(float* x, std::size_t n, float& maximum, VectorPath path = bestVectorPath());
/// Sum of a[i] b[i] over n values.
float dot(const float* a, const float* b, std::size_t n, VectorPath path = bestVectorPath());
/// y[i] += a x[i] over n values.
void addScaled(const float* x, float a, float* y, std::size_t n, VectorPath path = bestVectorPath());
/// In place exp of n values (accurate to a few ulp; inputs below -87 give 0).
void expInPlace(float* x, std::size_t n, VectorPath path = bestVectorPath());
/// The largest of n values and the index of its first occurrence; NaN values are passed over.
/// With no value above -inf the answer is -inf and index n. Runs on AVX-512 when `path` (at most
/// bestVectorPath()) is, else as a plain loop.
float maximumAndIndex(const float* x, std::size_t n, std::size_t& index, VectorPath path = bestVectorPath());
/// Sum of exp(x[i] - shift) over n values, x unchanged, for a shift at (or above) the maximum: NaN
/// counts as -inf, a term below e^-87 as about 1e-38, and runs of values more than 30 below the shift
/// (terms too small to change a sum that holds exp(0)) may be passed over.
float sumOfExponentials(const float* x, std::size_t n, float shift, VectorPath path = bestVectorPath());
/// The same two over half-precision values (IEEE binary16 bits), read as they lie: AVX-512 converts
/// them in registers; other paths convert them in short runs.
float halfMaximumAndIndex(const std::uint16_t* x, std::size_t n, std::size_t& index,
                          VectorPath path = bestVectorPath());
float halfSumOfExponentials(const std::uint16_t* x, std::size_t n, float shift, VectorPath path = bestVectorPath());
/// In place: x[i] = x[i] / divisor over n values.
void divideInPlace(float* x, std::size_t n, float divisor, VectorPath path = bestVectorPath());

/// Single-threaded row-major C[m x n] = A[m x k] B^T[k x n] + beta * C (B stored [n x k]).
void gemmNT(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc,
            float beta = 0.0f);
/// Single-threaded row-major C[m x n] = alpha * A[m x k] B[k x n] + beta * C.
void gemmNN(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta = 0.0f,
            float alpha = 1.0f);

}  // namespace platform::ml::kernels
