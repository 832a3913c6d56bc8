// Process-wide lookup tables for the logistic function and the squashing function
// 4 / (1 + exp(-x)) - 2, sampled every ACT_TABLE_STEP over [-ACT_TABLE_LIMIT, ACT_TABLE_LIMIT].
// Entries are computed on first use, a chunk of ACT_TABLE_CHUNK entries at a time, so a run
// touches only the part of the tables that its values reach.
#pragma once

#include <cmath>

namespace tarvik {

// The tables' geometry: entry i stands for x = i * ACT_TABLE_STEP - ACT_TABLE_LIMIT.
inline constexpr double ACT_TABLE_LIMIT = 709.0;
inline constexpr double ACT_TABLE_STEP = 0.001;
inline constexpr int ACT_TABLE_SIZE = 1418001;
static_assert(ACT_TABLE_SIZE == static_cast<int>(2 * ACT_TABLE_LIMIT / ACT_TABLE_STEP + 0.5) + 1);
inline constexpr int ACT_TABLE_CHUNK_BITS = 10;
inline constexpr int ACT_TABLE_CHUNK = 1 << ACT_TABLE_CHUNK_BITS;
inline constexpr int ACT_TABLE_CHUNKS = (ACT_TABLE_SIZE + ACT_TABLE_CHUNK - 1) / ACT_TABLE_CHUNK;

// Marks the tables built unless they are already (a plain flag, no locking); the entries
// themselves are filled as they are first read.
void buildActivationTables();
bool activationTablesReady();

namespace detail {

extern double sigmoid_table[ACT_TABLE_SIZE];
extern double squash_table[ACT_TABLE_SIZE];
extern bool chunk_filled[ACT_TABLE_CHUNKS];
extern double table_step;  // ACT_TABLE_STEP, stored when the tables are built

// Computes the entries of one chunk of both tables.
void fillChunk(int chunk);

inline void ensureEntry(int i) {
    const int chunk = i >> ACT_TABLE_CHUNK_BITS;
    if (!chunk_filled[chunk]) fillChunk(chunk);
}

}  // namespace detail

// Entry i (0 <= i < ACT_TABLE_SIZE) of each table, computed first if need be.
inline double sigmoidEntry(int i) {
    detail::ensureEntry(i);
    return detail::sigmoid_table[i];
}
inline double squashEntry(int i) {
    detail::ensureEntry(i);
    return detail::squash_table[i];
}

// Whether chunk `chunk` of the tables has been computed.
inline bool activationChunkFilled(int chunk) { return detail::chunk_filled[chunk]; }

// Table index of x: clamped to [-ACT_TABLE_LIMIT, ACT_TABLE_LIMIT], then the nearest entry,
// halves going up. x must be a number.
inline int activationIndex(double x) {
    double v;
    if (x > ACT_TABLE_LIMIT) {
        v = 2 * ACT_TABLE_LIMIT;
    } else if (x < -ACT_TABLE_LIMIT) {
        v = 0.0;
    } else {
        v = x + ACT_TABLE_LIMIT;
    }
    return static_cast<int>(v / detail::table_step + 0.5);
}

// out[k] = activationIndex(x[k]) for k < n, or -1 where x[k] is not a number; several values at
// a time on the instruction-set path in use.
void tableIndices(const double* x, int n, int* out);

// The table entry for x; a value that is not a number gives that value back (no entry read).
inline double lookupSigmoid(double x) {
    if (std::isnan(x)) return x;
    return sigmoidEntry(activationIndex(x));
}
inline double lookupSquash(double x) {
    if (std::isnan(x)) return x;
    return squashEntry(activationIndex(x));
}

// out[k] = lookupSigmoid(x[k]) (or lookupSquash) for k < n, the indices computed several at a
// time; x and out may be the same array.
void lookupSigmoids(const double* x, double* out, int n);
void lookupSquashes(const double* x, double* out, int n);

}  // namespace tarvik
