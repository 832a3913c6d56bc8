#include "network/activation.h"

#include <algorithm>
#include <cmath>

#include "kernels/simd_path.h"
#include "kernels/vectors.h"

namespace tarvik {

namespace detail {

double table_step = ACT_TABLE_STEP;

// Static storage: pages of chunks that are never filled are never touched.
ActivationTable sigmoid_table;
ActivationTable squash_table;

namespace {

// The tables' formulas: the entry of index i, the same whether filled or computed on demand.
double expOfMinus(int i) {
    const double x = table_step * static_cast<double>(i) - ACT_TABLE_LIMIT;
    return std::exp(-x);
}
double sigmoidValue(int i) { return 1.0 / (expOfMinus(i) + 1.0); }
double squashValue(int i) { return 4.0 / (expOfMinus(i) + 1.0) - 2.0; }

// Counts one more entry of i's chunk computed on demand, and fills the chunk when that makes
// ACT_CHUNK_FILL_AFTER; returns entry i either way.
template <double (*VALUE)(int)>
double onDemand(ActivationTable& t, int i) {
    const int chunk = i >> ACT_TABLE_CHUNK_BITS;
    if (++t.on_demand[chunk] < ACT_CHUNK_FILL_AFTER) return VALUE(i);
    const int end = std::min(ACT_TABLE_SIZE, (chunk + 1) * ACT_TABLE_CHUNK);
    for (int k = chunk * ACT_TABLE_CHUNK; k < end; ++k) t.entries[k] = VALUE(k);
    t.on_demand[chunk] = CHUNK_FILLED;
    return t.entries[i];
}

}  // namespace

double sigmoidOnDemand(int i) { return onDemand<sigmoidValue>(sigmoid_table, i); }
double squashOnDemand(int i) { return onDemand<squashValue>(squash_table, i); }

}  // namespace detail

namespace {

bool tables_ready = false;

// The arithmetic of activationIndex on a register of W values; -1 for a value that is not a
// number.
template <int W, typename Indices>
TARVIK_INLINE void indexRegister(const Lanes<W>& v, Indices& index) {
    using V = Lanes<W>;
    V high, low, top, steps, half;
    broadcast(high, ACT_TABLE_LIMIT);
    broadcast(low, -ACT_TABLE_LIMIT);
    broadcast(top, 2 * ACT_TABLE_LIMIT);
    broadcast(steps, detail::table_step);
    broadcast(half, 0.5);
    const V zero = V{};
    const auto is_nan = v != v;
    V clamped = v > high ? top : (v < low ? zero : v + high);
    clamped = is_nan ? zero : clamped;
    const V position = clamped / steps + half;
    index = __builtin_convertvector(position, Indices);
    index = __builtin_convertvector(is_nan, Indices) ? Indices{} - 1 : index;
}

template <int W>
TARVIK_INLINE void indicesOf(const double* x, int n, int* out) {
    int k = 0;
    if constexpr (W > 1) {
        typedef int Indices __attribute__((vector_size(W * sizeof(int))));
        for (; k + W <= n; k += W) {
            Lanes<W> v;
            load(v, x + k);
            Indices index;
            indexRegister<W>(v, index);
            __builtin_memcpy(out + k, &index, sizeof index);
        }
    }
    for (; k < n; ++k) out[k] = x[k] != x[k] ? -1 : activationIndex(x[k]);
}

template <Activation KIND>
TARVIK_INLINE double entry(int i) {
    return KIND == Activation::sigmoid ? sigmoidEntry(i) : squashEntry(i);
}

// Looked up a piece at a time: the indices of the path's width, then each entry.
template <int W, Activation KIND>
TARVIK_INLINE void lookupByIndices(const double* x, double* out, int n) {
    constexpr int PIECE = 64;
    int index[PIECE];
    for (int start = 0; start < n; start += PIECE) {
        const int count = std::min(PIECE, n - start);
        indicesOf<W>(x + start, count, index);
        for (int k = 0; k < count; ++k) {
            const int i = index[k];
            out[start + k] = i < 0 ? x[start + k] : entry<KIND>(i);
        }
    }
}

using IndicesFunction = void (*)(const double*, int, int*);
using LookupFunction = void (*)(const double*, double*, int);

void indicesScalar(const double* x, int n, int* out) { indicesOf<1>(x, n, out); }
template <Activation KIND>
void lookupScalar(const double* x, double* out, int n) {
    lookupByIndices<1, KIND>(x, out, n);
}

#if TARVIK_SIMD_PATHS
void indicesSse2(const double* x, int n, int* out) { indicesOf<2>(x, n, out); }
TARVIK_TARGET_AVX2 void indicesAvx2(const double* x, int n, int* out) { indicesOf<4>(x, n, out); }
TARVIK_TARGET_AVX512 void indicesAvx512(const double* x, int n, int* out) {
    indicesOf<8>(x, n, out);
}

template <Activation KIND>
void lookupSse2(const double* x, double* out, int n) {
    lookupByIndices<2, KIND>(x, out, n);
}
template <Activation KIND>
TARVIK_TARGET_AVX2 void lookupAvx2(const double* x, double* out, int n) {
    lookupByIndices<4, KIND>(x, out, n);
}
template <Activation KIND>
TARVIK_TARGET_AVX512 void lookupAvx512(const double* x, double* out, int n) {
    lookupByIndices<8, KIND>(x, out, n);
}

constexpr KernelBuilds<IndicesFunction> INDICES = {
    {indicesScalar, indicesSse2, indicesAvx2, indicesAvx512}};
template <Activation KIND>
constexpr KernelBuilds<LookupFunction> LOOKUPS = {
    {lookupScalar<KIND>, lookupSse2<KIND>, lookupAvx2<KIND>, lookupAvx512<KIND>}};
#else
constexpr KernelBuilds<IndicesFunction> INDICES = {{indicesScalar}};
template <Activation KIND>
constexpr KernelBuilds<LookupFunction> LOOKUPS = {{lookupScalar<KIND>}};
#endif

}  // namespace

void tableIndices(const double* x, int n, int* out) { INDICES.current()(x, n, out); }

void lookupSigmoids(const double* x, double* out, int n) {
    LOOKUPS<Activation::sigmoid>.current()(x, out, n);
}

void lookupSquashes(const double* x, double* out, int n) {
    LOOKUPS<Activation::squash>.current()(x, out, n);
}

bool activationChunkFilled(Activation table, int chunk) {
    const detail::ActivationTable& t =
        table == Activation::sigmoid ? detail::sigmoid_table : detail::squash_table;
    return t.on_demand[chunk] == detail::CHUNK_FILLED;
}

void buildActivationTables() {
    if (tables_ready) return;
    tables_ready = true;
    detail::table_step = ACT_TABLE_STEP;
}

bool activationTablesReady() { return tables_ready; }

}  // namespace tarvik
