// The FFT gives, on every instruction-set path, the bits of a plain one-value-at-a-time transform
// that runs the twiddle recurrence itself; the weighted magnitudes those of a plain loop.
#include "kernels/spectrum_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "kernels/fft.h"
#include "tests/kernels/on_each_simd_path.h"

namespace tarvik {
namespace {

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

class SpectrumKernels : public OnEachSimdPath {};

TEST_P(SpectrumKernels, TransformsGiveThePlainTransformsBits) {
    for (int n = 2; n <= 2048; n *= 2) {
        const FftTables fft(n);
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const std::vector<double> frame = randomValues(n, seed * 1000 + n);
            std::vector<double> expected = frame, got = frame;
            plainRealFft(expected);
            fft.realTransform(got.data());
            EXPECT_EQ(bitsOf(got), bitsOf(expected)) << "real, " << n;

            std::vector<double> re(n / 2), im(n / 2);
            fft.realSpectrum(frame.data(), re.data(), im.data());
            for (int k = 0; k < n / 2; ++k) {
                ASSERT_EQ(bitsOf({re[k], im[k]}), bitsOf({expected[2 * k], expected[2 * k + 1]}))
                    << "spectrum, " << n << ", bin " << k;
            }

            for (const bool inverse : {false, true}) {
                expected = frame, got = frame;
                plainPasses(expected, inverse ? -1.0 : 1.0);
                if (inverse) {
                    for (double& v : expected) v = v / (n / 2);
                }
                fft.complexTransform(got.data(), inverse);
                EXPECT_EQ(bitsOf(got), bitsOf(expected)) << "complex " << inverse << ", " << n;
            }
        }
    }
}

TEST_P(SpectrumKernels, WeightedMagnitudesGiveThePlainLoopsBits) {
    const std::vector<double> re = randomValues(300, 1), im = randomValues(300, 2);
    std::vector<double> weight = randomValues(300, 3);
    for (double& w : weight) w = w / 32768.0;
    // Ranges that start and end off every register width.
    for (const auto& [begin, end] :
         {std::pair{0, 256}, {3, 256}, {1, 255}, {5, 12}, {7, 8}, {9, 9}}) {
        std::vector<double> below(300, -1.0), rest(300, -1.0);
        weightedMagnitudes(re.data(), im.data(), weight.data(), begin, end, below.data(),
                           rest.data());
        for (int k = 0; k < 300; ++k) {
            if (k < begin || k >= end) {
                ASSERT_EQ(below[k], -1.0) << k;
                ASSERT_EQ(rest[k], -1.0) << k;
                continue;
            }
            const double a = std::sqrt(im[k] * im[k] + re[k] * re[k]);
            ASSERT_EQ(bitsOf({below[k], rest[k]}), bitsOf({weight[k] * a, a - weight[k] * a}))
                << begin << "-" << end << ", bin " << k;
        }
    }
}

TEST_P(SpectrumKernels, FramesSideBySideHaveTheBitsOfEachAlone) {
    for (int n = 2; n <= 1024; n *= 2) {
        const FftTables fft(n);
        std::vector<std::vector<double>> frames;
        std::vector<double> re(n / 2 * FRAME_LANES), im(n / 2 * FRAME_LANES);
        for (int f = 0; f < FRAME_LANES; ++f) {
            frames.push_back(randomValues(n, 77 * n + f));
            for (int p = 0; p < n / 2; ++p) {
                re[p * FRAME_LANES + f] = frames[f][2 * p];
                im[p * FRAME_LANES + f] = frames[f][2 * p + 1];
            }
        }
        fft.realSpectraOfFrames(re.data(), im.data());
        std::vector<double> weight = randomValues(n / 2, 9);
        for (double& w : weight) w = w / 32768.0;
        std::vector<double> below(re.size(), -1.0), rest(re.size(), -1.0);
        const int begin = std::min(3, n / 2), end = std::max(begin, n / 2 - 1);
        weightedMagnitudesOfFrames(re.data(), im.data(), weight.data(), begin, end, below.data(),
                                   rest.data());
        for (int f = 0; f < FRAME_LANES; ++f) {
            std::vector<double> expected = frames[f];
            plainRealFft(expected);
            for (int k = 0; k < n / 2; ++k) {
                const double r = re[k * FRAME_LANES + f], i = im[k * FRAME_LANES + f];
                ASSERT_EQ(bitsOf({r, i}), bitsOf({expected[2 * k], expected[2 * k + 1]}))
                    << n << ", frame " << f << ", bin " << k;
                const double b = below[k * FRAME_LANES + f], o = rest[k * FRAME_LANES + f];
                if (k < begin || k >= end) {
                    ASSERT_EQ(bitsOf({b, o}), bitsOf({-1.0, -1.0})) << n << ", bin " << k;
                    continue;
                }
                const double a = std::sqrt(i * i + r * r);
                ASSERT_EQ(bitsOf({b, o}), bitsOf({weight[k] * a, a - weight[k] * a}))
                    << n << ", frame " << f << ", bin " << k;
            }
        }
    }
}

TARVIK_ON_EACH_SIMD_PATH(SpectrumKernels);

}  // namespace
}  // namespace tarvik
