// Process-wide lookup tables for the logistic function and the squashing function
// 4 / (1 + exp(-x)) - 2, sampled every ACT_TABLE_STEP over [-ACT_TABLE_LIMIT, ACT_TABLE_LIMIT].
// An entry is a function of its index alone, so the tables give the same bits however it is
// found: where both functions are constant to the last bit (ACT_CONSTANT_FROM and up, and the
// squashing function up to ACT_SQUASH_CONSTANT_TO) no table memory is read at all; elsewhere an
// entry is computed on demand with the table's own formula until its chunk of ACT_TABLE_CHUNK
// entries (one page) has been asked for ACT_CHUNK_FILL_AFTER times, and the chunk is then filled
// in table memory and read from there. A short recording so touches no table page, or few, and a
// long one reads the chunks its values keep coming back to.
#pragma once

#include <cmath>

namespace tarvik {

// The tables' geometry: entry i stands for x = i * ACT_TABLE_STEP - ACT_TABLE_LIMIT.
inline constexpr double ACT_TABLE_LIMIT = 709.0;
inline constexpr double ACT_TABLE_STEP = 0.001;
inline constexpr int ACT_TABLE_SIZE = 1418001;
static_assert(ACT_TABLE_SIZE == static_cast<int>(2 * ACT_TABLE_LIMIT / ACT_TABLE_STEP + 0.5) + 1);

// From x = 40 up, exp(-x) is below half a unit in the last place of 1.0, so exp(-x) + 1 is 1.0
// and the entries are exactly 1.0 and 2.0; from x = -40 down, 4 / (exp(-x) + 1) is below half a
// unit in the last place of 2.0, so the squashing function's entries are exactly -2.0. (The
// logistic function's entries there are tiny and all different.)
inline constexpr int ACT_CONSTANT_FROM = 749000;       // x = 40
inline constexpr int ACT_SQUASH_CONSTANT_TO = 669000;  // x = -40

inline constexpr int ACT_TABLE_CHUNK_BITS = 9;
inline constexpr int ACT_TABLE_CHUNK = 1 << ACT_TABLE_CHUNK_BITS;  // 4 KB of entries
inline constexpr int ACT_TABLE_CHUNKS = (ACT_TABLE_SIZE + ACT_TABLE_CHUNK - 1) / ACT_TABLE_CHUNK;
// Entries of a chunk computed on demand before the chunk is filled: a fill costs a first touch
// of its page and ACT_TABLE_CHUNK exponentials, about as much as a thousand entries on demand.
inline constexpr int ACT_CHUNK_FILL_AFTER = 1024;

// Marks the tables built unless they are already (a plain flag, no locking); the entries
// themselves are found as they are read.
void buildActivationTables();
bool activationTablesReady();

enum class Activation { sigmoid, squash };

namespace detail {

extern double table_step;  // ACT_TABLE_STEP, stored when the tables are built

// One table: the entries of its filled chunks, and per chunk the entries computed on demand so
// far, or CHUNK_FILLED.
inline constexpr int CHUNK_FILLED = -1;
struct ActivationTable {
    alignas(4096) double entries[ACT_TABLE_SIZE];
    int on_demand[ACT_TABLE_CHUNKS];
};
extern ActivationTable sigmoid_table;
extern ActivationTable squash_table;

// Entry i of a table whose chunk is not filled, i outside the constant ranges: computed, and
// counted towards the chunk's fill.
double sigmoidOnDemand(int i);
double squashOnDemand(int i);

}  // namespace detail

// Entry i (0 <= i < ACT_TABLE_SIZE) of each table.
inline double sigmoidEntry(int i) {
    const detail::ActivationTable& t = detail::sigmoid_table;
    if (t.on_demand[i >> ACT_TABLE_CHUNK_BITS] == detail::CHUNK_FILLED) return t.entries[i];
    if (i >= ACT_CONSTANT_FROM) return 1.0;
    return detail::sigmoidOnDemand(i);
}
inline double squashEntry(int i) {
    const detail::ActivationTable& t = detail::squash_table;
    if (t.on_demand[i >> ACT_TABLE_CHUNK_BITS] == detail::CHUNK_FILLED) return t.entries[i];
    if (i >= ACT_CONSTANT_FROM) return 2.0;
    if (i <= ACT_SQUASH_CONSTANT_TO) return -2.0;
    return detail::squashOnDemand(i);
}

// Whether chunk `chunk` of a table has been filled in table memory.
bool activationChunkFilled(Activation table, int chunk);

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
