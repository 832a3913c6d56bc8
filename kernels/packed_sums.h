// Weighted sums of many units side by side: the rows of a weight group are packed so that the
// weights of SUM_LANES units for one input lie next to each other, and each lane accumulates its
// own unit's sum from 0.0 in input order, exactly as one unit alone, on every path.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace tarvik {

inline constexpr int SUM_LANES = 8;

// Storage aligned to 64 bytes: a tile's weights for one input are one cache line and one AVX-512
// register.
template <typename T>
struct LineAligned {
    using value_type = T;
    static constexpr std::align_val_t ALIGNMENT{64};
    LineAligned() = default;
    template <typename U>
    LineAligned(const LineAligned<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), ALIGNMENT)); }
    void deallocate(T* p, std::size_t) { ::operator delete(p, ALIGNMENT); }
    bool operator==(const LineAligned&) const = default;
};

// Rows packed by packRows.
using PackedRows = std::vector<double, LineAligned<double>>;

// Tiles of SUM_LANES units that `units` rows need.
inline int sumTiles(int units) { return (units + SUM_LANES - 1) / SUM_LANES; }

// Packs the rows (each `n` weights) input by input: for input i, the weight i of every row in row
// order, padded with zeros to a whole number of tiles of SUM_LANES rows; tile t of input i holds
// rows t * SUM_LANES ... t * SUM_LANES + SUM_LANES - 1.
PackedRows packRows(const std::vector<const double*>& rows, int n);

// out[u] = sum over i in order of row_u[i] * x[i], from 0.0, for every row of `tiles` tiles
// (tiles * SUM_LANES values; those of padding rows are to be ignored).
void packedSums(const double* packed, int tiles, const double* x, int n, double* out);

}  // namespace tarvik
