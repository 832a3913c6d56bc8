#include "network/activation.h"

#include <algorithm>
#include <cmath>

#include "app/simd_sums.h"

namespace tarvik {

namespace detail {

// Static storage: pages that no chunk reaches are never touched.
double sigmoid_table[ACT_TABLE_SIZE];
double squash_table[ACT_TABLE_SIZE];
bool chunk_filled[ACT_TABLE_CHUNKS];
double table_step = 0.001;

void fillChunk(int chunk) {
    chunk_filled[chunk] = true;
    const int end = std::min(ACT_TABLE_SIZE, (chunk + 1) * ACT_TABLE_CHUNK);
    for (int i = chunk * ACT_TABLE_CHUNK; i < end; ++i) {
        double x = table_step * static_cast<double>(i) - 709.0;
        double e = std::exp(-x);
        sigmoid_table[i] = 1.0 / (e + 1.0);
        squash_table[i] = 4.0 / (e + 1.0) - 2.0;
    }
}

}  // namespace detail

namespace {

bool tables_ready = false;

}  // namespace

namespace {

void lookupEntries(const double* table, const double* x, double* out, int n) {
    constexpr int PIECE = 64;
    int index[PIECE];
    for (int start = 0; start < n; start += PIECE) {
        const int count = std::min(PIECE, n - start);
        tableIndices(x + start, count, detail::table_step, index);
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

void lookupSigmoids(const double* x, double* out, int n) {
    lookupEntries(detail::sigmoid_table, x, out, n);
}

void lookupSquashes(const double* x, double* out, int n) {
    lookupEntries(detail::squash_table, x, out, n);
}

void buildActivationTables() {
    if (tables_ready) return;
    tables_ready = true;
    detail::table_step = 0.001;
}

bool activationTablesReady() { return tables_ready; }

}  // namespace tarvik
