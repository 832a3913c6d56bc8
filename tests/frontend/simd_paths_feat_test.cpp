// Whole frames of the mel-cepstral stage have the same bits on every instruction-set path as on
// the scalar one.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "frontend/feat.h"
#include "tests/kernels/on_each_simd_path.h"

namespace tarvik {
namespace {

std::vector<std::uint64_t> bitsOf(const double* values, int n) {
    std::vector<std::uint64_t> bits;
    for (int i = 0; i < n; ++i) bits.push_back(std::bit_cast<std::uint64_t>(values[i]));
    return bits;
}

// The frames of stages whose bands start and end at other bins than the command line's.
std::vector<std::vector<std::uint64_t>> framesOfStages(const std::vector<double>& samples) {
    std::vector<Feat> stages;
    stages.emplace_back(1);
    stages.emplace_back(400, 512, 13, 12, 40, 22, 300, 7000, 8000, 0.97, 1);
    stages.emplace_back(256, 256, 11, 10, 23, 22, 0, 8000, 8000, 0.97, 3);
    std::vector<std::vector<std::uint64_t>> frames;
    for (Feat& feat : stages) {
        for (int f = 0; f < 20; ++f) {
            const double* out = feat.process(samples.data() + 400 * f, 400);
            frames.push_back(bitsOf(out, feat.getDim()));
        }
    }
    return frames;
}

class SimdPathsFeat : public OnEachSimdPath {};

TEST_P(SimdPathsFeat, FramesHaveTheScalarPathsBits) {
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> uniform(-32768.0, 32767.0);
    std::vector<double> samples(400 * 20);
    for (double& value : samples) value = uniform(generator);
    std::vector<std::vector<std::uint64_t>> scalar;
    onScalarPath([&] { scalar = framesOfStages(samples); });
    const auto frames = framesOfStages(samples);
    ASSERT_EQ(frames.size(), scalar.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], scalar[i]) << "frame " << i;
}

TARVIK_ON_EACH_SIMD_PATH(SimdPathsFeat);

}  // namespace
}  // namespace tarvik
