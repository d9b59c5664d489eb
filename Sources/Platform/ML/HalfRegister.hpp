#pragma once

// Half-precision values widened to floats in one register (sixteen in an AVX-512 register, eight
// in an AVX2 one): how the kernels read weights and scores kept in half precision, without a
// Float32 copy of them. And the AVX2 lane masks with which the kernels read and write the end of a
// row that does not fill a register.

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>
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

__attribute__((target("avx2,f16c"))) inline __m256 widenEightHalves(const std::uint16_t* p) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

alignas(32) inline constexpr std::int32_t kLeadingLanes[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};

/// A mask of the first n of eight lanes (all of them from 8 on, none from 0 down).
__attribute__((target("avx2"))) inline __m256i leadingLanes(int n) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLeadingLanes + 8 - std::clamp(n, 0, 8)));
}

}  // namespace platform::ml
#endif
