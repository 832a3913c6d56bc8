// A synthetic recording through the command line's chain: silence, a 1 kHz tone, silence.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "frontend/chain.h"
#include "frontend/signal.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

constexpr int SECOND = 16000;

std::vector<std::vector<double>> chainFrames(const std::string& path) {
    FeatureChain chain;
    Signal signal;
    EXPECT_EQ(signal.loadFile(path, "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    std::vector<std::vector<double>> frames;
    driveChain(signal, chain.last, [&](double* frame) { frames.emplace_back(frame, frame + 39); });
    EXPECT_EQ(chain.last.getDim(), 39);
    return frames;
}

TEST(PipelineTest, ToneBetweenSilences) {
    // The tone repeats every 16 samples, so every frame inside it holds the same samples.
    std::vector<int16_t> samples(3 * SECOND, 0);
    for (int i = SECOND; i < 2 * SECOND; ++i) {
        samples[i] = static_cast<int16_t>(
            std::lround(8000.0 * std::sin(2.0 * std::numbers::pi * (i % 16) / 16)));
    }
    test_support::writeWav("tone.wav", samples);
    const auto frames = chainFrames("tone.wav");
    ASSERT_EQ(frames.size(), 300u);

    // Frame t covers samples 160 t ... 160 t + 399.
    auto silent = [](int t) { return 160 * t + 400 <= SECOND || 160 * t >= 2 * SECOND; };
    auto inTone = [](int t) { return 160 * t >= SECOND && 160 * t + 400 <= 2 * SECOND; };
    for (int t = 0; t < 300; ++t) {
        const auto& frame = frames[t];
        if (silent(t - 2) && silent(t) && silent(t + 2)) {
            for (int v = 0; v < 39; ++v) ASSERT_EQ(frame[v], 0.0) << t << " " << v;
        }
        if (inTone(t - 2) && inTone(t + 2)) {
            EXPECT_GT(frame[12], 50.0) << t;  // C0: strong energy in every channel
            EXPECT_EQ(std::vector<double>(frame.begin(), frame.begin() + 13),
                      std::vector<double>(frames[100].begin(), frames[100].begin() + 13));
            for (int v = 13; v < 39; ++v) ASSERT_EQ(frame[v], 0.0) << t << " " << v;
        }
    }
    double largest_cepstrum = 0.0;
    for (int v = 0; v < 12; ++v)
        largest_cepstrum = std::max(largest_cepstrum, std::abs(frames[150][v]));
    EXPECT_GT(largest_cepstrum, 1.0);  // a tone is not a flat spectrum
    // C0 rises into the tone (frame 98 is the first to reach it) and falls after it (frame 199
    // is the last).
    EXPECT_EQ(frames[97][12], 0.0);
    EXPECT_GT(frames[98][12], 50.0);
    EXPECT_GT(frames[97][25], 10.0);
    EXPECT_GT(frames[199][12], 50.0);
    EXPECT_EQ(frames[200][12], 0.0);
    EXPECT_LT(frames[200][25], -10.0);
}

TEST(PipelineTest, RecordingsOfZeroOneAndTwoFrames) {
    struct Case {
        int samples;
        std::size_t frames;
    };
    for (const Case c :
         {Case{0, 0}, Case{159, 0}, Case{319, 0}, Case{320, 2}, Case{479, 2}, Case{480, 3}}) {
        std::vector<int16_t> samples(c.samples, 1000);
        test_support::writeWav("short.wav", samples);
        const auto frames = chainFrames("short.wav");
        EXPECT_EQ(frames.size(), c.frames) << c.samples;
    }
}

}  // namespace
}  // namespace tarvik
