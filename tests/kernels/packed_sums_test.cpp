// Every instruction-set path of the packed sums gives the bits of one unit summed alone, in input
// order.
#include "kernels/packed_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/kernels/on_each_simd_path.h"
#include "tests/kernels/spread_values.h"

namespace tarvik {
namespace {

class PackedSums : public OnEachSimdPath {};

TEST_P(PackedSums, EachUnitIsItsOwnSumInInputOrder) {
    // Unit counts that leave every combination of wide, paired and single tiles and a part-filled
    // last tile; input counts from one to more than the network's.
    for (int units : {1, 7, 8, 9, 16, 17, 24, 31, 33, 56, 57, 72, 84, 88, 100, 112, 140, 200}) {
        for (int n : {1, 2, 5, 32, 39, 48}) {
            const std::vector<double> weights = spreadValues(units * n, units * 100 + n);
            const std::vector<double> x = spreadValues(n, n);
            std::vector<const double*> rows;
            for (int u = 0; u < units; ++u) rows.push_back(weights.data() + u * n);
            const PackedRows packed = packRows(rows, n);
            std::vector<double> out(sumTiles(units) * SUM_LANES, -1.0);
            packedSums(packed.data(), sumTiles(units), x.data(), n, out.data());
            for (int u = 0; u < units; ++u) {
                double sum = 0.0;
                for (int i = 0; i < n; ++i) sum += rows[u][i] * x[i];
                ASSERT_EQ(out[u], sum) << "unit " << u << " of " << units << ", " << n << " inputs";
            }
        }
    }
}

TARVIK_ON_EACH_SIMD_PATH(PackedSums);

}  // namespace
}  // namespace tarvik
