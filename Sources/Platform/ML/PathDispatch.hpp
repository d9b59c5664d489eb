#pragma once

// The one place that picks, among a kernel's builds for each vector path, the build a call runs:
// every kernel of the runtime dispatches here, so that one choice of path (bestVectorPath, or the
// one a caller asks for) reaches them all. A kernel written once as portable code is built again
// for each vector path with the target attributes below; hand-written intrinsics take their own.

#include "Platform/ML/VectorProducts.hpp"

namespace platform::ml {

/// The path a call asking for `asked` runs on: the one asked for, or the best below it.
inline VectorPath usablePath(VectorPath asked) {
    const VectorPath best = bestVectorPath();
    return static_cast<int>(asked) <= static_cast<int>(best) ? asked : best;
}

/// Of one kernel's builds, the one for `path`.
template <typename Function>
Function onPath(VectorPath path, Function portable, [[maybe_unused]] Function avx2, [[maybe_unused]] Function avx512) {
    switch (usablePath(path)) {
        case VectorPath::avx512:
            return avx512;
        case VectorPath::avx2:
            return avx2;
        default:
            return portable;
    }
}

}  // namespace platform::ml

// The builds of `name`: nameAvx512 and nameAvx2 where the processor family has them, namePortable
// everywhere.
#if defined(__x86_64__)
#define VELMORA_PATH_BUILDS(name) name##Portable, name##Avx2, name##Avx512
#define VELMORA_AVX2_CODE __attribute__((target("avx2,fma,f16c")))
#define VELMORA_AVX512_CODE __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl,avx2,fma,f16c")))
#else
#define VELMORA_PATH_BUILDS(name) name##Portable, name##Portable, name##Portable
#endif
