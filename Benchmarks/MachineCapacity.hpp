#pragma once

// What the processors can compute at this moment, through the runtime's own compute pool: a fixed
// number of small multiply-add tasks taken by whichever thread is free, timed from the call to the
// last task's end. On a virtual machine whose virtual processors the host sometimes places on one
// physical core, or beside another tenant's work, this time moves with the machine's capacity; an
// encoder window that is as steady as the machine moves with it in proportion.

#include "Platform/ML/ComputePool.hpp"

#include <chrono>
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora::bench {

namespace detail {

#if defined(__x86_64__)
// Eight independent chains of 256-bit multiply-adds (AVX2 and FMA, on Intel and AMD alike).
__attribute__((target("avx2,fma"))) inline float multiplyAdds(int rounds) {
    __m256 a[8];
    for (int i = 0; i < 8; ++i) a[i] = _mm256_set1_ps(1.0f + 0.001f * static_cast<float>(i));
    const __m256 m = _mm256_set1_ps(0.9999999f), c = _mm256_set1_ps(1e-7f);
    for (int r = 0; r < rounds; ++r)
        for (int i = 0; i < 8; ++i) a[i] = _mm256_fmadd_ps(a[i], m, c);
    __m256 s = a[0];
    for (int i = 1; i < 8; ++i) s = _mm256_add_ps(s, a[i]);
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, s);
    return lanes[0];
}
#else
inline float multiplyAdds(int rounds) {
    float a[64];
    for (int i = 0; i < 64; ++i) a[i] = 1.0f + 0.001f * static_cast<float>(i);
    for (int r = 0; r < rounds; ++r)
        for (float& v : a) v = v * 0.9999999f + 1e-7f;
    return a[0];
}
#endif

}  // namespace detail

/// Seconds that `tasks` tasks of multiply-adds take on the pool (about 3 ms on eight free cores).
inline double machineCapacityProbe(platform::ml::ComputePool& pool, std::size_t tasks = 4096) {
    const auto start = std::chrono::steady_clock::now();
    pool.parallelFor(tasks, [](std::size_t) {
        // Kept per task: one shared sink would be a race between the pool's threads.
        volatile float kept = detail::multiplyAdds(4096);
        (void)kept;
    });
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace velmora::bench
