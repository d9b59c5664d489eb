#include "Platform/ML/Kernels.hpp"

#include "Platform/ML/ComputePool.hpp"

#include "Platform/ML/Float16.hpp"

#include <cblas.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace platform::ml::kernels {

namespace {

// exp(x) by range reduction to r in [-ln2/2, ln2/2] and a degree-6 polynomial; written without
// branches so that loops over it vectorise.
inline float fastExp(float x) {
    x = std::max(x, -87.0f);
    x = std::min(x, 88.0f);
    // Round to the nearest integer by the 1.5 * 2^23 trick (no rounding instruction needed).
    const float n = (x * 1.44269504088896341f + 12582912.0f) - 12582912.0f;
    float r = x - n * 0.693145751953125f;
    r = r - n * 1.428606765330187045e-06f;
    float p = 1.0f / 720.0f;
    p = p * r + 1.0f / 120.0f;
    p = p * r + 1.0f / 24.0f;
    p = p * r + 1.0f / 6.0f;
    p = p * r + 0.5f;
    p = p * r + 1.0f;
    p = p * r + 1.0f;
    const std::int32_t bits = (static_cast<std::int32_t>(n) + 127) << 23;
    return p * std::bit_cast<float>(bits);
}

// erfc by the Chebyshev fit of Numerical Recipes (fractional error below 1.2e-7), giving the exact
// (erf) form of GELU.
inline float geluOne(float x) {
    const float z = std::fabs(x) * 0.70710678118654752f;
    const float t = 1.0f / (1.0f + 0.5f * z);
    const float poly =
        -z * z - 1.26551223f +
        t * (1.00002368f +
             t * (0.37409196f +
                  t * (0.09678418f +
                       t * (-0.18628806f +
                            t * (0.27886807f + t * (-1.13520398f + t * (1.48851587f + t * (-0.82215223f + t * 0.17087277f))))))));
    const float erfcz = t * fastExp(poly);
    // 0.5 * (1 + erf(x/sqrt2)): erf = 1 - erfc for x >= 0, erfc - 1 for x < 0.
    const float cdf = x >= 0.0f ? 1.0f - 0.5f * erfcz : 0.5f * erfcz;
    return x * cdf;
}

#define VELMORA_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

struct Block {
    int rowBegin, rowEnd, colBegin, colEnd;
};

// Splits an output of rows x cols into tiles: enough for every thread, none too thin for GEMM.
std::vector<Block> tile(int rows, int cols, int threads) {
    std::vector<Block> blocks;
    const long work = static_cast<long>(rows) * cols;
    int rowBlocks = 1, colBlocks = 1;
    const int target = threads * 3;
    if (work < 4096 || threads <= 1) {
        blocks.push_back({0, rows, 0, cols});
        return blocks;
    }
    while (rowBlocks * colBlocks < target) {
        const int rowSize = (rows + rowBlocks - 1) / rowBlocks;
        const int colSize = (cols + colBlocks - 1) / colBlocks;
        if (rowSize >= 2 * 48 && (rowSize >= colSize || colSize < 2 * 128)) ++rowBlocks;
        else if (colSize >= 2 * 128) ++colBlocks;
        else break;
    }
    const int rowStep = (rows + rowBlocks - 1) / rowBlocks;
    const int colStep = ((cols + colBlocks - 1) / colBlocks + 15) / 16 * 16;
    for (int r = 0; r < rows; r += rowStep)
        for (int c = 0; c < cols; c += colStep)
            blocks.push_back({r, std::min(rows, r + rowStep), c, std::min(cols, c + colStep)});
    return blocks;
}

}  // namespace

VELMORA_CLONES void expInPlace(float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = fastExp(x[i]);
}

VELMORA_CLONES void geluInPlace(float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = geluOne(x[i]);
}

VELMORA_CLONES void softmaxInPlace(float* x, std::size_t n) {
    if (n == 0) return;
    // Sixteen running lanes so that the reductions vectorise without reassociation.
    constexpr std::size_t L = 16;
    float lanes[L];
    for (std::size_t j = 0; j < L; ++j) lanes[j] = -INFINITY;
    std::size_t i = 0;
    for (; i + L <= n; i += L)
        for (std::size_t j = 0; j < L; ++j) lanes[j] = lanes[j] > x[i + j] ? lanes[j] : x[i + j];
    float m = -INFINITY;
    for (std::size_t j = 0; j < L; ++j) m = std::max(m, lanes[j]);
    for (; i < n; ++i) m = std::max(m, x[i]);
    for (std::size_t j = 0; j < L; ++j) lanes[j] = 0.0f;
    for (i = 0; i + L <= n; i += L)
        for (std::size_t j = 0; j < L; ++j) {
            const float e = fastExp(x[i + j] - m);
            x[i + j] = e;
            lanes[j] += e;
        }
    float sum = 0.0f;
    for (; i < n; ++i) {
        x[i] = fastExp(x[i] - m);
        sum += x[i];
    }
    for (std::size_t j = 0; j < L; ++j) sum += lanes[j];
    const float inv = 1.0f / sum;
    for (i = 0; i < n; ++i) x[i] *= inv;
}

void gemmNT(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta) {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, n, k, 1.0f, a, lda, b, ldb, beta, c, ldc);
}

void gemmNN(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta) {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, 1.0f, a, lda, b, ldb, beta, c, ldc);
}

void linear(const float* x, std::size_t ldx, int rows, const Linear& layer, float* y, std::size_t ldy, bool accumulate,
            bool gelu) {
    auto& pool = ComputePool::shared();
    const auto blocks = tile(rows, layer.out, pool.threadCount());
    pool.parallelFor(blocks.size(), [&](std::size_t i) {
        const Block& b = blocks[i];
        const int m = b.rowEnd - b.rowBegin, n = b.colEnd - b.colBegin;
        float* out = y + static_cast<std::size_t>(b.rowBegin) * ldy + b.colBegin;
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, n, layer.in, 1.0f,
                    x + static_cast<std::size_t>(b.rowBegin) * ldx, static_cast<int>(ldx),
                    layer.weight.data() + static_cast<std::size_t>(b.colBegin) * layer.in, layer.in,
                    accumulate ? 1.0f : 0.0f, out, static_cast<int>(ldy));
        for (int r = 0; r < m; ++r) {
            float* row = out + static_cast<std::size_t>(r) * ldy;
            if (!layer.bias.empty()) {
                const float* bias = layer.bias.data() + b.colBegin;
                for (int c = 0; c < n; ++c) row[c] += bias[c];
            }
            if (gelu) geluInPlace(row, static_cast<std::size_t>(n));
        }
    });
}

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) static inline float sum16(__m512 v) {
    const __m256 lo = _mm512_castps512_ps256(v);
    const __m256 hi = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, _mm256_add_ps(lo, hi));
    return ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
}

__attribute__((target("avx512f"))) static void halfMatVecAvx512(const std::uint16_t* w, int rows, int in,
                                                                 const float* x, float* y) {
    int r = 0;
    const int whole = in / 16 * 16;
    for (; r + 4 <= rows; r += 4) {
        const std::uint16_t* w0 = w + static_cast<std::size_t>(r) * in;
        const std::uint16_t* w1 = w0 + in;
        const std::uint16_t* w2 = w1 + in;
        const std::uint16_t* w3 = w2 + in;
        __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(), a3 = _mm512_setzero_ps();
        for (int i = 0; i < whole; i += 16) {
            const __m512 xv = _mm512_loadu_ps(x + i);
            a0 = _mm512_fmadd_ps(_mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w0 + i))), xv, a0);
            a1 = _mm512_fmadd_ps(_mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w1 + i))), xv, a1);
            a2 = _mm512_fmadd_ps(_mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w2 + i))), xv, a2);
            a3 = _mm512_fmadd_ps(_mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w3 + i))), xv, a3);
        }
        float s0 = sum16(a0), s1 = sum16(a1), s2 = sum16(a2),
              s3 = sum16(a3);
        for (int i = whole; i < in; ++i) {
            s0 += halfBitsToFloat(w0[i]) * x[i];
            s1 += halfBitsToFloat(w1[i]) * x[i];
            s2 += halfBitsToFloat(w2[i]) * x[i];
            s3 += halfBitsToFloat(w3[i]) * x[i];
        }
        y[r] = s0;
        y[r + 1] = s1;
        y[r + 2] = s2;
        y[r + 3] = s3;
    }
    for (; r < rows; ++r) {
        const std::uint16_t* w0 = w + static_cast<std::size_t>(r) * in;
        __m512 a0 = _mm512_setzero_ps();
        for (int i = 0; i < whole; i += 16)
            a0 = _mm512_fmadd_ps(_mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w0 + i))),
                                 _mm512_loadu_ps(x + i), a0);
        float s0 = sum16(a0);
        for (int i = whole; i < in; ++i) s0 += halfBitsToFloat(w0[i]) * x[i];
        y[r] = s0;
    }
}

#pragma GCC diagnostic pop

__attribute__((target("avx2,fma,f16c"))) static void halfMatVecAvx2(const std::uint16_t* w, int rows, int in,
                                                                    const float* x, float* y) {
    const int whole = in / 8 * 8;
    for (int r = 0; r < rows; ++r) {
        const std::uint16_t* w0 = w + static_cast<std::size_t>(r) * in;
        __m256 a0 = _mm256_setzero_ps();
        for (int i = 0; i < whole; i += 8)
            a0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w0 + i))),
                                 _mm256_loadu_ps(x + i), a0);
        alignas(32) float lanes[8];
        _mm256_store_ps(lanes, a0);
        float s0 = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
        for (int i = whole; i < in; ++i) s0 += halfBitsToFloat(w0[i]) * x[i];
        y[r] = s0;
    }
}
#endif

void halfMatrixVector(const std::uint16_t* w, int rows, int in, const float* x, float* y) {
#if defined(__x86_64__)
    static const int level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return 2;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c")) return 1;
        return 0;
    }();
    if (level == 2) return halfMatVecAvx512(w, rows, in, x, y);
    if (level == 1) return halfMatVecAvx2(w, rows, in, x, y);
#endif
    std::vector<float> row(static_cast<std::size_t>(in));
    for (int r = 0; r < rows; ++r) {
        convertHalfToFloat(w + static_cast<std::size_t>(r) * in, row.data(), row.size());
        float s = 0.0f;
        for (int i = 0; i < in; ++i) s += row[i] * x[i];
        y[r] = s;
    }
}

void linearRows(const Linear& layer, int r0, int r1, const float* x, float* y) {
    if (!layer.weight16.empty()) {
        halfMatrixVector(layer.weight16.data() + static_cast<std::size_t>(r0) * layer.in, r1 - r0, layer.in, x, y);
    } else {
        cblas_sgemv(CblasRowMajor, CblasNoTrans, r1 - r0, layer.in, 1.0f,
                    layer.weight.data() + static_cast<std::size_t>(r0) * layer.in, layer.in, x, 1, 0.0f, y, 1);
    }
    if (!layer.bias.empty())
        for (int r = r0; r < r1; ++r) y[r - r0] += layer.bias[static_cast<std::size_t>(r)];
}

void linearVector(const float* x, const Linear& layer, float* y, bool accumulate, bool gelu) {
    auto& pool = ComputePool::shared();
    // Rows in chunks of whole cache lines of output; each chunk streams its part of W once.
    const bool half = !layer.weight16.empty();
    const long bytes = static_cast<long>(layer.out) * layer.in * (half ? 2 : 4);
    const int chunks = bytes < (256 << 10) ? 1 : std::min(pool.threadCount() * 4, std::max(1, layer.out / 16));
    const int step = ((layer.out + chunks - 1) / chunks + 15) / 16 * 16;
    const int count = (layer.out + step - 1) / step;
    pool.parallelFor(static_cast<std::size_t>(count), [&](std::size_t i) {
        const int r0 = static_cast<int>(i) * step;
        const int r1 = std::min(layer.out, r0 + step);
        if (half) {
            float local[64];
            for (int q = r0; q < r1; q += 64) {
                const int n = std::min(64, r1 - q);
                halfMatrixVector(layer.weight16.data() + static_cast<std::size_t>(q) * layer.in, n, layer.in, x, local);
                for (int t = 0; t < n; ++t) y[q + t] = accumulate ? y[q + t] + local[t] : local[t];
            }
        } else {
            cblas_sgemv(CblasRowMajor, CblasNoTrans, r1 - r0, layer.in, 1.0f,
                        layer.weight.data() + static_cast<std::size_t>(r0) * layer.in, layer.in, x, 1,
                        accumulate ? 1.0f : 0.0f, y + r0, 1);
        }
        if (!layer.bias.empty())
            for (int r = r0; r < r1; ++r) y[r] += layer.bias[r];
        if (gelu) geluInPlace(y + r0, static_cast<std::size_t>(r1 - r0));
    });
}

void layerNormRow(const float* x, int width, const LayerNormWeights& w, float* y) {
    double sum = 0.0;
    for (int i = 0; i < width; ++i) sum += x[i];
    const float mean = static_cast<float>(sum / width);
    double var = 0.0;
    for (int i = 0; i < width; ++i) {
        const float d = x[i] - mean;
        var += static_cast<double>(d) * d;
    }
    const float inv = static_cast<float>(1.0 / std::sqrt(var / width + 1e-5));
    for (int i = 0; i < width; ++i) y[i] = (x[i] - mean) * inv * w.gamma[i] + w.beta[i];
}

void layerNorm(const float* x, int rows, int width, const LayerNormWeights& w, float* y) {
    auto& pool = ComputePool::shared();
    const int step = std::max(1, std::min(64, rows / (pool.threadCount() * 2)));
    const int count = (rows + step - 1) / step;
    pool.parallelFor(static_cast<std::size_t>(count), [&](std::size_t i) {
        const int r0 = static_cast<int>(i) * step, r1 = std::min(rows, r0 + step);
        for (int r = r0; r < r1; ++r)
            layerNormRow(x + static_cast<std::size_t>(r) * width, width, w, y + static_cast<std::size_t>(r) * width);
    });
}

}  // namespace platform::ml::kernels
