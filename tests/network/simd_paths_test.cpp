// On every instruction-set path the streamed network gives the reference network's bits, and the
// batched table lookups those of one value at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "network/activation.h"
#include "network/blstm.h"
#include "tests/kernels/on_each_simd_path.h"
#include "tests/kernels/spread_values.h"
#include "tests/network/model_files.h"
#include "tests/network/reference_net.h"

namespace tarvik {
namespace {

class SimdPaths : public OnEachSimdPath {};

TEST_P(SimdPaths, StreamedOutputsEqualTheReference) {
    // The command line's shape (39 inputs, 8 blocks of 4 cells with peepholes, one output) and
    // shapes whose unit counts fill no tile exactly.
    const BLSTMTopology topologies[] = {{39, 1, 8, 4, true, 8, 4, true},
                                        {5, 2, 3, 3, true, 2, 5, false},
                                        {39, 3, 1, 1, false, 7, 2, true}};
    int shape = 0;
    for (const BLSTMTopology& t : topologies) {
        const BLSTMParameters params = randomParameters(t, 40 + shape, 0.5);
        const std::string path = perPath("simd_paths_" + std::to_string(shape++)) + ".am";
        ASSERT_TRUE(writeModelFile(path, t, params));
        std::mt19937 random(shape);
        std::normal_distribution<double> value(0.0, 1.5);
        Frames frames(97, std::vector<double>(t.inputs_num));
        for (auto& frame : frames) {
            for (double& v : frame) v = value(random);
        }
        const Frames expected = refStream(t, params, frames, 20, 20);
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
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k], expected[k]) << "shape " << shape << ", frame " << k;
        }
    }
}

TEST_P(SimdPaths, BatchedLookupsEqualOneAtATime) {
    // Clamping edges, halves between entries, infinities and values that are not numbers, the
    // constant ranges and their edges, in a count that leaves a tail after the last full
    // register; looked up while every chunk is computed on demand, and again once the chunks of
    // every second value are filled in table memory, so that registers mix filled chunks,
    // constant ranges, entries on demand and values that are not numbers.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> x = {709.0, -709.0, 709.0004, -709.0004, 1000.0,  -1000.0, inf,    -inf,
                             nan,   0.0,    -0.0,     0.0005,    -0.0005, 1.2345,  708.99, -708.99,
                             1e300, -1e300, 5e-324,   3.0,       40.0,    39.999,  -40.0,  -39.999,
                             -50.0, -300.0, 60.0,     nan,       0.25,    -7.5,    12.0,   -12.0};
    const std::vector<double> spread = spreadValues(43, 5);
    x.insert(x.end(), spread.begin(), spread.end());
    for (const double v : spread) x.push_back(v * 1e-8);
    const auto expectOneAtATime = [&](const char* when) {
        std::vector<double> sigmoids(x.size()), squashes(x.size());
        lookupSigmoids(x.data(), sigmoids.data(), static_cast<int>(x.size()));
        lookupSquashes(x.data(), squashes.data(), static_cast<int>(x.size()));
        for (std::size_t k = 0; k < x.size(); ++k) {
            if (std::isnan(x[k])) {
                EXPECT_TRUE(std::isnan(sigmoids[k]) && std::isnan(squashes[k])) << when;
                continue;
            }
            EXPECT_EQ(sigmoids[k], lookupSigmoid(x[k])) << when << ", " << x[k];
            EXPECT_EQ(squashes[k], lookupSquash(x[k])) << when << ", " << x[k];
        }
    };
    expectOneAtATime("on demand");
    for (std::size_t k = 0; k < x.size(); k += 2) {
        for (int n = 0; n < ACT_CHUNK_FILL_AFTER; ++n) lookupSigmoid(x[k]), lookupSquash(x[k]);
    }
    expectOneAtATime("half filled");
}

TARVIK_ON_EACH_SIMD_PATH(SimdPaths);

}  // namespace
}  // namespace tarvik
