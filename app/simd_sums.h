// Weighted sums of many units side by side, and activation-table indices of many values: the rows
// of a weight group are packed so that the weights of SUM_LANES units for one input lie next to
// each other, and each lane accumulates its own unit's sum from 0.0 in input order, exactly as one
// unit alone. The instruction set is chosen once at run time from the processor, for these sums and
// for the front end's transforms; every choice gives the same bits.
#pragma once

#include <cstddef>
#include <vector>

namespace tarvik {

inline constexpr int SUM_LANES = 8;

enum class SimdPath { sse2, avx2, avx512 };

// The path in use: the widest the processor supports, unless set otherwise.
SimdPath simdPath();
// Uses `path` from now on when the processor supports it; false (nothing changed) otherwise.
bool setSimdPath(SimdPath path);
bool simdPathSupported(SimdPath path);

// The one of a function's three builds that `path` runs.
template <typename F>
F forPath(SimdPath path, F sse2, F avx2, F avx512) {
    return path == SimdPath::avx512 ? avx512 : path == SimdPath::avx2 ? avx2 : sse2;
}

// Tiles of SUM_LANES units that `units` rows need.
inline int sumTiles(int units) { return (units + SUM_LANES - 1) / SUM_LANES; }

// Packs the rows (each `n` weights) into tiles: tile t holds, for each input i, the weight i of
// rows t * SUM_LANES ... t * SUM_LANES + SUM_LANES - 1; rows past the last are zeros.
std::vector<double> packRows(const std::vector<const double*>& rows, int n);

// out[u] = sum over i in order of row_u[i] * x[i], from 0.0, for every row of `tiles` tiles
// (tiles * SUM_LANES values; those of padding rows are to be ignored).
void packedSums(const double* packed, int tiles, const double* x, int n, double* out);

// out[k] = the activation-table index of x[k] for k < n (clamped to [-709, 709], then
// x / step + 0.5 truncated), or -1 where x[k] is not a number.
void tableIndices(const double* x, int n, double step, int* out);

}  // namespace tarvik
