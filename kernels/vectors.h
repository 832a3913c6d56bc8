// Values side by side in the lanes of one register, for the kernels of every path: `Lanes<1>` is
// a plain double, `Lanes<2>`, `Lanes<4>` and `Lanes<8>` the compiler's generic vectors of 16, 32
// and 64 bytes, which a build for SSE2, AVX2 or AVX-512 keeps in one register. Each lane is
// computed with its own operations, so a value comes out with the same bits in any lane count.
// Register-wide values go by reference only: none is passed or returned by value outside the
// functions built for its instruction set.
#pragma once

#include <type_traits>

namespace tarvik {

typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

// W doubles side by side (W = 1, 2, 4 or 8).
template <int W>
requires(W == 1 || W == 2 || W == 4 || W == 8) using Lanes = std::conditional_t<
    W == 1, double, std::conditional_t<W == 2, Vec2, std::conditional_t<W == 4, Vec4, Vec8>>>;

// The lane count of a double or of a vector.
template <typename V>
inline constexpr int LANES = sizeof(V) / sizeof(double);

#define TARVIK_INLINE inline __attribute__((always_inline))

template <typename V>
TARVIK_INLINE void load(V& v, const double* p) {
    __builtin_memcpy(&v, p, sizeof v);
}

template <typename V>
TARVIK_INLINE void store(double* p, const V& v) {
    __builtin_memcpy(p, &v, sizeof v);
}

template <typename V>
TARVIK_INLINE void broadcast(V& v, double value) {
    if constexpr (LANES<V> == 1) {
        v = value;
    } else {
        v = V{} + value;
    }
}

// The lanes in the opposite order.
template <typename V>
TARVIK_INLINE void reverseLanes(V& v) {
    if constexpr (LANES<V> != 1) {
        for (int l = 0; l < LANES<V> / 2; ++l) {
            const double t = v[l];
            v[l] = v[LANES<V> - 1 - l];
            v[LANES<V> - 1 - l] = t;
        }
    }
}

}  // namespace tarvik
