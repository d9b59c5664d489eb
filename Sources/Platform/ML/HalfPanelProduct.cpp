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

namespace {
// A register tile: 12 rows x 32 outputs (24 accumulators), over at most kDepth inputs at a time,
// so that a tile's rows (12 kDepth floats) and the two panels' columns (32 kDepth halves) stay in
// the first-level cache while every tile of the block of rows reuses the panels.
constexpr int kTileRows = 12;
}  // namespace

#ifdef VELMORA_HALF_PANEL_PRODUCT
namespace {

constexpr int P = PackedMatrix::kPanel;
constexpr int kDepth = 256;

// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

/// C[R x 16 or 32] (+)= A B over `depth` inputs: A packed [depth][kTileRows], B the columns of one or
/// two panels (16 halves per input each); the masks say which of the 32 outputs exist.
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
        const float* ak = a + static_cast<std::size_t>(k) * kTileRows;
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
constexpr auto tiles = tilesOf(std::make_integer_sequence<int, kTileRows>{});

__mmask16 columnMask(int begin, int end) {
    const int n = std::clamp(end - begin, 0, P);
    return static_cast<__mmask16>((1u << n) - 1u);
}

}  // namespace
#endif

int rowsPerTask(const PackedMatrix* w, int rows, int threads, int multiple) {
    constexpr int kSmallBlock = 4 * kTileRows;
    const int block = w && halfPanelProductRuns(*w) ? kSmallBlock : (rows + threads - 1) / std::max(threads, 1);
    return (std::max(block, 1) + multiple - 1) / multiple * multiple;
}

bool halfPanelProductRuns(const PackedMatrix& w, VectorPath path) {
#ifdef VELMORA_HALF_PANEL_PRODUCT
    return usablePath(path) == VectorPath::avx512 && w.element() == PackedMatrix::Element::float16;
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
    const int in = w.columns();
    const int depthBlocks = std::max(1, (in + kDepth - 1) / kDepth);
    const int depth = (in + depthBlocks - 1) / depthBlocks;
    const int tileCount = (rows + kTileRows - 1) / kTileRows;
    // The block of rows, one depth block at a time, packed tile by tile as [input][kTileRows].
    thread_local std::vector<float> packed;
    packed.resize(static_cast<std::size_t>(tileCount) * depth * kTileRows);
    for (int k0 = 0; k0 < in; k0 += depth) {
        const int kd = std::min(depth, in - k0);
        for (int t = 0; t < tileCount; ++t) {
            float* to = packed.data() + static_cast<std::size_t>(t) * kd * kTileRows;
            const int r0 = t * kTileRows, r1 = std::min(rows, r0 + kTileRows);
            for (int r = r0; r < r1; ++r) {
                const float* from = x + static_cast<std::size_t>(r) * ldx + k0;
                for (int k = 0; k < kd; ++k) to[static_cast<std::size_t>(k) * kTileRows + (r - r0)] = from[k];
            }
        }
        const bool load = accumulate || k0 > 0;
        for (int c = colBegin; c < colEnd; c += 2 * P) {
            const int p = c / P;
            const bool two = c + P < colEnd;
            const auto* b0 = reinterpret_cast<const std::uint16_t*>(w.panelData(p)) + static_cast<std::size_t>(k0) * P;
            const auto* b1 =
                two ? reinterpret_cast<const std::uint16_t*>(w.panelData(p + 1)) + static_cast<std::size_t>(k0) * P
                    : nullptr;
            const __mmask16 m0 = columnMask(c, colEnd), m1 = columnMask(c + P, colEnd);
            for (int t = 0; t < tileCount; ++t) {
                const int r0 = t * kTileRows, count = std::min(kTileRows, rows - r0);
                tiles[static_cast<std::size_t>(count - 1)][two ? 1 : 0](
                    packed.data() + static_cast<std::size_t>(t) * kd * kTileRows, b0, b1, kd,
                    y + static_cast<std::size_t>(r0) * ldy + c, ldy, m0, m1, load);
            }
        }
    }
    return true;
#else
    (void)x, (void)ldx, (void)rows, (void)w, (void)colBegin, (void)colEnd, (void)y, (void)ldy, (void)accumulate;
    (void)path;
    return false;
#endif
}

}  // namespace platform::ml::kernels
