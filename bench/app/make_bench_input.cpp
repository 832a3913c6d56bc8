// Writes what the whole-program benchmark runs on, into a folder: `hour.wav`, a
// synthetic recording of the given length (tone bursts with harmonics between
// stretches of low noise), and a model pair of 8 blocks x 4 cells per direction
// with random weights (`media.am`, `media.norm`).
// Usage: make_bench_input <folder> <seconds>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/network/model_files.h"
#include "tests/support/wav_fixture.h"

namespace {

std::vector<int16_t> syntheticRecording(long samples) {
    std::vector<int16_t> out(samples);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 30.0);
    const double two_pi = 2.0 * std::acos(-1.0);
    for (long n = 0; n < samples; ++n) {
        const long second = n / 16000;
        const bool burst = (second % 3) != 2;  // two seconds of tones, one of noise
        double x = noise(random);
        if (burst) {
            const double f0 = 120.0 + 40.0 * std::sin(two_pi * n / 48000.0);
            for (int h = 1; h <= 8; ++h) x += 1500.0 / h * std::sin(two_pi * f0 * h * n / 16000.0);
        }
        out[n] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, x))));
    }
    return out;
}

bool writeNorm(const std::string& path) {
    std::ofstream out(path);
    out << 39 << "\n";
    for (int i = 0; i < 39; ++i) out << (i == 12 ? 60.0 : 0.0) << " ";
    out << "\n";
    for (int i = 0; i < 39; ++i) out << (i < 13 ? 10.0 : 2.0) << " ";
    out << "\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_bench_input <folder> <seconds>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const long seconds = std::atol(argv[2]);
    tarvik::test_support::writeWav(dir + "/hour.wav", syntheticRecording(seconds * 16000));
    const tarvik::BLSTMTopology topology{39, 1, 8, 4, true, 8, 4, true};
    const bool ok = tarvik::writeModelFile(dir + "/media.am", topology,
                                           tarvik::randomParameters(topology, 11, 0.3)) &&
                    writeNorm(dir + "/media.norm");
    return ok ? 0 : 1;
}
