#include "Platform/ML/VectorProducts.hpp"

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/HalfRegister.hpp"
#include "Platform/ML/PathDispatch.hpp"
#include "Platform/Sys/System.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cstdlib>
#include <cstring>

namespace platform::ml {

namespace {

constexpr int P = 16;
// A panel read front to back is prefetched this far ahead: a few kilobytes keep enough lines in
// flight for one core to approach the memory's speed.
constexpr int kPrefetchBytes = 2048;

void halfPanelsPortable(const std::uint16_t* w, std::size_t cs, std::size_t ps, int panels, int c0, int c1,
                        const float* x, float* y) {
    for (int p = 0; p < panels; ++p) {
        const std::uint16_t* wp = w + static_cast<std::size_t>(p) * ps;
        float acc[P] = {};
        float column[P];
        for (int c = c0; c < c1; ++c) {
            convertHalfToFloat(wp + static_cast<std::size_t>(c) * cs, column, P);
            for (int r = 0; r < P; ++r) acc[r] += column[r] * x[c];
        }
        std::memcpy(y + static_cast<std::size_t>(p) * P, acc, sizeof acc);
    }
}

void floatPanelsPortable(const float* w, std::size_t cs, std::size_t ps, int panels, int c0, int c1, const float* x,
                         float* y) {
    for (int p = 0; p < panels; ++p) {
        const float* wp = w + static_cast<std::size_t>(p) * ps;
        float acc[P] = {};
        for (int c = c0; c < c1; ++c)
            for (int r = 0; r < P; ++r) acc[r] += wp[static_cast<std::size_t>(c) * cs + r] * x[c];
        std::memcpy(y + static_cast<std::size_t>(p) * P, acc, sizeof acc);
    }
}

void widenHalfPanelPortable(const std::uint16_t* panel, int columns, float* out, std::size_t ld) {
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < P; ++r)
            out[static_cast<std::size_t>(c) * ld + r] = halfBitsToFloat(panel[static_cast<std::size_t>(c) * P + r]);
}

void halfRowsKeptPortable(const std::uint16_t* w, std::size_t stride, int rows, int n, const float* x,
                          const std::uint32_t* keep, float* y) {
    for (int r = 0; r < rows; ++r) {
        const std::uint16_t* row = w + static_cast<std::size_t>(r) * stride;
        float s = 0.0f;
        for (int j = 0; j < n; ++j)
            if (keep[j]) s += halfBitsToFloat(row[j]) * x[j];
        y[r] = s;
    }
}

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

__attribute__((target("avx512f"))) void halfPanelsAvx512(const std::uint16_t* w, std::size_t cs, std::size_t ps,
                                                         int panels, int c0, int c1, const float* x, float* y) {
    const bool stream = cs == P;
    for (int p = 0; p < panels; ++p) {
        const std::uint16_t* wp = w + static_cast<std::size_t>(p) * ps;
        __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(), a3 = _mm512_setzero_ps();
        int c = c0;
        for (; c + 4 <= c1; c += 4) {
            const std::uint16_t* col = wp + static_cast<std::size_t>(c) * cs;
            if (stream) {
                _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes, _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes + 64, _MM_HINT_T0);
            }
            a0 = _mm512_fmadd_ps(widenSixteenHalves(col), _mm512_set1_ps(x[c]), a0);
            a1 = _mm512_fmadd_ps(widenSixteenHalves(col + cs), _mm512_set1_ps(x[c + 1]), a1);
            a2 = _mm512_fmadd_ps(widenSixteenHalves(col + 2 * cs), _mm512_set1_ps(x[c + 2]), a2);
            a3 = _mm512_fmadd_ps(widenSixteenHalves(col + 3 * cs), _mm512_set1_ps(x[c + 3]), a3);
        }
        for (; c < c1; ++c)
            a0 = _mm512_fmadd_ps(widenSixteenHalves(wp + static_cast<std::size_t>(c) * cs), _mm512_set1_ps(x[c]), a0);
        _mm512_storeu_ps(y + static_cast<std::size_t>(p) * P,
                         _mm512_add_ps(_mm512_add_ps(a0, a1), _mm512_add_ps(a2, a3)));
    }
}

__attribute__((target("avx512f"))) void floatPanelsAvx512(const float* w, std::size_t cs, std::size_t ps, int panels,
                                                          int c0, int c1, const float* x, float* y) {
    const bool stream = cs == P;
    for (int p = 0; p < panels; ++p) {
        const float* wp = w + static_cast<std::size_t>(p) * ps;
        __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(), a3 = _mm512_setzero_ps();
        int c = c0;
        for (; c + 4 <= c1; c += 4) {
            const float* col = wp + static_cast<std::size_t>(c) * cs;
            if (stream)
                for (int l = 0; l < 4; ++l)
                    _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes + 64 * l, _MM_HINT_T0);
            a0 = _mm512_fmadd_ps(_mm512_loadu_ps(col), _mm512_set1_ps(x[c]), a0);
            a1 = _mm512_fmadd_ps(_mm512_loadu_ps(col + cs), _mm512_set1_ps(x[c + 1]), a1);
            a2 = _mm512_fmadd_ps(_mm512_loadu_ps(col + 2 * cs), _mm512_set1_ps(x[c + 2]), a2);
            a3 = _mm512_fmadd_ps(_mm512_loadu_ps(col + 3 * cs), _mm512_set1_ps(x[c + 3]), a3);
        }
        for (; c < c1; ++c)
            a0 = _mm512_fmadd_ps(_mm512_loadu_ps(wp + static_cast<std::size_t>(c) * cs), _mm512_set1_ps(x[c]), a0);
        _mm512_storeu_ps(y + static_cast<std::size_t>(p) * P,
                         _mm512_add_ps(_mm512_add_ps(a0, a1), _mm512_add_ps(a2, a3)));
    }
}

__attribute__((target("avx512f"))) void widenHalfPanelAvx512(const std::uint16_t* panel, int columns, float* out,
                                                             std::size_t ld) {
    for (int c = 0; c < columns; ++c)
        _mm512_storeu_ps(out + static_cast<std::size_t>(c) * ld,
                         widenSixteenHalves(panel + static_cast<std::size_t>(c) * P));
}

__attribute__((target("avx512f"))) void halfRowsKeptAvx512(const std::uint16_t* w, std::size_t stride, int rows, int n,
                                                           const float* x, const std::uint32_t* keep, float* y) {
    for (int r = 0; r < rows; ++r) {
        const std::uint16_t* row = w + static_cast<std::size_t>(r) * stride;
        __m512 acc = _mm512_setzero_ps();
        int j = 0;
        for (; j + P <= n; j += P) {
            const __m512i k = _mm512_loadu_si512(keep + j);
            // Lanes not kept are never converted, so their contents cannot reach the sum.
            const __m512 v = _mm512_maskz_cvtph_ps(_mm512_test_epi32_mask(k, k),
                                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + j)));
            acc = _mm512_fmadd_ps(v, _mm512_loadu_ps(x + j), acc);
        }
        float s = _mm512_reduce_add_ps(acc);
        for (; j < n; ++j)
            if (keep[j]) s += halfBitsToFloat(row[j]) * x[j];
        y[r] = s;
    }
}

#pragma GCC diagnostic pop

__attribute__((target("avx2,fma,f16c"))) void halfPanelsAvx2(const std::uint16_t* w, std::size_t cs, std::size_t ps,
                                                             int panels, int c0, int c1, const float* x, float* y) {
    const bool stream = cs == P;
    for (int p = 0; p < panels; ++p) {
        const std::uint16_t* wp = w + static_cast<std::size_t>(p) * ps;
        __m256 lo0 = _mm256_setzero_ps(), hi0 = _mm256_setzero_ps(), lo1 = _mm256_setzero_ps(),
               hi1 = _mm256_setzero_ps();
        int c = c0;
        for (; c + 2 <= c1; c += 2) {
            const std::uint16_t* col = wp + static_cast<std::size_t>(c) * cs;
            if (stream) _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes, _MM_HINT_T0);
            const __m256 x0 = _mm256_set1_ps(x[c]), x1 = _mm256_set1_ps(x[c + 1]);
            lo0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col))), x0, lo0);
            hi0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col + 8))), x0, hi0);
            lo1 =
                _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col + cs))), x1, lo1);
            hi1 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col + cs + 8))), x1,
                                  hi1);
        }
        for (; c < c1; ++c) {
            const std::uint16_t* col = wp + static_cast<std::size_t>(c) * cs;
            const __m256 x0 = _mm256_set1_ps(x[c]);
            lo0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col))), x0, lo0);
            hi0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col + 8))), x0, hi0);
        }
        _mm256_storeu_ps(y + static_cast<std::size_t>(p) * P, _mm256_add_ps(lo0, lo1));
        _mm256_storeu_ps(y + static_cast<std::size_t>(p) * P + 8, _mm256_add_ps(hi0, hi1));
    }
}

__attribute__((target("avx2,fma"))) void floatPanelsAvx2(const float* w, std::size_t cs, std::size_t ps, int panels,
                                                         int c0, int c1, const float* x, float* y) {
    const bool stream = cs == P;
    for (int p = 0; p < panels; ++p) {
        const float* wp = w + static_cast<std::size_t>(p) * ps;
        __m256 lo0 = _mm256_setzero_ps(), hi0 = _mm256_setzero_ps(), lo1 = _mm256_setzero_ps(),
               hi1 = _mm256_setzero_ps();
        int c = c0;
        for (; c + 2 <= c1; c += 2) {
            const float* col = wp + static_cast<std::size_t>(c) * cs;
            if (stream) {
                _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes, _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(col) + kPrefetchBytes + 64, _MM_HINT_T0);
            }
            const __m256 x0 = _mm256_set1_ps(x[c]), x1 = _mm256_set1_ps(x[c + 1]);
            lo0 = _mm256_fmadd_ps(_mm256_loadu_ps(col), x0, lo0);
            hi0 = _mm256_fmadd_ps(_mm256_loadu_ps(col + 8), x0, hi0);
            lo1 = _mm256_fmadd_ps(_mm256_loadu_ps(col + cs), x1, lo1);
            hi1 = _mm256_fmadd_ps(_mm256_loadu_ps(col + cs + 8), x1, hi1);
        }
        for (; c < c1; ++c) {
            const float* col = wp + static_cast<std::size_t>(c) * cs;
            const __m256 x0 = _mm256_set1_ps(x[c]);
            lo0 = _mm256_fmadd_ps(_mm256_loadu_ps(col), x0, lo0);
            hi0 = _mm256_fmadd_ps(_mm256_loadu_ps(col + 8), x0, hi0);
        }
        _mm256_storeu_ps(y + static_cast<std::size_t>(p) * P, _mm256_add_ps(lo0, lo1));
        _mm256_storeu_ps(y + static_cast<std::size_t>(p) * P + 8, _mm256_add_ps(hi0, hi1));
    }
}

__attribute__((target("avx2,f16c"))) void widenHalfPanelAvx2(const std::uint16_t* panel, int columns, float* out,
                                                             std::size_t ld) {
    for (int c = 0; c < columns; ++c) {
        const std::uint16_t* h = panel + static_cast<std::size_t>(c) * P;
        float* f = out + static_cast<std::size_t>(c) * ld;
        _mm256_storeu_ps(f, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h))));
        _mm256_storeu_ps(f + 8, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 8))));
    }
}

__attribute__((target("avx2,fma,f16c"))) void halfRowsKeptAvx2(const std::uint16_t* w, std::size_t stride, int rows,
                                                               int n, const float* x, const std::uint32_t* keep,
                                                               float* y) {
    for (int r = 0; r < rows; ++r) {
        const std::uint16_t* row = w + static_cast<std::size_t>(r) * stride;
        __m256 acc = _mm256_setzero_ps();
        int j = 0;
        for (; j + 8 <= n; j += 8) {
            // Clearing every bit of a lane not kept turns whatever it held into +0.
            const __m256 v =
                _mm256_and_ps(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j))),
                              _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(keep + j))));
            acc = _mm256_fmadd_ps(v, _mm256_loadu_ps(x + j), acc);
        }
        alignas(32) float lanes[8];
        _mm256_store_ps(lanes, acc);
        float s = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
        for (; j < n; ++j)
            if (keep[j]) s += halfBitsToFloat(row[j]) * x[j];
        y[r] = s;
    }
}
#endif

}  // namespace

VectorPath processorVectorPath() {
#if defined(__x86_64__)
    static const VectorPath offered = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return VectorPath::avx512;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && processorHasHalfConversion())
            return VectorPath::avx2;
        return VectorPath::portable;
    }();
    return offered;
#else
    return VectorPath::portable;
#endif
}

std::string_view vectorPathName(VectorPath path) {
    switch (path) {
        case VectorPath::avx2:
            return "avx2";
        case VectorPath::avx512:
            return "avx512";
        default:
            return "portable";
    }
}

VectorPath limitVectorPath(VectorPath offered, std::optional<std::string_view> setting) {
    if (!setting) return offered;
    VectorPath asked = offered;
    for (const VectorPath path : {VectorPath::portable, VectorPath::avx2, VectorPath::avx512})
        if (*setting == vectorPathName(path)) asked = path;
    return static_cast<int>(asked) < static_cast<int>(offered) ? asked : offered;
}

VectorPath bestVectorPath() {
    static const VectorPath best = [] {
        const auto setting = platform::sys::environment("VELMORA_VECTOR_PATH");
        return limitVectorPath(processorVectorPath(),
                               setting ? std::optional<std::string_view>(*setting) : std::nullopt);
    }();
    return best;
}

namespace products {

void halfPanels(const std::uint16_t* w, std::size_t columnStride, std::size_t panelStride, int panels, int c0, int c1,
                const float* x, float* y, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(halfPanels))(w, columnStride, panelStride, panels, c0, c1, x, y);
}

void floatPanels(const float* w, std::size_t columnStride, std::size_t panelStride, int panels, int c0, int c1,
                 const float* x, float* y, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(floatPanels))(w, columnStride, panelStride, panels, c0, c1, x, y);
}

void widenHalfPanel(const std::uint16_t* panel, int columns, float* out, std::size_t ld, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(widenHalfPanel))(panel, columns, out, ld);
}

void halfRowsKept(const std::uint16_t* w, std::size_t stride, int rows, int n, const float* x,
                  const std::uint32_t* keep, float* y, VectorPath path) {
    onPath(path, VELMORA_PATH_BUILDS(halfRowsKept))(w, stride, rows, n, x, keep, y);
}

}  // namespace products
}  // namespace platform::ml
