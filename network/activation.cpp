#include "network/activation.h"

#include <algorithm>
#include <cmath>

#include "kernels/simd_path.h"
#include "kernels/vectors.h"

namespace tarvik {

namespace detail {

// Static storage: pages that no chunk reaches are never touched.
double sigmoid_table[ACT_TABLE_SIZE];
double squash_table[ACT_TABLE_SIZE];
bool chunk_filled[ACT_TABLE_CHUNKS];
double table_step = ACT_TABLE_STEP;

void fillChunk(int chunk) {
    chunk_filled[chunk] = true;
    const int end = std::min(ACT_TABLE_SIZE, (chunk + 1) * ACT_TABLE_CHUNK);
    for (int i = chunk * ACT_TABLE_CHUNK; i < end; ++i) {
        double x = table_step * static_cast<double>(i) - ACT_TABLE_LIMIT;
        double e = std::exp(-x);
        sigmoid_table[i] = 1.0 / (e + 1.0);
        squash_table[i] = 4.0 / (e + 1.0) - 2.0;
    }
}

}  // namespace detail

namespace {

bool tables_ready = false;

// The arithmetic of activationIndex on a register of W values at a time; -1 for a value that is
// not a number.
template <int W>
TARVIK_INLINE void indicesOf(const double* x, int n, int* out) {
    int k = 0;
    if constexpr (W > 1) {
        using V = Lanes<W>;
        typedef int Indices __attribute__((vector_size(W * sizeof(int))));
        V high, low, top, steps, half;
        broadcast(high, ACT_TABLE_LIMIT);
        broadcast(low, -ACT_TABLE_LIMIT);
        broadcast(top, 2 * ACT_TABLE_LIMIT);
        broadcast(steps, detail::table_step);
        broadcast(half, 0.5);
        const V zero = V{};
        for (; k + W <= n; k += W) {
            V v;
            load(v, x + k);
            const auto is_nan = v != v;
            V clamped = v > high ? top : (v < low ? zero : v + high);
            clamped = is_nan ? zero : clamped;
            const V position = clamped / steps + half;
            Indices index = __builtin_convertvector(position, Indices);
            index = __builtin_convertvector(is_nan, Indices) ? Indices{} - 1 : index;
            __builtin_memcpy(out + k, &index, sizeof index);
        }
    }
    for (; k < n; ++k) out[k] = x[k] != x[k] ? -1 : activationIndex(x[k]);
}

using IndicesFunction = void (*)(const double*, int, int*);

void indicesScalar(const double* x, int n, int* out) { indicesOf<1>(x, n, out); }

#if TARVIK_SIMD_PATHS
void indicesSse2(const double* x, int n, int* out) { indicesOf<2>(x, n, out); }

TARVIK_TARGET_AVX2 void indicesAvx2(const double* x, int n, int* out) { indicesOf<4>(x, n, out); }

TARVIK_TARGET_AVX512 void indicesAvx512(const double* x, int n, int* out) {
    indicesOf<8>(x, n, out);
}

constexpr KernelBuilds<IndicesFunction> INDICES = {
    {indicesScalar, indicesSse2, indicesAvx2, indicesAvx512}};
#else
constexpr KernelBuilds<IndicesFunction> INDICES = {{indicesScalar}};
#endif

void lookupEntries(const double* table, const double* x, double* out, int n) {
    constexpr int PIECE = 64;
    int index[PIECE];
    for (int start = 0; start < n; start += PIECE) {
        const int count = std::min(PIECE, n - start);
        tableIndices(x + start, count, index);
        for (int k = 0; k < count; ++k) {
            const int i = index[k];
            if (i < 0) {
                out[start + k] = x[start + k];
            } else {
                detail::ensureEntry(i);
                out[start + k] = table[i];
            }
        }
    }
}

}  // namespace

void tableIndices(const double* x, int n, int* out) { INDICES.current()(x, n, out); }

void lookupSigmoids(const double* x, double* out, int n) {
    lookupEntries(detail::sigmoid_table, x, out, n);
}

void lookupSquashes(const double* x, double* out, int n) {
    lookupEntries(detail::squash_table, x, out, n);
}

void buildActivationTables() {
    if (tables_ready) return;
    tables_ready = true;
    detail::table_step = ACT_TABLE_STEP;
}

bool activationTablesReady() { return tables_ready; }

}  // namespace tarvik
