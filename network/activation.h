// Process-wide lookup tables for the logistic function and the squashing function
// 4 / (1 + exp(-x)) - 2, sampled every 0.001 over [-709, 709]. Entries are computed on first
// use, a chunk of ACT_TABLE_CHUNK entries at a time, so a run touches only the part of the
// tables that its values reach.
#pragma once

#include <cmath>

namespace tarvik {

inline constexpr int ACT_TABLE_SIZE = 1418001;
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
extern double table_step;

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

// Table index of x: clamped to [-709, 709], then the nearest entry, halves going up. x must be
// a number.
inline int activationIndex(double x) {
    double v;
    if (x > 709.0) {
        v = 1418.0;
    } else if (x < -709.0) {
        v = 0.0;
    } else {
        v = x + 709.0;
    }
    return static_cast<int>(v / detail::table_step + 0.5);
}

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
