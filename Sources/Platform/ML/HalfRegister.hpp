#pragma once

// Sixteen half-precision values widened to floats in one AVX-512 register: how the kernels read
// weights and scores kept in half precision, without a Float32 copy of them.

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

namespace platform::ml {

// GCC 12's AVX-512 intrinsics start from an "undefined" register and warn about it spuriously.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) inline __m512 widenSixteenHalves(const std::uint16_t* p) {
    return _mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
#pragma GCC diagnostic pop

}  // namespace platform::ml
#endif
