#include "kernels/simd_path.h"

#include <initializer_list>

namespace tarvik {

namespace {

SimdPath widestPath() {
    for (const SimdPath path : {SimdPath::avx512, SimdPath::avx2, SimdPath::sse2}) {
        if (simdPathSupported(path)) return path;
    }
    return SimdPath::scalar;
}

}  // namespace

namespace detail {
SimdPath current_path = widestPath();
}  // namespace detail

const char* simdPathName(SimdPath path) {
    switch (path) {
        case SimdPath::sse2:
            return "SSE2";
        case SimdPath::avx2:
            return "AVX2";
        case SimdPath::avx512:
            return "AVX-512";
        default:
            return "scalar";
    }
}

bool simdPathSupported(SimdPath path) {
#if TARVIK_SIMD_PATHS
    __builtin_cpu_init();  // may run before the library's own constructors
    switch (path) {
        case SimdPath::avx512:
            return __builtin_cpu_supports("avx512f");
        case SimdPath::avx2:
            return __builtin_cpu_supports("avx2");
        default:
            return true;  // scalar, and SSE2: the x86-64 baseline
    }
#else
    return path == SimdPath::scalar;
#endif
}

bool setSimdPath(SimdPath path) {
    if (!simdPathSupported(path)) return false;
    detail::current_path = path;
    return true;
}

}  // namespace tarvik
