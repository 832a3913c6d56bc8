#include "frontend/feat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "frontend/signal.h"

namespace tarvik {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const char* const NYQUIST_WARNING = "WARNING: FE.nyquist_freq*2!=Signal.SAMP_FREQ\n";

std::vector<double> randomSamples(int count, unsigned seed, double scale = 1000.0) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-scale, scale);
    std::vector<double> samples(count);
    for (double& sample : samples) sample = uniform(generator);
    return samples;
}

// A stage of `n` samples and an `n`-point FFT; nothing else matters to the FFT.
Feat fftOfSize(int n) { return Feat(n, n, 13, 12, 4, 22, 0, 4000, 8000, 0.97, 3); }

// X_k = sum_j z_j e^(+2 pi i j k / n), in long double.
std::vector<std::complex<long double>> plainDft(const std::vector<std::complex<long double>>& z) {
    const std::size_t n = z.size();
    const long double two_pi = 6.283185307179586476925L;
    std::vector<std::complex<long double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = 0; j < n; ++j) {
            const long double angle = two_pi * static_cast<long double>((j * k) % n) / n;
            out[k] += z[j] * std::complex<long double>(std::cos(angle), std::sin(angle));
        }
    }
    return out;
}

TEST(FeatTest, RealFftMatchesPlainDft) {
    for (int n : {4, 8, 64, 512}) {
        const Feat feat = fftOfSize(n);
        std::vector<double> data = randomSamples(n, n);
        std::vector<std::complex<long double>> z(data.begin(), data.end());
        const auto expected = plainDft(z);
        feat.realFFT(data.data());
        const double tolerance = 1e-12 * 1000.0 * n;
        EXPECT_NEAR(data[0], static_cast<double>(expected[0].real()), tolerance) << n;
        EXPECT_EQ(data[1], 0.0);
        for (int k = 1; k < n / 2; ++k) {
            EXPECT_NEAR(data[2 * k], static_cast<double>(expected[k].real()), tolerance) << n;
            EXPECT_NEAR(data[2 * k + 1], static_cast<double>(expected[k].imag()), tolerance) << n;
        }
    }
}

TEST(FeatTest, RealFftOfImpulseAndOnes) {
    const Feat feat(1);
    std::vector<double> impulse(512, 0.0);
    impulse[0] = 1.0;
    feat.realFFT(impulse.data());
    EXPECT_EQ(impulse[0], 1.0);
    for (int k = 1; k < 256; ++k) EXPECT_EQ(impulse[2 * k], 1.0) << k;

    std::vector<double> ones(512, 1.0);
    feat.realFFT(ones.data());
    EXPECT_EQ(ones[0], 512.0);
    for (int i = 1; i < 512; ++i) EXPECT_EQ(ones[i], 0.0) << i;
}

TEST(FeatTest, ComplexFftForwardAndInverse) {
    const int n = 64;
    const Feat feat = fftOfSize(n);
    const std::vector<double> original = randomSamples(n, 7);
    std::vector<std::complex<long double>> z(n / 2);
    for (int p = 0; p < n / 2; ++p) z[p] = {original[2 * p], original[2 * p + 1]};
    const auto expected = plainDft(z);

    std::vector<double> data = original;
    feat.complexFFT(data.data(), 0);
    for (int k = 0; k < n / 2; ++k) {
        EXPECT_NEAR(data[2 * k], static_cast<double>(expected[k].real()), 1e-8) << k;
        EXPECT_NEAR(data[2 * k + 1], static_cast<double>(expected[k].imag()), 1e-8) << k;
    }
    feat.complexFFT(data.data(), 1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(data[i], original[i], 1e-9) << i;
}

TEST(FeatTest, ConsoleLinesOfTheConstructors) {
    struct Case {
        int set;
        std::string lines;
        int dim;
    };
    const Case cases[] = {
        {1, "", 13},
        {2, NYQUIST_WARNING, 13},
        {3, std::string("ERROR: Wrong FE_FeatSet!\n") + NYQUIST_WARNING, 0},
    };
    const std::vector<double> frame(400, 100.0);
    for (const Case& c : cases) {
        CaptureStdout();
        Feat feat(c.set);
        EXPECT_EQ(GetCapturedStdout(), c.lines) << c.set;
        EXPECT_EQ(feat.getDim(), c.dim);
        EXPECT_EQ(feat.process(frame.data(), 400) == nullptr, c.dim == 0) << c.set;
    }
}

TEST(FeatTest, WindowEndsUseSinglePrecisionCoefficients) {
    CaptureStdout();
    for (int set : {1, 2}) {
        const Feat feat(set);
        const std::vector<double>& window = feat.getWindow();
        ASSERT_EQ(window.size(), set == 1 ? 400u : 200u);
        EXPECT_EQ(window.front(), 0.08000001311302185);
        EXPECT_EQ(window.back(), 0.08000001311302185);
    }
    GetCapturedStdout();
}

TEST(FeatTest, ZeroFrame) {
    CaptureStdout();
    Feat set1(1);
    Feat set2(2);
    Feat windowed(400, 512, 13, 12, 40, 22, 64, 8000, 8000, 0.97, 1);
    GetCapturedStdout();
    const std::vector<double> zeros(400, 0.0);
    const double* out = set1.process(zeros.data(), 400);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(out[i], 0.0) << i;
    out = set2.process(zeros.data(), 400);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_EQ(out[12], -1000.0);
    EXPECT_EQ(windowed.process(zeros.data(), 400)[12], -1000.0);
}

TEST(FeatTest, SameBufferAndNullInput) {
    Feat feat(1);
    const std::vector<double> frame = randomSamples(400, 3);
    double* first = feat.process(frame.data(), 400);
    const std::vector<double> values(first, first + 13);
    EXPECT_EQ(feat.process(nullptr, 400), nullptr);
    EXPECT_EQ(std::vector<double>(first, first + 13), values);
    EXPECT_EQ(feat.process(frame.data(), 400), first);
    EXPECT_EQ(std::vector<double>(first, first + 13), values);
}

TEST(FeatTest, FilterbankGeometryOfSetOne) {
    const Feat feat(1);
    const std::vector<int>& lo_chan = feat.getLoChan();
    const std::vector<double>& lo_weight = feat.getLoWeight();
    ASSERT_EQ(lo_chan.size(), 256u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lo_chan[k], -1) << k;
        EXPECT_EQ(lo_weight[k], 0.0) << k;
    }
    EXPECT_EQ(lo_chan[3], 0);     // lowest bin of the band: its rest goes to channel 0
    EXPECT_EQ(lo_chan[255], 40);  // highest: its share goes to channel 39
    for (int k = 4; k < 256; ++k) {
        EXPECT_GE(lo_chan[k], lo_chan[k - 1]) << k;
        EXPECT_GE(lo_weight[k], 0.0) << k;
        EXPECT_LE(lo_weight[k], 1.0) << k;
    }
    // Bins are 31.0 Hz apart (2 * (8000 - 64) / 512), not 31.25 Hz.
    auto mel = [](double f) { return std::log(f / 700.0 + 1.0) * 1127.0; };
    const double ml = mel(64);
    const double first_peak = (1.0 / 41.0) * (mel(8000) - ml) + ml;
    EXPECT_NEAR(lo_weight[3], (first_peak - mel(3 * 31.0)) / (first_peak - ml), 1e-12);
}

TEST(FeatTest, FilterbankGeometryOfSetTwo) {
    CaptureStdout();
    const Feat feat(2);
    GetCapturedStdout();
    EXPECT_EQ(feat.getLoChan()[0], -1);
    EXPECT_EQ(feat.getLoChan()[1], 0);
    EXPECT_EQ(feat.getLoChan()[255], 26);
}

TEST(FeatTest, ShortFrameReadsNothingPastItsSamples) {
    // The last frames of a recording: nothing of the previous frame and nothing past
    // samples_left may reach the result.
    const std::vector<double> previous = randomSamples(400, 11);
    std::vector<double> tail = randomSamples(400, 12);
    Feat fresh(1);
    Feat used(1);
    used.process(previous.data(), 400);
    const double* fresh_out = fresh.process(tail.data(), 170);
    const std::vector<double> expected(fresh_out, fresh_out + 13);
    for (int i = 170; i < 400; ++i) tail[i] = 12345.0;
    const double* out = used.process(tail.data(), 170);
    EXPECT_EQ(std::vector<double>(out, out + 13), expected);
}

TEST(FeatTest, RawEnergyStopsAtTheSource) {
    CaptureStdout();
    Feat feat(2);
    GetCapturedStdout();
    // A source from memory ends with its last sample: exactly 150 readable samples.
    const std::vector<double> memory = randomSamples(150, 5);
    const double energy = feat.process(memory.data(), 150)[12];
    std::vector<double> padded = memory;
    padded.resize(200, 0.0);  // a file source's trailing zeros
    EXPECT_EQ(feat.process(padded.data(), 150)[12], energy);
    double sum = 0.0;
    for (double x : memory) sum = sum + x * x;
    EXPECT_EQ(energy, std::log(sum));
}

TEST(FeatTest, ParametersOutsideTheLimitsGiveNoFrame) {
    struct Case {
        const char* name;
        Feat feat;
    };
    CaptureStdout();
    Case cases[] = {
        {"fft size not a power of two", Feat(300, 300, 13, 12, 40, 22, 64, 8000, 8000, 0.97, 3)},
        {"fft shorter than the frame", Feat(400, 256, 13, 12, 40, 22, 64, 8000, 8000, 0.97, 3)},
        {"empty band", Feat(400, 512, 13, 12, 40, 22, 8000, 8000, 8000, 0.97, 3)},
        {"band above nyquist", Feat(400, 512, 13, 12, 40, 22, 64, 9000, 8000, 0.97, 3)},
        {"no filter", Feat(400, 512, 13, 12, 0, 22, 64, 8000, 8000, 0.97, 3)},
        {"too many cepstra", Feat(400, 512, 13, 13, 40, 22, 64, 8000, 8000, 0.97, 3)},
        {"frame beyond a file frame's reach", Feat(Signal::FRAME_REACH + 1, 2 * Signal::FRAME_REACH,
                                                   13, 12, 40, 22, 64, 8000, 8000, 0.97, 3)},
    };
    GetCapturedStdout();
    const std::vector<double> frame = randomSamples(400, 9);
    for (Case& c : cases) {
        EXPECT_EQ(c.feat.process(frame.data(), 400), nullptr) << c.name;
        std::vector<double> data = frame;
        c.feat.realFFT(data.data());
        EXPECT_EQ(data, frame) << c.name;
    }
}

TEST(FeatTest, SafeLog) {
    EXPECT_EQ(safeLog(0.0), -1000.0);
    EXPECT_EQ(safeLog(-3.0), -1000.0);
    EXPECT_EQ(safeLog(1.0), 0.0);
    EXPECT_EQ(safeLog(10.0), std::log(10.0));
}

TEST(FeatTest, ArrayHolderAccessors) {
    double doubles[3] = {1.0, 2.0, 3.0};
    float floats[2] = {4.0f, 5.0f};
    ArrayHolder<double> double_holder{nullptr};
    ArrayHolder<float> float_holder{nullptr};
    setArray(&double_holder, doubles);
    setArray(&float_holder, floats);
    EXPECT_EQ(elementAt(&double_holder, 1), &doubles[0]);
    EXPECT_EQ(elementAt(&double_holder, 3), &doubles[2]);
    EXPECT_EQ(elementAt(&float_holder, 2), &floats[1]);
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

// The frame of `in` from a stage that has seen no other frame: computed alone, not ahead.
std::vector<double> frameAlone(const double* in, int samples_left) {
    Feat feat(1);
    const double* out = feat.process(in, samples_left);
    return {out, out + feat.getDim()};
}

TEST(FeatTest, FramesComputedAheadAreThoseOfOneFrameAtATime) {
    std::mt19937 generator(3);
    std::uniform_real_distribution<double> uniform(-32768.0, 32767.0);
    std::vector<double> samples(160 * 60 + 400);
    for (double& value : samples) value = uniform(generator);
    const int total = static_cast<int>(samples.size());
    Feat feat(1);
    const auto frameAt = [&](int start) {
        const double* out = feat.process(samples.data() + start, total - start);
        return std::vector<double>(out, out + feat.getDim());
    };
    // A steady walk, to the end, where the last frames have too few samples to be computed ahead.
    for (int start = 0; start + 160 <= total; start += 160) {
        ASSERT_EQ(frameAt(start), frameAlone(samples.data() + start, total - start)) << start;
    }
    // A sample rewritten between calls, a frame skipped, a step that changes, a frame asked for
    // twice and another samples_left: each frame still has the values of its samples as they are.
    int start = 0;
    for (const int next : {160, 320, 480, 800, 960, 1000, 1160, 1160, 1320}) {
        frameAt(start);
        if (next == 480) samples[next + 17] = -samples[next + 17];
        if (next == 960) samples[next + 399] = 0.0;
        start = next;
        ASSERT_EQ(frameAt(start), frameAlone(samples.data() + start, total - start)) << start;
    }
    feat.process(samples.data() + 1480, total - 1480);
    const double* out = feat.process(samples.data() + 1640, 400);
    EXPECT_EQ(std::vector<double>(out, out + 13), frameAlone(samples.data() + 1640, 400));

    // The walk going on in a copy of the samples, one of them changed, as when a source moves its
    // frames: each frame has the values of the samples where it now lies.
    std::vector<double> copy = samples;
    copy[2120 + 5] = -copy[2120 + 5];
    feat.process(samples.data() + 1640, total - 1640);
    feat.process(samples.data() + 1800, total - 1800);
    for (int at = 1960; at <= 2600; at += 160) {
        out = feat.process(copy.data() + at, total - at);
        ASSERT_EQ(std::vector<double>(out, out + 13), frameAlone(copy.data() + at, total - at))
            << at;
    }
}

}  // namespace
}  // namespace tarvik
