#pragma once

// The numeric building blocks of the speech networks: Float32 throughout, GEMM through OpenBLAS.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::ml::kernels {

/// A linear layer y = x W^T + b with W stored [out x in] row-major (the checkpoint layout).
struct Linear {
    int out = 0;
    int in = 0;
    std::vector<float> weight;          // Float32 [out x in]; used by the matrix-matrix path
    std::vector<std::uint16_t> weight16;  // the same in half precision; when present the one-row path reads it
    std::vector<float> bias;            // empty when the layer has none
};

/// y[rows] = W[rows x in] x for half-precision W (F16C/AVX-512 when the CPU has them).
void halfMatrixVector(const std::uint16_t* w, int rows, int in, const float* x, float* y);

struct LayerNormWeights {
    std::vector<float> gamma;
    std::vector<float> beta;
};

/// Y[rows x out] = X[rows x in] W^T + b, spread over the compute pool. ldx/ldy are row strides.
/// With accumulate, the product is added to Y (residual connections) instead of replacing it.
void linear(const float* x, std::size_t ldx, int rows, const Linear& layer, float* y, std::size_t ldy,
            bool accumulate = false, bool gelu = false);

/// y[0 .. r1-r0) = rows [r0, r1) of W x + b, on the calling thread (half or Float32 weights).
void linearRows(const Linear& layer, int r0, int r1, const float* x, float* y);

/// y[out] = W x + b (one row), spread over the pool. With accumulate, added to y.
void linearVector(const float* x, const Linear& layer, float* y, bool accumulate = false, bool gelu = false);

/// Row-wise layer normalisation (eps 1e-5) of rows x width values.
void layerNorm(const float* x, int rows, int width, const LayerNormWeights& w, float* y);
void layerNormRow(const float* x, int width, const LayerNormWeights& w, float* y);

/// In place: x = x * 0.5 * (1 + erf(x / sqrt 2)).
void geluInPlace(float* x, std::size_t n);
/// In place: exp(x - max) / sum over n values.
void softmaxInPlace(float* x, std::size_t n);
/// In place exp of n values (accurate to a few ulp; inputs below -87 give 0).
void expInPlace(float* x, std::size_t n);

/// Single-threaded row-major C[m x n] = alpha * A[m x k] B^T[k x n] + beta * C (B stored [n x k]).
void gemmNT(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta = 0.0f);
/// Single-threaded row-major C[m x n] = A[m x k] B[k x n] + beta * C.
void gemmNN(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta = 0.0f);

}  // namespace platform::ml::kernels
