#include "app/simd_sums.h"

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

// The tiles left after the widest groups, all at once.
template <typename V, int T>
inline __attribute__((always_inline)) void sumRest(const double* packed, int rest, const double* x,
                                                   int n, double* out) {
    if constexpr (T > 0) {
        if (rest == T) {
            sumTilesAtOnce<V, T>(packed, x, n, out);
        } else {
            sumRest<V, T - 1>(packed, rest, x, n, out);
        }
    }
}

// Groups of WIDEST tiles (as many registers of sums as the path has to spare), then the rest.
template <typename V, int WIDEST>
inline __attribute__((always_inline)) void sumAll(const double* packed, int tiles, const double* x,
                                                  int n, double* out) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(n) * SUM_LANES;
    int t = 0;
    for (; t + WIDEST <= tiles; t += WIDEST) {
        sumTilesAtOnce<V, WIDEST>(packed + t * stride, x, n, out + t * SUM_LANES);
    }
    sumRest<V, WIDEST - 1>(packed + t * stride, tiles - t, x, n, out + t * SUM_LANES);
}

void sumsSse2(const double* packed, int tiles, const double* x, int n, double* out) {
    sumAll<Vec2, 2>(packed, tiles, x, n, out);
}

__attribute__((target("avx2"))) void sumsAvx2(const double* packed, int tiles, const double* x,
                                              int n, double* out) {
    sumAll<Vec4, 4>(packed, tiles, x, n, out);
}

__attribute__((target("avx512f"))) void sumsAvx512(const double* packed, int tiles, const double* x,
                                                   int n, double* out) {
    sumAll<Vec8, 8>(packed, tiles, x, n, out);
}

int scalarIndex(double x, double step) {
    if (x != x) return -1;
    const double v = x > 709.0 ? 1418.0 : (x < -709.0 ? 0.0 : x + 709.0);
    return static_cast<int>(v / step + 0.5);
}

template <typename V>
inline __attribute__((always_inline)) void broadcast(V& v, double value) {
    for (int l = 0; l < static_cast<int>(sizeof(V) / sizeof(double)); ++l) v[l] = value;
}

// The index arithmetic of scalarIndex, a register of values at a time.
template <typename V>
inline __attribute__((always_inline)) void indicesOf(const double* x, int n, double step,
                                                     int* out) {
    constexpr int lanes = sizeof(V) / sizeof(double);
    typedef int Indices __attribute__((vector_size(lanes * sizeof(int))));
    V high, low, top, steps, half;
    broadcast(high, 709.0);
    broadcast(low, -709.0);
    broadcast(top, 1418.0);
    broadcast(steps, step);
    broadcast(half, 0.5);
    const V zero = V{};
    int k = 0;
    for (; k + lanes <= n; k += lanes) {
        V v;
        __builtin_memcpy(&v, x + k, sizeof v);
        const auto is_nan = v != v;
        V clamped = v > high ? top : (v < low ? zero : v + high);
        clamped = is_nan ? zero : clamped;
        const V position = clamped / steps + half;
        Indices index = __builtin_convertvector(position, Indices);
        index = __builtin_convertvector(is_nan, Indices) ? Indices{} - 1 : index;
        __builtin_memcpy(out + k, &index, sizeof index);
    }
    for (; k < n; ++k) out[k] = scalarIndex(x[k], step);
}

void indicesSse2(const double* x, int n, double step, int* out) {
    indicesOf<Vec2>(x, n, step, out);
}

__attribute__((target("avx2"))) void indicesAvx2(const double* x, int n, double step, int* out) {
    indicesOf<Vec4>(x, n, step, out);
}

__attribute__((target("avx512f"))) void indicesAvx512(const double* x, int n, double step,
                                                      int* out) {
    indicesOf<Vec8>(x, n, step, out);
}

using SumsFunction = void (*)(const double*, int, const double*, int, double*);
using IndicesFunction = void (*)(const double*, int, double, int*);

SumsFunction sumsFor(SimdPath path) { return forPath(path, sumsSse2, sumsAvx2, sumsAvx512); }

IndicesFunction indicesFor(SimdPath path) {
    return forPath(path, indicesSse2, indicesAvx2, indicesAvx512);
}

SimdPath widestPath() {
    if (simdPathSupported(SimdPath::avx512)) return SimdPath::avx512;
    if (simdPathSupported(SimdPath::avx2)) return SimdPath::avx2;
    return SimdPath::sse2;
}

SimdPath current_path = widestPath();
SumsFunction current_sums = sumsFor(current_path);
IndicesFunction current_indices = indicesFor(current_path);

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
    current_indices = indicesFor(path);
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

namespace tarvik {

void tableIndices(const double* x, int n, double step, int* out) {
    current_indices(x, n, step, out);
}

}  // namespace tarvik
