#include "Platform/ML/HalfPanelProduct.hpp"

#include "Platform/ML/HalfRegister.hpp"
#include "Platform/ML/PathDispatch.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

#if defined(__x86_64__)
#define VELMORA_HALF_PANEL_PRODUCT 1
#endif

#ifdef VELMORA_HALF_PANEL_PRODUCT
namespace {

constexpr int P = PackedMatrix::kPanel;

// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

// AVX-512: a register tile of 12 rows x 32 outputs (24 accumulators), over at most 256 inputs at a
// time, so that a tile's rows (12 x 256 floats) and the two panels' columns (32 x 256 halves) stay
// in the first-level cache while every tile of the block of rows reuses the panels.
constexpr int kAvx512Rows = 12;

/// C[R x 16 or 32] (+)= A B over `depth` inputs: A packed [depth][kAvx512Rows], B the columns of one
/// or two panels (16 halves per input each); the masks say which of the 32 outputs exist.
template <int R, bool Two>
__attribute__((target("avx512f"))) void tile(const float* a, const std::uint16_t* b0, const std::uint16_t* b1,
                                             int depth, float* c, std::size_t ldc, __mmask16 m0, __mmask16 m1,
                                             bool load) {
    __m512 acc[R][2];
    for (int i = 0; i < R; ++i) {
        float* row = c + static_cast<std::size_t>(i) * ldc;
        acc[i][0] = load ? _mm512_maskz_loadu_ps(m0, row) : _mm512_setzero_ps();
        if constexpr (Two) acc[i][1] = load ? _mm512_maskz_loadu_ps(m1, row + P) : _mm512_setzero_ps();
    }
    for (int k = 0; k < depth; ++k) {
        const __m512 w0 = widenSixteenHalves(b0 + static_cast<std::size_t>(k) * P);
        __m512 w1 = w0;
        if constexpr (Two) w1 = widenSixteenHalves(b1 + static_cast<std::size_t>(k) * P);
        const float* ak = a + static_cast<std::size_t>(k) * kAvx512Rows;
#pragma GCC unroll 12
        for (int i = 0; i < R; ++i) {
            const __m512 v = _mm512_set1_ps(ak[i]);
            acc[i][0] = _mm512_fmadd_ps(v, w0, acc[i][0]);
            if constexpr (Two) acc[i][1] = _mm512_fmadd_ps(v, w1, acc[i][1]);
        }
    }
    for (int i = 0; i < R; ++i) {
        float* row = c + static_cast<std::size_t>(i) * ldc;
        _mm512_mask_storeu_ps(row, m0, acc[i][0]);
        if constexpr (Two) _mm512_mask_storeu_ps(row + P, m1, acc[i][1]);
    }
}

#pragma GCC diagnostic pop

using Tile = void (*)(const float*, const std::uint16_t*, const std::uint16_t*, int, float*, std::size_t, __mmask16,
                      __mmask16, bool);

template <int... R>
constexpr auto tilesOf(std::integer_sequence<int, R...>) {
    return std::array<std::array<Tile, 2>, sizeof...(R)>{{{&tile<R + 1, false>, &tile<R + 1, true>}...}};
}
// tiles[R - 1][two]
constexpr auto tiles = tilesOf(std::make_integer_sequence<int, kAvx512Rows>{});

__mmask16 columnMask(int columns) {
    const int n = std::clamp(columns, 0, P);
    return static_cast<__mmask16>((1u << n) - 1u);
}

struct Avx512Tiles {
    static constexpr int kRows = kAvx512Rows, kColumns = 2 * P, kDepth = 256;
    static void run(int count, const float* a, const std::uint16_t* b, std::size_t panelStride, int depth, float* c,
                    std::size_t ldc, int columns, bool load) {
        const bool two = columns > P;
        tiles[static_cast<std::size_t>(count - 1)][two ? 1 : 0](a, b, two ? b + panelStride : nullptr, depth, c, ldc,
                                                                columnMask(columns), columnMask(columns - P), load);
    }
};

// AVX2: sixteen 256-bit registers hold a tile of 6 rows x 16 outputs (one panel: 12 accumulators),
// the panel's column widened into two and the broadcast row value.
constexpr int kAvx2Rows = 6;

/// C[R x columns] (+)= A B over `depth` inputs: A packed [depth][kAvx2Rows], B the columns of one
/// panel (16 halves per input); outputs from `columns` on are neither read nor written. The same
/// columns of the next panel, `ahead` bytes on, are fetched into cache meanwhile: panels lie far
/// apart, and the processor's own prefetching starts late on each (a sixth of the time on large
/// layers). Past the last panel the addresses are only prefetched, which never faults.
template <int R>
VELMORA_AVX2_CODE void tileAvx2(const float* a, const std::uint16_t* b, std::size_t ahead, int depth, float* c,
                                std::size_t ldc, int columns, bool load) {
    const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(b) + ahead;
    const bool whole = columns >= P;
    const __m256i m0 = leadingLanes(columns), m1 = leadingLanes(columns - 8);
    __m256 acc[R][2];
#pragma GCC unroll 6
    for (int i = 0; i < R; ++i) {
        const float* row = c + static_cast<std::size_t>(i) * ldc;
        if (!load) {
            acc[i][0] = acc[i][1] = _mm256_setzero_ps();
        } else if (whole) {
            acc[i][0] = _mm256_loadu_ps(row);
            acc[i][1] = _mm256_loadu_ps(row + 8);
        } else {
            acc[i][0] = _mm256_maskload_ps(row, m0);
            acc[i][1] = _mm256_maskload_ps(row + 8, m1);
        }
    }
    for (int k = 0; k < depth; ++k) {
        _mm_prefetch(reinterpret_cast<const char*>(next + static_cast<std::size_t>(k) * P * 2), _MM_HINT_T0);
        const __m256 w0 = widenEightHalves(b + static_cast<std::size_t>(k) * P);
        const __m256 w1 = widenEightHalves(b + static_cast<std::size_t>(k) * P + 8);
        const float* ak = a + static_cast<std::size_t>(k) * kAvx2Rows;
#pragma GCC unroll 6
        for (int i = 0; i < R; ++i) {
            const __m256 v = _mm256_broadcast_ss(ak + i);
            acc[i][0] = _mm256_fmadd_ps(v, w0, acc[i][0]);
            acc[i][1] = _mm256_fmadd_ps(v, w1, acc[i][1]);
        }
    }
#pragma GCC unroll 6
    for (int i = 0; i < R; ++i) {
        float* row = c + static_cast<std::size_t>(i) * ldc;
        if (whole) {
            _mm256_storeu_ps(row, acc[i][0]);
            _mm256_storeu_ps(row + 8, acc[i][1]);
        } else {
            _mm256_maskstore_ps(row, m0, acc[i][0]);
            _mm256_maskstore_ps(row + 8, m1, acc[i][1]);
        }
    }
}

using TileAvx2 = void (*)(const float*, const std::uint16_t*, std::size_t, int, float*, std::size_t, int, bool);

template <int... R>
constexpr auto avx2TilesOf(std::integer_sequence<int, R...>) {
    return std::array<TileAvx2, sizeof...(R)>{{&tileAvx2<R + 1>...}};
}
// avx2Tiles[R - 1]
constexpr auto avx2Tiles = avx2TilesOf(std::make_integer_sequence<int, kAvx2Rows>{});

struct Avx2Tiles {
    static constexpr int kRows = kAvx2Rows, kColumns = P, kDepth = 256;
    static void run(int count, const float* a, const std::uint16_t* b, std::size_t panelStride, int depth, float* c,
                    std::size_t ldc, int columns, bool load) {
        avx2Tiles[static_cast<std::size_t>(count - 1)](a, b, panelStride * 2, depth, c, ldc, columns, load);
    }
};

/// The product in the tiles of one path: the block of rows is packed one depth block at a time,
/// tile by tile as [input][Tiles::kRows], and every tile of it goes over each group of panels
/// while the panels' columns of that depth block stay in cache.
template <typename Tiles>
void product(const float* x, std::size_t ldx, int rows, const PackedMatrix& w, int colBegin, int colEnd, float* y,
             std::size_t ldy, bool accumulate) {
    constexpr int TR = Tiles::kRows;
    const int in = w.columns();
    const int depthBlocks = std::max(1, (in + Tiles::kDepth - 1) / Tiles::kDepth);
    const int depth = (in + depthBlocks - 1) / depthBlocks;
    const int tileCount = (rows + TR - 1) / TR;
    const std::size_t panelStride = static_cast<std::size_t>(in) * P;  // halves
    const auto* weights = reinterpret_cast<const std::uint16_t*>(w.panelData(0));
    thread_local std::vector<float> packed;
    packed.resize(static_cast<std::size_t>(tileCount) * depth * TR);
    for (int k0 = 0; k0 < in; k0 += depth) {
        const int kd = std::min(depth, in - k0);
        for (int t = 0; t < tileCount; ++t) {
            float* to = packed.data() + static_cast<std::size_t>(t) * kd * TR;
            const int r0 = t * TR, r1 = std::min(rows, r0 + TR);
            for (int r = r0; r < r1; ++r) {
                const float* from = x + static_cast<std::size_t>(r) * ldx + k0;
                for (int k = 0; k < kd; ++k) to[static_cast<std::size_t>(k) * TR + (r - r0)] = from[k];
            }
        }
        const bool load = accumulate || k0 > 0;
        for (int c = colBegin; c < colEnd; c += Tiles::kColumns) {
            const std::uint16_t* b =
                weights + static_cast<std::size_t>(c / P) * panelStride + static_cast<std::size_t>(k0) * P;
            const int columns = std::min(Tiles::kColumns, colEnd - c);
            for (int t = 0; t < tileCount; ++t) {
                const int r0 = t * TR;
                Tiles::run(std::min(TR, rows - r0), packed.data() + static_cast<std::size_t>(t) * kd * TR, b,
                           panelStride, kd, y + static_cast<std::size_t>(r0) * ldy + c, ldy, columns, load);
            }
        }
    }
}

}  // namespace
#endif

int rowsPerTask(const PackedMatrix* w, int rows, int threads, int multiple, VectorPath path) {
    // Four AVX-512 tiles of 12 rows, eight AVX2 tiles of 6.
    constexpr int kSmallBlock = 48;
    const int block = w && halfPanelProductRuns(*w, path) ? kSmallBlock : (rows + threads - 1) / std::max(threads, 1);
    return (std::max(block, 1) + multiple - 1) / multiple * multiple;
}

bool halfPanelProductRuns(const PackedMatrix& w, VectorPath path) {
#ifdef VELMORA_HALF_PANEL_PRODUCT
    return usablePath(path) != VectorPath::portable && w.element() == PackedMatrix::Element::float16;
#else
    (void)w, (void)path;
    return false;
#endif
}

bool halfPanelProduct(const float* x, std::size_t ldx, int rows, const PackedMatrix& w, int colBegin, int colEnd,
                      float* y, std::size_t ldy, bool accumulate, VectorPath path) {
#ifdef VELMORA_HALF_PANEL_PRODUCT
    if (!halfPanelProductRuns(w, path) || colBegin % P != 0) return false;
    if (rows <= 0 || colEnd <= colBegin) return true;
    if (usablePath(path) == VectorPath::avx512)
        product<Avx512Tiles>(x, ldx, rows, w, colBegin, colEnd, y, ldy, accumulate);
    else
        product<Avx2Tiles>(x, ldx, rows, w, colBegin, colEnd, y, ldy, accumulate);
    return true;
#else
    (void)x, (void)ldx, (void)rows, (void)w, (void)colBegin, (void)colEnd, (void)y, (void)ldy, (void)accumulate;
    (void)path;
    return false;
#endif
}

}  // namespace platform::ml::kernels
