#include "Platform/ML/Kernels.hpp"

#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Float16.hpp"
#include "Platform/ML/HalfPanelProduct.hpp"
#include "Platform/ML/HalfRegister.hpp"
#include "Platform/ML/PathDispatch.hpp"
#include "Platform/ML/VectorProducts.hpp"

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
[[gnu::always_inline]] inline float fastExp(float x) {
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
[[gnu::always_inline]] inline float geluOne(float x) {
    const float z = std::fabs(x) * 0.70710678118654752f;
    const float t = 1.0f / (1.0f + 0.5f * z);
    const float poly =
        -z * z - 1.26551223f +
        t * (1.00002368f +
             t * (0.37409196f +
                  t * (0.09678418f +
                       t * (-0.18628806f +
                            t * (0.27886807f +
                                 t * (-1.13520398f + t * (1.48851587f + t * (-0.82215223f + t * 0.17087277f))))))));
    const float erfcz = t * fastExp(poly);
    // 0.5 * (1 + erf(x/sqrt2)): erf = 1 - erfc for x >= 0, erfc - 1 for x < 0.
    const float cdf = x >= 0.0f ? 1.0f - 0.5f * erfcz : 0.5f * erfcz;
    return x * cdf;
}

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
        if (rowSize >= 2 * 48 && (rowSize >= colSize || colSize < 2 * 128))
            ++rowBlocks;
        else if (colSize >= 2 * 128)
            ++colBlocks;
        else
            break;
    }
    const int rowStep = (rows + rowBlocks - 1) / rowBlocks;
    const int colStep = ((cols + colBlocks - 1) / colBlocks + 15) / 16 * 16;
    for (int r = 0; r < rows; r += rowStep)
        for (int c = 0; c < cols; c += colStep)
            blocks.push_back({r, std::min(rows, r + rowStep), c, std::min(cols, c + colStep)});
    return blocks;
}

}  // namespace

// The reductions the samplers run over a vocabulary: AVX-512 where the processor has it (chosen
// once, as for the vector products), plain loops elsewhere.
namespace {

inline float valueAt(const float* x, std::size_t i) {
    return x[i];
}
inline float valueAt(const std::uint16_t* x, std::size_t i) {
    return halfBitsToFloat(x[i]);
}

float maximumAndIndexPortable(const float* x, std::size_t n, std::size_t& index) {
    float m = -INFINITY;
    index = n;
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] > m) {
            m = x[i];
            index = i;
        }
    if (m == -INFINITY) index = n;
    return m;
}

[[gnu::always_inline]] inline float shiftedExp(float x, float shift) {
    const float t = x - shift;
    return fastExp(t > -87.0f ? t : -87.0f);  // NaN counts as -inf
}

// Sixteen running sums, each adding four terms at a time, as the AVX-512 path does: one running
// sum over a whole vocabulary loses the small terms' last digits (1e-4 of the sum over 51865).
[[gnu::always_inline]] inline float sumOfExponentialsLoop(const float* x, std::size_t n, float shift) {
    constexpr std::size_t L = 16;
    float lanes[L] = {};
    std::size_t i = 0;
    for (; i + 4 * L <= n; i += 4 * L)
        for (std::size_t j = 0; j < L; ++j)
            lanes[j] += (shiftedExp(x[i + j], shift) + shiftedExp(x[i + L + j], shift)) +
                        (shiftedExp(x[i + 2 * L + j], shift) + shiftedExp(x[i + 3 * L + j], shift));
    for (; i + L <= n; i += L)
        for (std::size_t j = 0; j < L; ++j) lanes[j] += shiftedExp(x[i + j], shift);
    float tail = 0.0f;
    for (; i < n; ++i) tail += shiftedExp(x[i], shift);
    for (std::size_t width = L / 2; width > 0; width /= 2)
        for (std::size_t j = 0; j < width; ++j) lanes[j] += lanes[j + width];
    return lanes[0] + tail;
}

[[gnu::always_inline]] inline void expLoop(float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = fastExp(x[i]);
}

[[gnu::always_inline]] inline void divideLoop(float* x, std::size_t n, float divisor) {
    for (std::size_t i = 0; i < n; ++i) x[i] = x[i] / divisor;
}

[[gnu::always_inline]] inline void geluLoop(float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = geluOne(x[i]);
}

[[gnu::always_inline]] inline float exponentiateLoop(float* x, std::size_t n, float& maximum) {
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
    maximum = m;
    return sum;
}

[[gnu::always_inline]] inline void softmaxLoop(float* x, std::size_t n) {
    if (n == 0) return;
    float m;
    const float inv = 1.0f / exponentiateLoop(x, n, m);
    for (std::size_t i = 0; i < n; ++i) x[i] *= inv;
}

// a * b + c: with one rounding on the paths whose instruction sets fuse the two (written out, so
// that a path's results do not hang on whether the compiler chose to contract), with two on the
// portable path, whose baseline instruction set has no fused form.
template <bool Fused>
[[gnu::always_inline]] inline float multiplyAdd(float a, float b, float c) {
    if constexpr (Fused)
        return __builtin_fmaf(a, b, c);
    else
        return a * b + c;
}

template <bool Fused>
[[gnu::always_inline]] inline float dotLoop(const float* a, const float* b, std::size_t n) {
    constexpr std::size_t L = 16;
    float lanes[L] = {};
    std::size_t i = 0;
    for (; i + L <= n; i += L)
        for (std::size_t j = 0; j < L; ++j) lanes[j] = multiplyAdd<Fused>(a[i + j], b[i + j], lanes[j]);
    float sum = 0.0f;
    for (; i < n; ++i) sum = multiplyAdd<Fused>(a[i], b[i], sum);
    for (std::size_t j = 0; j < L; ++j) sum += lanes[j];
    return sum;
}

template <bool Fused>
[[gnu::always_inline]] inline void addScaledLoop(const float* x, float a, float* y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) y[i] = multiplyAdd<Fused>(a, x[i], y[i]);
}

// The loops above, built once for each path: the compiler vectorises each build for its own
// instruction set; the builds whose set has fused multiply-add use it.
#define VELMORA_EXPONENTIAL_BUILD(Path, Target)                                \
    Target void expInPlace##Path(float* x, std::size_t n) {                    \
        expLoop(x, n);                                                         \
    }                                                                          \
    Target void geluInPlace##Path(float* x, std::size_t n) {                   \
        geluLoop(x, n);                                                        \
    }                                                                          \
    Target float exponentiate##Path(float* x, std::size_t n, float& maximum) { \
        return exponentiateLoop(x, n, maximum);                                \
    }                                                                          \
    Target void softmaxInPlace##Path(float* x, std::size_t n) {                \
        softmaxLoop(x, n);                                                     \
    }
#define VELMORA_LINEAR_BUILD(Path, Target, Fused)                                   \
    Target void divideInPlace##Path(float* x, std::size_t n, float divisor) {       \
        divideLoop(x, n, divisor);                                                  \
    }                                                                               \
    Target float dot##Path(const float* a, const float* b, std::size_t n) {         \
        return dotLoop<Fused>(a, b, n);                                             \
    }                                                                               \
    Target void addScaled##Path(const float* x, float a, float* y, std::size_t n) { \
        addScaledLoop<Fused>(x, a, y, n);                                           \
    }

VELMORA_EXPONENTIAL_BUILD(Portable, )
VELMORA_LINEAR_BUILD(Portable, , false)
float sumOfExponentialsPortable(const float* x, std::size_t n, float shift) {
    return sumOfExponentialsLoop(x, n, shift);
}
#if defined(__x86_64__)
VELMORA_LINEAR_BUILD(Avx2, VELMORA_AVX2_CODE, true)
VELMORA_EXPONENTIAL_BUILD(Avx512, VELMORA_AVX512_CODE)
VELMORA_LINEAR_BUILD(Avx512, VELMORA_AVX512_CODE, true)

// GCC 12 leaves the loops with exponentials scalar in the AVX2 build (it will not turn their
// clamps and sign test into blends there), so that build is written out: the same steps as
// fastExp and geluOne, eight lanes at a time.
VELMORA_AVX2_CODE inline __m256 fastExpAvx2(__m256 x) {
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-87.0f)), _mm256_set1_ps(88.0f));
    const __m256 round = _mm256_set1_ps(12582912.0f);
    const __m256 n = _mm256_sub_ps(_mm256_fmadd_ps(x, _mm256_set1_ps(1.44269504088896341f), round), round);
    __m256 r = _mm256_fnmadd_ps(n, _mm256_set1_ps(0.693145751953125f), x);
    r = _mm256_fnmadd_ps(n, _mm256_set1_ps(1.428606765330187045e-06f), r);
    __m256 p = _mm256_set1_ps(1.0f / 720.0f);
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 120.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 24.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 6.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(0.5f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f));
    const __m256i bits = _mm256_slli_epi32(_mm256_add_epi32(_mm256_cvttps_epi32(n), _mm256_set1_epi32(127)), 23);
    return _mm256_mul_ps(p, _mm256_castsi256_ps(bits));
}

VELMORA_AVX2_CODE inline __m256 geluAvx2(__m256 x) {
    const __m256 z = _mm256_mul_ps(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), x), _mm256_set1_ps(0.70710678118654752f));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 t = _mm256_div_ps(one, _mm256_fmadd_ps(_mm256_set1_ps(0.5f), z, one));
    __m256 h = _mm256_set1_ps(0.17087277f);
    for (const float c :
         {-0.82215223f, 1.48851587f, -1.13520398f, 0.27886807f, -0.18628806f, 0.09678418f, 0.37409196f, 1.00002368f})
        h = _mm256_fmadd_ps(t, h, _mm256_set1_ps(c));
    const __m256 poly = _mm256_fmadd_ps(t, h, _mm256_fnmadd_ps(z, z, _mm256_set1_ps(-1.26551223f)));
    const __m256 half = _mm256_mul_ps(_mm256_set1_ps(0.5f), _mm256_mul_ps(t, fastExpAvx2(poly)));
    const __m256 cdf =
        _mm256_blendv_ps(half, _mm256_sub_ps(one, half), _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GE_OQ));
    return _mm256_mul_ps(x, cdf);
}

VELMORA_AVX2_CODE void expInPlaceAvx2(float* x, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm256_storeu_ps(x + i, fastExpAvx2(_mm256_loadu_ps(x + i)));
    for (; i < n; ++i) x[i] = fastExp(x[i]);
}

VELMORA_AVX2_CODE void geluInPlaceAvx2(float* x, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm256_storeu_ps(x + i, geluAvx2(_mm256_loadu_ps(x + i)));
    for (; i < n; ++i) x[i] = geluOne(x[i]);
}

VELMORA_AVX2_CODE inline float sumOfLanes(__m256 a, __m256 b) {
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, _mm256_add_ps(a, b));
    return ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
}

// Sixteen running lanes, as the loops keep them.
VELMORA_AVX2_CODE float exponentiateAvx2(float* x, std::size_t n, float& maximum) {
    __m256 m0 = _mm256_set1_ps(-INFINITY), m1 = m0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        m0 = _mm256_max_ps(m0, _mm256_loadu_ps(x + i));
        m1 = _mm256_max_ps(m1, _mm256_loadu_ps(x + i + 8));
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, _mm256_max_ps(m0, m1));
    float m = -INFINITY;
    for (const float v : lanes) m = std::max(m, v);
    for (; i < n; ++i) m = std::max(m, x[i]);
    const __m256 shift = _mm256_set1_ps(m);
    __m256 s0 = _mm256_setzero_ps(), s1 = s0;
    for (i = 0; i + 16 <= n; i += 16) {
        const __m256 e0 = fastExpAvx2(_mm256_sub_ps(_mm256_loadu_ps(x + i), shift));
        const __m256 e1 = fastExpAvx2(_mm256_sub_ps(_mm256_loadu_ps(x + i + 8), shift));
        _mm256_storeu_ps(x + i, e0);
        _mm256_storeu_ps(x + i + 8, e1);
        s0 = _mm256_add_ps(s0, e0);
        s1 = _mm256_add_ps(s1, e1);
    }
    float sum = 0.0f;
    for (; i < n; ++i) {
        x[i] = fastExp(x[i] - m);
        sum += x[i];
    }
    maximum = m;
    return sum + sumOfLanes(s0, s1);
}

VELMORA_AVX2_CODE void softmaxInPlaceAvx2(float* x, std::size_t n) {
    if (n == 0) return;
    float m;
    const __m256 inv = _mm256_set1_ps(1.0f / exponentiateAvx2(x, n, m));
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm256_storeu_ps(x + i, _mm256_mul_ps(_mm256_loadu_ps(x + i), inv));
    for (; i < n; ++i) x[i] *= _mm256_cvtss_f32(inv);
}

VELMORA_AVX2_CODE inline __m256 shiftedExpAvx2(const float* x, __m256 shift) {
    // max(t, -87) takes -87 for a NaN t: NaN counts as -inf.
    return fastExpAvx2(_mm256_max_ps(_mm256_sub_ps(_mm256_loadu_ps(x), shift), _mm256_set1_ps(-87.0f)));
}

VELMORA_AVX2_CODE float sumOfExponentialsAvx2(const float* x, std::size_t n, float shift) {
    const __m256 s = _mm256_set1_ps(shift);
    __m256 lo = _mm256_setzero_ps(), hi = lo;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        lo = _mm256_add_ps(lo,
                           _mm256_add_ps(_mm256_add_ps(shiftedExpAvx2(x + i, s), shiftedExpAvx2(x + i + 16, s)),
                                         _mm256_add_ps(shiftedExpAvx2(x + i + 32, s), shiftedExpAvx2(x + i + 48, s))));
        hi = _mm256_add_ps(hi,
                           _mm256_add_ps(_mm256_add_ps(shiftedExpAvx2(x + i + 8, s), shiftedExpAvx2(x + i + 24, s)),
                                         _mm256_add_ps(shiftedExpAvx2(x + i + 40, s), shiftedExpAvx2(x + i + 56, s))));
    }
    for (; i + 16 <= n; i += 16) {
        lo = _mm256_add_ps(lo, shiftedExpAvx2(x + i, s));
        hi = _mm256_add_ps(hi, shiftedExpAvx2(x + i + 8, s));
    }
    float tail = 0.0f;
    for (; i < n; ++i) tail += shiftedExp(x[i], shift);
    return sumOfLanes(lo, hi) + tail;
}
#endif

}  // namespace

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

__attribute__((target("avx512f"))) inline __m512 loadSixteen(const float* p) {
    return _mm512_loadu_ps(p);
}
__attribute__((target("avx512f"))) inline __m512 loadSixteen(const std::uint16_t* p) {
    return widenSixteenHalves(p);
}

/// The maximum and its first index over floats or half-precision bits: each lane keeps the first
/// index of its own maximum, and the lanes are joined by value, then by index.
template <typename Element>
__attribute__((target("avx512f"))) float maximumAndIndexAvx512(const Element* x, std::size_t n, std::size_t& index) {
    __m512 best = _mm512_set1_ps(-INFINITY);
    __m512i at = _mm512_set1_epi32(static_cast<int>(n));
    __m512i position = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i sixteen = _mm512_set1_epi32(16);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16, position = _mm512_add_epi32(position, sixteen)) {
        const __m512 v = loadSixteen(x + i);
        const __mmask16 above = _mm512_cmp_ps_mask(v, best, _CMP_GT_OQ);  // never for NaN
        best = _mm512_mask_mov_ps(best, above, v);
        at = _mm512_mask_mov_epi32(at, above, position);
    }
    alignas(64) float lanes[16];
    alignas(64) std::int32_t places[16];
    _mm512_store_ps(lanes, best);
    _mm512_store_si512(places, at);
    float m = -INFINITY;
    std::size_t where = n;
    for (int j = 0; j < 16; ++j)
        if (lanes[j] > m || (lanes[j] == m && static_cast<std::size_t>(places[j]) < where)) {
            m = lanes[j];
            where = static_cast<std::size_t>(places[j]);
        }
    for (; i < n; ++i)
        if (valueAt(x, i) > m) {
            m = valueAt(x, i);
            where = i;
        }
    index = m == -INFINITY ? n : where;
    return m;
}

__attribute__((target("avx512f"))) inline __m512 exp2Avx512(__m512 t) {
    // 2^t = 2^n x 2^f with n = round(t), f in [-1/2, 1/2]; NaN and t below -126 count as -126.
    t = _mm512_max_ps(t, _mm512_set1_ps(-126.0f));
    const __m512 n = _mm512_roundscale_ps(t, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512 f = _mm512_sub_ps(t, n);
    // The Taylor series of 2^f = e^(f ln 2) to the sixth power: below 1.2e-7 relative for |f| <= 1/2.
    __m512 p = _mm512_set1_ps(1.5403530393381610e-4f);
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(1.3333558146428443e-3f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(9.6181291076284772e-3f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(5.5504108664821580e-2f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(2.4022650695910071e-1f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(6.9314718055994531e-1f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(1.0f));
    return _mm512_scalef_ps(p, n);
}

/// The sum of exp(x - shift) over floats or half-precision bits. A block of 64 whose largest
/// value lies 30 below the shift adds nothing a float can hold next to the sum, and is skipped.
template <typename Element>
__attribute__((target("avx512f"))) float sumOfExponentialsAvx512Of(const Element* x, std::size_t n, float shift) {
    const __m512 log2e = _mm512_set1_ps(1.44269504088896341f);
    const __m512 shifted = _mm512_set1_ps(shift);
    const float negligible = shift - 30.0f;
    __m512 sum = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512 v0 = loadSixteen(x + i), v1 = loadSixteen(x + i + 16), v2 = loadSixteen(x + i + 32),
                     v3 = loadSixteen(x + i + 48);
        const __m512 top = _mm512_max_ps(_mm512_max_ps(v0, v1), _mm512_max_ps(v2, v3));
        if (_mm512_reduce_max_ps(top) < negligible) continue;
        const __m512 t0 = exp2Avx512(_mm512_mul_ps(_mm512_sub_ps(v0, shifted), log2e));
        const __m512 t1 = exp2Avx512(_mm512_mul_ps(_mm512_sub_ps(v1, shifted), log2e));
        const __m512 t2 = exp2Avx512(_mm512_mul_ps(_mm512_sub_ps(v2, shifted), log2e));
        const __m512 t3 = exp2Avx512(_mm512_mul_ps(_mm512_sub_ps(v3, shifted), log2e));
        sum = _mm512_add_ps(sum, _mm512_add_ps(_mm512_add_ps(t0, t1), _mm512_add_ps(t2, t3)));
    }
    for (; i + 16 <= n; i += 16)
        sum = _mm512_add_ps(sum, exp2Avx512(_mm512_mul_ps(_mm512_sub_ps(loadSixteen(x + i), shifted), log2e)));
    float tail = 0.0f;
    for (; i < n; ++i) tail += shiftedExp(valueAt(x, i), shift);
    return _mm512_reduce_add_ps(sum) + tail;
}
// The AVX-512 build of the sum, written by hand: it passes over blocks too small to count.
__attribute__((target("avx512f"))) float sumOfExponentialsAvx512(const float* x, std::size_t n, float shift) {
    return sumOfExponentialsAvx512Of(x, n, shift);
}
#pragma GCC diagnostic pop
#endif

float maximumAndIndex(const float* x, std::size_t n, std::size_t& index, VectorPath path) {
#if defined(__x86_64__)
    if (usablePath(path) == VectorPath::avx512) return maximumAndIndexAvx512(x, n, index);
#else
    (void)path;
#endif
    return maximumAndIndexPortable(x, n, index);
}

float sumOfExponentials(const float* x, std::size_t n, float shift, VectorPath path) {
    return onPath(path, VELMORA_PATH_BUILDS(sumOfExponentials))(x, n, shift);
}

float halfMaximumAndIndex(const std::uint16_t* x, std::size_t n, std::size_t& index, VectorPath path) {
#if defined(__x86_64__)
    if (usablePath(path) == VectorPath::avx512) return maximumAndIndexAvx512(x, n, index);
#endif
    constexpr std::size_t kRun = 1024;
    float values[kRun];
    float m = -INFINITY;
    index = n;
    for (std::size_t begin = 0; begin < n; begin += kRun) {
        const std::size_t length = std::min(kRun, n - begin);
        convertHalfToFloat(x + begin, values, length);
        std::size_t at = length;
        const float runMaximum = maximumAndIndex(values, length, at, path);
        if (runMaximum > m) {
            m = runMaximum;
            index = begin + at;
        }
    }
    return m;
}

float halfSumOfExponentials(const std::uint16_t* x, std::size_t n, float shift, VectorPath path) {
#if defined(__x86_64__)
    if (usablePath(path) == VectorPath::avx512) return sumOfExponentialsAvx512Of(x, n, shift);
#endif
    constexpr std::size_t kRun = 1024;
    float values[kRun];
    float total = 0.0f;
    for (std::size_t begin = 0; begin < n; begin += kRun) {
        const std::size_t length = std::min(kRun, n - begin);
        convertHalfToFloat(x + begin, values, length);
        total += sumOfExponentials(values, length, shift, path);
    }
    return total;
}

void expInPlace(float* x, std::size_t n, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(expInPlace))(x, n);
}

void divideInPlace(float* x, std::size_t n, float divisor, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(divideInPlace))(x, n, divisor);
}

void geluInPlace(float* x, std::size_t n, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(geluInPlace))(x, n);
}

float exponentiate(float* x, std::size_t n, float& maximum, VectorPath path) {
    return onPath(path, VELMORA_PATH_BUILDS(exponentiate))(x, n, maximum);
}

void softmaxInPlace(float* x, std::size_t n, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(softmaxInPlace))(x, n);
}

float dot(const float* a, const float* b, std::size_t n, VectorPath path) {
    return onPath(path, VELMORA_PATH_BUILDS(dot))(a, b, n);
}

void addScaled(const float* x, float a, float* y, std::size_t n, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(addScaled))(x, a, y, n);
}

void gemmNT(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta) {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, n, k, 1.0f, a, lda, b, ldb, beta, c, ldc);
}

void gemmNN(int m, int n, int k, const float* a, int lda, const float* b, int ldb, float* c, int ldc, float beta,
            float alpha) {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void linearRows(const float* x, std::size_t ldx, int rows, const Linear& layer, int colBegin, int colEnd, float* y,
                std::size_t ldy, bool accumulate, bool gelu, VectorPath path) {
    const PackedMatrix& w = layer.weight;
    if (halfPanelProduct(x, ldx, rows, w, colBegin, colEnd, y, ldy, accumulate, path)) {
        if (layer.bias.empty() && !gelu) return;
        for (int r = 0; r < rows; ++r) {
            float* row = y + static_cast<std::size_t>(r) * ldy + colBegin;
            const auto n = static_cast<std::size_t>(colEnd - colBegin);
            if (!layer.bias.empty()) addScaled(layer.bias.data() + colBegin, 1.0f, row, n, path);
            if (gelu) geluInPlace(row, n, path);
        }
        return;
    }
    const int in = w.columns();
    constexpr int P = PackedMatrix::kPanel;
    // Chunks of outputs whose widened weights take at most about 2 MB, but wide enough that the
    // rows are not packed again too often (each chunk is a GEMM of its own).
    const int chunk = std::clamp((1 << 19) / std::max(in, 1) / P * P, 4 * P, 32 * P);
    thread_local std::vector<float> widened;
    widened.resize(static_cast<std::size_t>(in) * chunk);
    for (int c0 = colBegin; c0 < colEnd; c0 += chunk) {
        const int c1 = std::min(colEnd, c0 + chunk), n = c1 - c0;
        const int p0 = c0 / P, p1 = (c1 + P - 1) / P, ldb = (p1 - p0) * P;
        w.unpack(p0, p1, widened.data(), path);
        float* out = y + c0;
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, rows, n, in, 1.0f, x, static_cast<int>(ldx),
                    widened.data(), ldb, accumulate ? 1.0f : 0.0f, out, static_cast<int>(ldy));
        for (int r = 0; r < rows; ++r) {
            float* row = out + static_cast<std::size_t>(r) * ldy;
            if (!layer.bias.empty()) {
                const float* bias = layer.bias.data() + c0;
                for (int c = 0; c < n; ++c) row[c] += bias[c];
            }
            if (gelu) geluInPlace(row, static_cast<std::size_t>(n), path);
        }
    }
}

void linear(const float* x, std::size_t ldx, int rows, const Linear& layer, float* y, std::size_t ldy, bool accumulate,
            bool gelu, VectorPath path) {
    auto& pool = ComputePool::shared();
    // Tiles start on panel boundaries (tile() rounds their widths to 16).
    const auto blocks = tile(rows, layer.weight.rows(), pool.threadCount());
    pool.parallelFor(blocks.size(), [&](std::size_t i) {
        const Block& b = blocks[i];
        linearRows(x + static_cast<std::size_t>(b.rowBegin) * ldx, ldx, b.rowEnd - b.rowBegin, layer, b.colBegin,
                   b.colEnd, y + static_cast<std::size_t>(b.rowBegin) * ldy, ldy, accumulate, gelu, path);
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

}  // namespace platform::ml::kernels
