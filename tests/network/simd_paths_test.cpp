// Every instruction-set path of the weighted sums gives the bits of one unit summed alone, in
// input order; the processor here may lack some paths, which are then left out.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/simd_sums.h"
#include "network/activation.h"
#include "network/blstm.h"
#include "tests/network/model_files.h"
#include "tests/network/reference_net.h"

namespace tarvik {
namespace {

const struct {
    SimdPath path;
    const char* name;
} kPaths[] = {{SimdPath::sse2, "SSE2"}, {SimdPath::avx2, "AVX2"}, {SimdPath::avx512, "AVX-512"}};

class SimdPaths : public testing::Test {
  protected:
    void TearDown() override { setSimdPath(initial); }
    const SimdPath initial = simdPath();
};

// Values of very different sizes, so that any other order of a sum gives other bits.
std::vector<double> spreadValues(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::vector<double> values(n);
    for (double& v : values) v = std::ldexp(mantissa(random), exponent(random));
    return values;
}

TEST_F(SimdPaths, EachUnitIsItsOwnSumInInputOrder) {
    // Unit counts that leave every combination of wide, paired and single tiles and a part-filled
    // last tile; input counts from one to more than the network's.
    for (const auto& p : kPaths) {
        if (!setSimdPath(p.path)) continue;
        for (int units : {1, 7, 8, 9, 16, 17, 24, 31, 33, 56, 57, 72}) {
            for (int n : {1, 2, 5, 32, 39}) {
                const std::vector<double> weights = spreadValues(units * n, units * 100 + n);
                const std::vector<double> x = spreadValues(n, n);
                std::vector<const double*> rows;
                for (int u = 0; u < units; ++u) rows.push_back(weights.data() + u * n);
                const std::vector<double> packed = packRows(rows, n);
                std::vector<double> out(sumTiles(units) * SUM_LANES, -1.0);
                packedSums(packed.data(), sumTiles(units), x.data(), n, out.data());
                for (int u = 0; u < units; ++u) {
                    double sum = 0.0;
                    for (int i = 0; i < n; ++i) sum += rows[u][i] * x[i];
                    ASSERT_EQ(out[u], sum)
                        << p.name << ", unit " << u << " of " << units << ", " << n << " inputs";
                }
            }
        }
    }
}

TEST_F(SimdPaths, StreamedOutputsEqualTheReferenceOnEveryPath) {
    // The command line's shape (39 inputs, 8 blocks of 4 cells with peepholes, one output) and
    // shapes whose unit counts fill no tile exactly.
    const BLSTMTopology topologies[] = {{39, 1, 8, 4, true, 8, 4, true},
                                        {5, 2, 3, 3, true, 2, 5, false},
                                        {39, 3, 1, 1, false, 7, 2, true}};
    int shape = 0;
    for (const BLSTMTopology& t : topologies) {
        const BLSTMParameters params = randomParameters(t, 40 + shape, 0.5);
        const std::string path = "simd_paths_" + std::to_string(shape++) + ".am";
        ASSERT_TRUE(writeModelFile(path, t, params));
        std::mt19937 random(shape);
        std::normal_distribution<double> value(0.0, 1.5);
        Frames frames(97, std::vector<double>(t.inputs_num));
        for (auto& frame : frames) {
            for (double& v : frame) v = value(random);
        }
        const Frames expected = refStream(t, params, frames, 20, 20);
        for (const auto& p : kPaths) {
            if (!setSimdPath(p.path)) continue;
            BLSTM net(0);
            net.setBuffering(20, 20);
            ASSERT_TRUE(net.load(path));
            net.reset();
            Frames got;
            auto drain = [&] {
                net.processBuffer();
                while (net.getOutput()) got.push_back(net.getOutputFrame());
            };
            for (const auto& x : frames) {
                if (!net.addFrame(x.data())) drain();
            }
            drain();
            ASSERT_EQ(got.size(), expected.size()) << p.name;
            for (std::size_t k = 0; k < got.size(); ++k) {
                ASSERT_EQ(got[k], expected[k]) << p.name << ", shape " << shape << ", frame " << k;
            }
        }
    }
}

TEST_F(SimdPaths, BatchedLookupsEqualOneAtATime) {
    // Clamping edges, halves between entries, infinities and values that are not numbers, in a
    // count that leaves a tail after the last full register.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> x = {709.0,    -709.0,    709.0004, -709.0004, 1000.0, -1000.0, inf,
                             -inf,     nan,       0.0,      -0.0,      0.0005, -0.0005, 1.2345,
                             708.9996, -708.9996, 1e300,    -1e300,    5e-324, 3.0};
    const std::vector<double> spread = spreadValues(43, 5);
    x.insert(x.end(), spread.begin(), spread.end());
    for (const auto& p : kPaths) {
        if (!setSimdPath(p.path)) continue;
        std::vector<double> sigmoids(x.size()), squashes(x.size());
        lookupSigmoids(x.data(), sigmoids.data(), static_cast<int>(x.size()));
        lookupSquashes(x.data(), squashes.data(), static_cast<int>(x.size()));
        for (std::size_t k = 0; k < x.size(); ++k) {
            if (std::isnan(x[k])) {
                EXPECT_TRUE(std::isnan(sigmoids[k]) && std::isnan(squashes[k])) << p.name;
                continue;
            }
            EXPECT_EQ(sigmoids[k], lookupSigmoid(x[k])) << p.name << ", " << x[k];
            EXPECT_EQ(squashes[k], lookupSquash(x[k])) << p.name << ", " << x[k];
        }
    }
}

TEST_F(SimdPaths, OnlySupportedPathsCanBeChosen) {
    for (const auto& p : kPaths) {
        EXPECT_EQ(setSimdPath(p.path), simdPathSupported(p.path)) << p.name;
        if (simdPathSupported(p.path)) {
            EXPECT_EQ(simdPath(), p.path) << p.name;
        }
    }
    EXPECT_TRUE(simdPathSupported(SimdPath::sse2));
}

}  // namespace
}  // namespace tarvik
