#include "kernels/packed_sums.h"

#include <cstddef>

#include "kernels/simd_path.h"
#include "kernels/vectors.h"

namespace tarvik {

namespace {

// T tiles at once: T x K independent chains of additions, one per register of W lanes. The
// weights of input i lie `row` doubles after those of input i - 1.
template <int W, int T>
TARVIK_INLINE void sumTilesAtOnce(const double* packed, std::ptrdiff_t row, const double* x, int n,
                                  double* out) {
    using V = Lanes<W>;
    constexpr int K = SUM_LANES / W;
    V s[T][K];
    for (int t = 0; t < T; ++t) {
        for (int k = 0; k < K; ++k) s[t][k] = V{};
    }
    for (int i = 0; i < n; ++i) {
        V xi;
        broadcast(xi, x[i]);
        const double* w = packed + i * row;
        for (int t = 0; t < T; ++t) {
            for (int k = 0; k < K; ++k) {
                V weights;
                load(weights, w + t * SUM_LANES + k * W);
                const V product = weights * xi;
                s[t][k] = s[t][k] + product;
            }
        }
    }
    for (int t = 0; t < T; ++t) {
        for (int k = 0; k < K; ++k) store(out + t * SUM_LANES + k * W, s[t][k]);
    }
}

// The tiles left after the widest groups, all at once.
template <int W, int T>
TARVIK_INLINE void sumRest(const double* packed, std::ptrdiff_t row, int rest, const double* x,
                           int n, double* out) {
    if constexpr (T > 0) {
        if (rest == T) {
            sumTilesAtOnce<W, T>(packed, row, x, n, out);
        } else {
            sumRest<W, T - 1>(packed, row, rest, x, n, out);
        }
    }
}

// The tiles in groups of at most WIDEST (as many registers of sums as the path has to spare),
// the groups as even as they can be, so that none is left with too few chains to keep the adder
// busy.
template <int W, int WIDEST>
TARVIK_INLINE void sumAll(const double* packed, int tiles, const double* x, int n, double* out) {
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(tiles) * SUM_LANES;
    const int groups = (tiles + WIDEST - 1) / WIDEST;
    int t = 0;
    for (int g = 0; g < groups; ++g) {
        const int size = tiles / groups + (g < tiles % groups ? 1 : 0);
        sumRest<W, WIDEST>(packed + t * SUM_LANES, row, size, x, n, out + t * SUM_LANES);
        t += size;
    }
}

using SumsFunction = void (*)(const double*, int, const double*, int, double*);

void sumsScalar(const double* packed, int tiles, const double* x, int n, double* out) {
    sumAll<1, 1>(packed, tiles, x, n, out);
}

// Each path: registers of W lanes, up to WIDEST tiles (WIDEST x SUM_LANES / W accumulators: 8 of
// the 16 registers of SSE2, 12 of AVX2's 16, 24 of AVX-512's 32).

#if TARVIK_SIMD_PATHS
void sumsSse2(const double* packed, int tiles, const double* x, int n, double* out) {
    sumAll<2, 2>(packed, tiles, x, n, out);
}

TARVIK_TARGET_AVX2 void sumsAvx2(const double* packed, int tiles, const double* x, int n,
                                 double* out) {
    sumAll<4, 6>(packed, tiles, x, n, out);
}

TARVIK_TARGET_AVX512 void sumsAvx512(const double* packed, int tiles, const double* x, int n,
                                     double* out) {
    sumAll<8, 24>(packed, tiles, x, n, out);
}

constexpr KernelBuilds<SumsFunction> SUMS = {{sumsScalar, sumsSse2, sumsAvx2, sumsAvx512}};
#else
constexpr KernelBuilds<SumsFunction> SUMS = {{sumsScalar}};
#endif

}  // namespace

PackedRows packRows(const std::vector<const double*>& rows, int n) {
    const int units = static_cast<int>(rows.size());
    const std::size_t row = static_cast<std::size_t>(sumTiles(units)) * SUM_LANES;
    PackedRows packed(row * n, 0.0);
    for (int u = 0; u < units; ++u) {
        for (int i = 0; i < n; ++i) packed[i * row + u] = rows[u][i];
    }
    return packed;
}

void packedSums(const double* packed, int tiles, const double* x, int n, double* out) {
    SUMS.current()(packed, tiles, x, n, out);
}

}  // namespace tarvik
