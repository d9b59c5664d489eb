#include "Platform/ML/AttentionKernel.hpp"

#include "Platform/ML/HalfRegister.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/PathDispatch.hpp"

#include <algorithm>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#define VELMORA_X86_ATTENTION 1
#endif

namespace platform::ml::kernels {

namespace {

#ifdef VELMORA_X86_ATTENTION
constexpr int kHeadWidth = 64;
constexpr int kScoreRows = 8;   // query rows of one score tile (x 32 keys: 16 accumulators)
constexpr int kOutputRows = 6;  // query rows of one output tile (x 64 dimensions: 24 accumulators)

// Scores of rows [i0, i0 + 8) (rows past `rows` repeat the last one and are not stored) over all
// keys, 32 at a time.
__attribute__((target("avx512f"))) void scoreTileAvx512(const float* q, std::size_t ldq, int rows, int i0,
                                                        const float* kt, std::size_t ldkt, int keys, float scale,
                                                        float* s, std::size_t lds) {
    const float* qi[kScoreRows];
    for (int i = 0; i < kScoreRows; ++i) qi[i] = q + static_cast<std::size_t>(std::min(i0 + i, rows - 1)) * ldq;
    const __m512 vscale = _mm512_set1_ps(scale);
    for (int j0 = 0; j0 < keys; j0 += 32) {
        const int left = keys - j0;
        const __mmask16 m0 = left >= 16 ? 0xFFFF : static_cast<__mmask16>((1u << left) - 1);
        const __mmask16 m1 = left >= 32 ? 0xFFFF : left <= 16 ? 0 : static_cast<__mmask16>((1u << (left - 16)) - 1);
        __m512 acc[kScoreRows][2];
        for (auto& a : acc) a[0] = a[1] = _mm512_setzero_ps();
        for (int c = 0; c < kHeadWidth; ++c) {
            const float* k = kt + static_cast<std::size_t>(c) * ldkt + j0;
            const __m512 b0 = _mm512_maskz_loadu_ps(m0, k), b1 = _mm512_maskz_loadu_ps(m1, k + 16);
            for (int i = 0; i < kScoreRows; ++i) {
                const __m512 a = _mm512_set1_ps(qi[i][c]);
                acc[i][0] = _mm512_fmadd_ps(a, b0, acc[i][0]);
                acc[i][1] = _mm512_fmadd_ps(a, b1, acc[i][1]);
            }
        }
        for (int i = 0; i < kScoreRows && i0 + i < rows; ++i) {
            float* out = s + static_cast<std::size_t>(i0 + i) * lds + j0;
            _mm512_mask_storeu_ps(out, m0, _mm512_mul_ps(acc[i][0], vscale));
            _mm512_mask_storeu_ps(out + 16, m1, _mm512_mul_ps(acc[i][1], vscale));
        }
    }
}

// out[i][0..64) = scale_i * sum over keys of p[i][j] v[j][0..64) for rows [i0, i0 + 6).
__attribute__((target("avx512f"))) void outputTileAvx512(const float* p, std::size_t ldp, int rows, int i0,
                                                         const float* v, std::size_t ldv, int keys,
                                                         const float* rowScale, float* out, std::size_t ldo) {
    const float* pi[kOutputRows];
    for (int i = 0; i < kOutputRows; ++i) pi[i] = p + static_cast<std::size_t>(std::min(i0 + i, rows - 1)) * ldp;
    __m512 acc[kOutputRows][4];
    for (auto& a : acc) a[0] = a[1] = a[2] = a[3] = _mm512_setzero_ps();
    for (int j = 0; j < keys; ++j) {
        const float* vj = v + static_cast<std::size_t>(j) * ldv;
        const __m512 b0 = _mm512_loadu_ps(vj), b1 = _mm512_loadu_ps(vj + 16), b2 = _mm512_loadu_ps(vj + 32),
                     b3 = _mm512_loadu_ps(vj + 48);
        for (int i = 0; i < kOutputRows; ++i) {
            const __m512 a = _mm512_set1_ps(pi[i][j]);
            acc[i][0] = _mm512_fmadd_ps(a, b0, acc[i][0]);
            acc[i][1] = _mm512_fmadd_ps(a, b1, acc[i][1]);
            acc[i][2] = _mm512_fmadd_ps(a, b2, acc[i][2]);
            acc[i][3] = _mm512_fmadd_ps(a, b3, acc[i][3]);
        }
    }
    for (int i = 0; i < kOutputRows && i0 + i < rows; ++i) {
        const __m512 f = _mm512_set1_ps(rowScale[i0 + i]);
        float* o = out + static_cast<std::size_t>(i0 + i) * ldo;
        for (int c = 0; c < 4; ++c) _mm512_storeu_ps(o + 16 * c, _mm512_mul_ps(acc[i][c], f));
    }
}

// AVX2: sixteen 256-bit registers hold 6 query rows x 16 keys of scores, or 6 query rows x 16
// dimensions of the weighted sums (12 accumulators each), with the two loaded columns and the
// broadcast value.
constexpr int kAvx2Rows = 6;

// Scores of rows [i0, i0 + 6) (rows past `rows` repeat the last one and are not stored) over all
// keys, 16 at a time; a last block of fewer keys reads only those and stores zeros after them
// (the score rows are padded to whole blocks).
VELMORA_AVX2_CODE void scoreTileAvx2(const float* q, std::size_t ldq, int rows, int i0, const float* kt,
                                     std::size_t ldkt, int keys, float scale, float* s, std::size_t lds) {
    const float* qi[kAvx2Rows];
    for (int i = 0; i < kAvx2Rows; ++i) qi[i] = q + static_cast<std::size_t>(std::min(i0 + i, rows - 1)) * ldq;
    const __m256 vscale = _mm256_set1_ps(scale);
    for (int j0 = 0; j0 < keys; j0 += 16) {
        const int left = keys - j0;
        const __m256i m0 = leadingLanes(left), m1 = leadingLanes(left - 8);
        __m256 acc[kAvx2Rows][2];
        for (auto& a : acc) a[0] = a[1] = _mm256_setzero_ps();
        for (int c = 0; c < kHeadWidth; ++c) {
            const float* k = kt + static_cast<std::size_t>(c) * ldkt + j0;
            __m256 b0, b1;
            if (left >= 16) {
                b0 = _mm256_loadu_ps(k);
                b1 = _mm256_loadu_ps(k + 8);
            } else {
                b0 = _mm256_maskload_ps(k, m0);
                b1 = _mm256_maskload_ps(k + 8, m1);
            }
            for (int i = 0; i < kAvx2Rows; ++i) {
                const __m256 a = _mm256_broadcast_ss(qi[i] + c);
                acc[i][0] = _mm256_fmadd_ps(a, b0, acc[i][0]);
                acc[i][1] = _mm256_fmadd_ps(a, b1, acc[i][1]);
            }
        }
        for (int i = 0; i < kAvx2Rows && i0 + i < rows; ++i) {
            float* out = s + static_cast<std::size_t>(i0 + i) * lds + j0;
            _mm256_storeu_ps(out, _mm256_mul_ps(acc[i][0], vscale));
            _mm256_storeu_ps(out + 8, _mm256_mul_ps(acc[i][1], vscale));
        }
    }
}

// out[i][0..64) = scale_i * sum over keys of p[i][j] v[j][0..64) for rows [i0, i0 + 6), 16
// dimensions at a time.
VELMORA_AVX2_CODE void outputTileAvx2(const float* p, std::size_t ldp, int rows, int i0, const float* v,
                                      std::size_t ldv, int keys, const float* rowScale, float* out, std::size_t ldo) {
    const float* pi[kAvx2Rows];
    for (int i = 0; i < kAvx2Rows; ++i) pi[i] = p + static_cast<std::size_t>(std::min(i0 + i, rows - 1)) * ldp;
    for (int c0 = 0; c0 < kHeadWidth; c0 += 16) {
        __m256 acc[kAvx2Rows][2];
        for (auto& a : acc) a[0] = a[1] = _mm256_setzero_ps();
        for (int j = 0; j < keys; ++j) {
            const float* vj = v + static_cast<std::size_t>(j) * ldv + c0;
            const __m256 b0 = _mm256_loadu_ps(vj), b1 = _mm256_loadu_ps(vj + 8);
            for (int i = 0; i < kAvx2Rows; ++i) {
                const __m256 a = _mm256_broadcast_ss(pi[i] + j);
                acc[i][0] = _mm256_fmadd_ps(a, b0, acc[i][0]);
                acc[i][1] = _mm256_fmadd_ps(a, b1, acc[i][1]);
            }
        }
        for (int i = 0; i < kAvx2Rows && i0 + i < rows; ++i) {
            const __m256 f = _mm256_set1_ps(rowScale[i0 + i]);
            float* o = out + static_cast<std::size_t>(i0 + i) * ldo + c0;
            _mm256_storeu_ps(o, _mm256_mul_ps(acc[i][0], f));
            _mm256_storeu_ps(o + 8, _mm256_mul_ps(acc[i][1], f));
        }
    }
}
#endif

}  // namespace

void attendOneHead(const float* q, std::size_t ldq, int rows, const float* kt, std::size_t ldkt, const float* v,
                   std::size_t ldv, int keys, int width, float scale, float* out, std::size_t ldo, VectorPath path) {
    if (rows <= 0 || keys <= 0) return;
    const std::size_t lds = static_cast<std::size_t>(keys + 15) / 16 * 16;
    thread_local std::vector<float> scores, inverse;
    scores.resize(static_cast<std::size_t>(rows) * lds);
    inverse.resize(static_cast<std::size_t>(rows));
#ifdef VELMORA_X86_ATTENTION
    const VectorPath tiles = width == kHeadWidth ? usablePath(path) : VectorPath::portable;
    if (tiles == VectorPath::avx512) {
        for (int i0 = 0; i0 < rows; i0 += kScoreRows)
            scoreTileAvx512(q, ldq, rows, i0, kt, ldkt, keys, scale, scores.data(), lds);
    } else if (tiles == VectorPath::avx2) {
        for (int i0 = 0; i0 < rows; i0 += kAvx2Rows)
            scoreTileAvx2(q, ldq, rows, i0, kt, ldkt, keys, scale, scores.data(), lds);
    } else
#endif
        gemmNN(rows, keys, width, q, static_cast<int>(ldq), kt, static_cast<int>(ldkt), scores.data(),
               static_cast<int>(lds), 0.0f, scale);
    // Unnormalised probabilities; the output rows are divided by their sums instead.
    for (int i = 0; i < rows; ++i) {
        float maximum;
        inverse[static_cast<std::size_t>(i)] = 1.0f / exponentiate(scores.data() + static_cast<std::size_t>(i) * lds,
                                                                   static_cast<std::size_t>(keys), maximum, path);
    }
#ifdef VELMORA_X86_ATTENTION
    if (tiles == VectorPath::avx512) {
        for (int i0 = 0; i0 < rows; i0 += kOutputRows)
            outputTileAvx512(scores.data(), lds, rows, i0, v, ldv, keys, inverse.data(), out, ldo);
        return;
    }
    if (tiles == VectorPath::avx2) {
        for (int i0 = 0; i0 < rows; i0 += kAvx2Rows)
            outputTileAvx2(scores.data(), lds, rows, i0, v, ldv, keys, inverse.data(), out, ldo);
        return;
    }
#endif
    gemmNN(rows, width, keys, scores.data(), static_cast<int>(lds), v, static_cast<int>(ldv), out,
           static_cast<int>(ldo));
    for (int i = 0; i < rows; ++i) {
        float* o = out + static_cast<std::size_t>(i) * ldo;
        for (int c = 0; c < width; ++c) o[c] *= inverse[static_cast<std::size_t>(i)];
    }
}

}  // namespace platform::ml::kernels
