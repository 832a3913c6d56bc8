// The front end's transforms give, on every instruction-set path the processor supports, the bits
// of a plain one-value-at-a-time transform that runs the twiddle recurrence itself.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "app/simd_sums.h"
#include "frontend/feat.h"

namespace tarvik {
namespace {

const SimdPath kPaths[] = {SimdPath::sse2, SimdPath::avx2, SimdPath::avx512};

std::vector<double> randomValues(int count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-32768.0, 32767.0);
    std::vector<double> values(count);
    for (double& value : values) value = uniform(generator);
    return values;
}

// The bit-reversal swaps and the butterfly passes over n = N / 2 interleaved complex values.
void plainPasses(std::vector<double>& d, double sign) {
    const int n = static_cast<int>(d.size()) / 2;
    for (int p = 0, q = 0; p < n; ++p) {
        if (q > p) std::swap(d[2 * p], d[2 * q]), std::swap(d[2 * p + 1], d[2 * q + 1]);
        int bit = n >> 1;
        for (; bit > 0 && (q & bit) != 0; bit >>= 1) q ^= bit;
        q |= bit;
    }
    for (int s = 1; s < n; s *= 2) {
        const double theta = sign * (2 * std::numbers::pi / (2 * s));
        const double t = std::sin(0.5 * theta);
        const double wpr = -2.0 * t * t;
        const double wpi = std::sin(theta);
        double wr = 1.0, wi = 0.0;
        for (int m = 0; m < s; ++m) {
            for (int b = m; b < n; b += 2 * s) {
                const double xr = d[2 * (b + s)], xi = d[2 * (b + s) + 1];
                const double tr = wr * xr - wi * xi;
                const double ti = wr * xi + wi * xr;
                d[2 * (b + s)] = d[2 * b] - tr;
                d[2 * (b + s) + 1] = d[2 * b + 1] - ti;
                d[2 * b] = d[2 * b] + tr;
                d[2 * b + 1] = d[2 * b + 1] + ti;
            }
            const double old_wr = wr;
            wr = (wr * wpr - wi * wpi) + wr;
            wi = (wi * wpr + old_wr * wpi) + wi;
        }
    }
}

void plainRealFft(std::vector<double>& d) {
    plainPasses(d, 1.0);
    const int n = static_cast<int>(d.size()) / 2;
    const double theta = std::numbers::pi / n;
    const double t = std::sin(0.5 * theta);
    const double wpr = -2.0 * t * t;
    const double wpi = std::sin(theta);
    double wr = 1.0 + wpr, wi = wpi;
    for (int k = 1; k < n / 2; ++k) {
        double* a = &d[2 * k];
        double* b = &d[2 * (n - k)];
        const double h1r = 0.5 * (a[0] + b[0]);
        const double h1i = 0.5 * (a[1] - b[1]);
        const double h2r = 0.5 * (a[1] + b[1]);
        const double h2i = -0.5 * (a[0] - b[0]);
        a[0] = h1r + wr * h2r - wi * h2i;
        a[1] = h1i + wr * h2i + wi * h2r;
        b[0] = h1r - wr * h2r + wi * h2i;
        b[1] = -h1i + wr * h2i + wi * h2r;
        const double old_wr = wr;
        wr = (wr * wpr - wi * wpi) + wr;
        wi = (wi * wpr + old_wr * wpi) + wi;
    }
    d[0] = d[0] + d[1];
    d[1] = 0.0;
}

std::vector<std::uint64_t> bitsOf(const std::vector<double>& values) {
    std::vector<std::uint64_t> bits;
    for (const double v : values) bits.push_back(std::bit_cast<std::uint64_t>(v));
    return bits;
}

class SimdPathsFft : public testing::Test {
  protected:
    void TearDown() override { setSimdPath(initial); }
    const SimdPath initial = simdPath();
};

TEST_F(SimdPathsFft, TransformsGiveThePlainTransformsBits) {
    for (const SimdPath path : kPaths) {
        if (!setSimdPath(path)) continue;
        for (int n = 2; n <= 2048; n *= 2) {
            const Feat feat(n, n, 13, 12, 4, 22, 0, 4000, 8000, 0.97, 3);
            for (unsigned seed = 1; seed <= 3; ++seed) {
                const std::vector<double> frame = randomValues(n, seed * 1000 + n);
                std::vector<double> expected = frame, got = frame;
                plainRealFft(expected);
                feat.realFFT(got.data());
                EXPECT_EQ(bitsOf(got), bitsOf(expected)) << "real, path " << int(path) << ", " << n;

                for (const int inverse : {0, 1}) {
                    expected = frame, got = frame;
                    plainPasses(expected, inverse ? -1.0 : 1.0);
                    if (inverse) {
                        for (double& v : expected) v = v / (n / 2);
                    }
                    feat.complexFFT(got.data(), inverse);
                    EXPECT_EQ(bitsOf(got), bitsOf(expected))
                        << "complex " << inverse << ", path " << int(path) << ", " << n;
                }
            }
        }
    }
}

// Whole frames through stages whose bands start and end at other bins than the command line's.
TEST_F(SimdPathsFft, FramesAreTheSameOnEveryPath) {
    const auto stages = [] {
        std::vector<Feat> built;
        built.emplace_back(1);
        built.emplace_back(400, 512, 13, 12, 40, 22, 300, 7000, 8000, 0.97, 1);
        built.emplace_back(256, 256, 11, 10, 23, 22, 0, 8000, 8000, 0.97, 3);
        return built;
    };
    const std::vector<double> samples = randomValues(400 * 20, 5);
    std::vector<std::vector<double>> base;
    ASSERT_TRUE(setSimdPath(SimdPath::sse2));
    for (Feat& feat : stages()) {
        for (int f = 0; f < 20; ++f) {
            const double* out = feat.process(samples.data() + 400 * f, 400);
            base.emplace_back(out, out + feat.getDim());
        }
    }
    for (const SimdPath path : {SimdPath::avx2, SimdPath::avx512}) {
        if (!setSimdPath(path)) continue;
        std::size_t i = 0;
        for (Feat& feat : stages()) {
            for (int f = 0; f < 20; ++f, ++i) {
                const double* out = feat.process(samples.data() + 400 * f, 400);
                EXPECT_EQ(bitsOf({out, out + feat.getDim()}), bitsOf(base[i])) << int(path) << i;
            }
        }
    }
}

}  // namespace
}  // namespace tarvik
