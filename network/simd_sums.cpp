#include "network/simd_sums.h"

#include <algorithm>

namespace tarvik {

namespace {

// Vectors of the register width of each path; one tile is SUM_LANES / lanes of them.
typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

// T tiles at once: T x K independent chains of additions, one per register.
template <typename V, int T>
inline __attribute__((always_inline)) void sumTilesAtOnce(const double* packed, const double* x,
                                                          int n, double* out) {
    constexpr int lanes = sizeof(V) / sizeof(double);
    constexpr int K = SUM_LANES / lanes;
    V s[T][K];
    for (int t = 0; t < T; ++t) {
        for (int k = 0; k < K; ++k) s[t][k] = V{};
    }
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(n) * SUM_LANES;
    for (int i = 0; i < n; ++i) {
        V xi;
        for (int l = 0; l < lanes; ++l) xi[l] = x[i];
        const double* w = packed + static_cast<std::ptrdiff_t>(i) * SUM_LANES;
        for (int t = 0; t < T; ++t) {
            for (int k = 0; k < K; ++k) {
                V weights;
                __builtin_memcpy(&weights, w + t * stride + k * lanes, sizeof weights);
                const V product = weights * xi;
                s[t][k] = s[t][k] + product;
            }
        }
    }
    for (int t = 0; t < T; ++t) {
        for (int k = 0; k < K; ++k) {
            __builtin_memcpy(out + t * SUM_LANES + k * lanes, &s[t][k], sizeof(V));
        }
    }
}

template <typename V, int WIDEST>
inline __attribute__((always_inline)) void sumAll(const double* packed, int tiles, const double* x,
                                                  int n, double* out) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(n) * SUM_LANES;
    int t = 0;
    for (; t + WIDEST <= tiles; t += WIDEST) {
        sumTilesAtOnce<V, WIDEST>(packed + t * stride, x, n, out + t * SUM_LANES);
    }
    if (WIDEST > 2 && t + 2 <= tiles) {
        sumTilesAtOnce<V, 2>(packed + t * stride, x, n, out + t * SUM_LANES);
        t += 2;
    }
    for (; t < tiles; ++t) sumTilesAtOnce<V, 1>(packed + t * stride, x, n, out + t * SUM_LANES);
}

void sumsSse2(const double* packed, int tiles, const double* x, int n, double* out) {
    sumAll<Vec2, 2>(packed, tiles, x, n, out);
}

__attribute__((target("avx2"))) void sumsAvx2(const double* packed, int tiles, const double* x,
                                              int n, double* out) {
    sumAll<Vec4, 4>(packed, tiles, x, n, out);
}

__attribute__((target("avx512f"))) void sumsAvx512(const double* packed, int tiles,
                                                   const double* x, int n, double* out) {
    sumAll<Vec8, 4>(packed, tiles, x, n, out);
}

using SumsFunction = void (*)(const double*, int, const double*, int, double*);

SumsFunction sumsFor(SimdPath path) {
    switch (path) {
        case SimdPath::avx512:
            return sumsAvx512;
        case SimdPath::avx2:
            return sumsAvx2;
        default:
            return sumsSse2;
    }
}

SimdPath widestPath() {
    if (simdPathSupported(SimdPath::avx512)) return SimdPath::avx512;
    if (simdPathSupported(SimdPath::avx2)) return SimdPath::avx2;
    return SimdPath::sse2;
}

SimdPath current_path = widestPath();
SumsFunction current_sums = sumsFor(current_path);

}  // namespace

bool simdPathSupported(SimdPath path) {
    __builtin_cpu_init();  // may run before the library's own constructors
    switch (path) {
        case SimdPath::avx512:
            return __builtin_cpu_supports("avx512f");
        case SimdPath::avx2:
            return __builtin_cpu_supports("avx2");
        default:
            return true;
    }
}

SimdPath simdPath() { return current_path; }

bool setSimdPath(SimdPath path) {
    if (!simdPathSupported(path)) return false;
    current_path = path;
    current_sums = sumsFor(path);
    return true;
}

std::vector<double> packRows(const std::vector<const double*>& rows, int n) {
    const int units = static_cast<int>(rows.size());
    std::vector<double> packed(static_cast<std::size_t>(sumTiles(units)) * n * SUM_LANES, 0.0);
    for (int u = 0; u < units; ++u) {
        double* tile = packed.data() + static_cast<std::size_t>(u / SUM_LANES) * n * SUM_LANES;
        for (int i = 0; i < n; ++i) tile[i * SUM_LANES + u % SUM_LANES] = rows[u][i];
    }
    return packed;
}

void packedSums(const double* packed, int tiles, const double* x, int n, double* out) {
    current_sums(packed, tiles, x, n, out);
}

}  // namespace tarvik
