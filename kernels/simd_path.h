// The instruction-set path of the kernels: a plain scalar build of every kernel, and, where the
// compiler targets x86-64 and the SIMD paths are not compiled out (cmake -DTARVIK_SIMD=OFF), builds
// for SSE2, AVX2 and AVX-512. The widest path the processor supports is chosen at start-up; every
// path gives the same bits, so the choice changes only the speed.
#pragma once

#if defined(__x86_64__) && !defined(TARVIK_NO_SIMD)
#define TARVIK_SIMD_PATHS 1
#else
#define TARVIK_SIMD_PATHS 0
#endif

namespace tarvik {

enum class SimdPath { scalar, sse2, avx2, avx512 };

inline constexpr SimdPath ALL_SIMD_PATHS[] = {SimdPath::scalar, SimdPath::sse2, SimdPath::avx2,
                                              SimdPath::avx512};

// The paths this build holds: all four, or the scalar one alone.
inline constexpr int BUILT_SIMD_PATHS = TARVIK_SIMD_PATHS ? 4 : 1;

// "scalar", "SSE2", "AVX2" or "AVX-512".
const char* simdPathName(SimdPath path);

// Whether this build holds the path and the processor can run it.
bool simdPathSupported(SimdPath path);

namespace detail {
extern SimdPath current_path;
}  // namespace detail

// The path in use: the widest supported one, unless set otherwise.
inline SimdPath simdPath() { return detail::current_path; }

// Uses `path` from now on when it is supported; false (nothing changed) otherwise.
bool setSimdPath(SimdPath path);

// The builds of one kernel, one per path this build holds, in the order of SimdPath; every
// kernel is dispatched through `current`, on every call.
template <typename F>
struct KernelBuilds {
    F builds[BUILT_SIMD_PATHS];

    F current() const { return builds[static_cast<int>(simdPath())]; }
};

}  // namespace tarvik

// The instruction sets of the SIMD builds (SSE2 is the x86-64 baseline and needs none).
#if TARVIK_SIMD_PATHS
#define TARVIK_TARGET_AVX2 __attribute__((target("avx2")))
#define TARVIK_TARGET_AVX512 __attribute__((target("avx512f")))
#endif
