// Prints the network's cost per frame, streamed with blocks of 20 frames and 20 frames of
// look-ahead, for two model sizes on each instruction-set path the processor supports, and the
// cost of the first run, which also fills the activation-table chunks its values reach (random
// weights reach far more of the tables than a trained model does).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kernels/simd_path.h"
#include "network/blstm.h"
#include "tests/network/model_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int FRAMES = 6000;  // one minute of audio at 100 frames per second

// Seconds per frame of the whole streaming protocol: the best of `runs` runs.
double secondsPerFrame(tarvik::BLSTM& net, const std::vector<double>& frames, int inputs,
                       int runs) {
    double best = 1e30;
    double sink = 0.0;
    for (int run = 0; run < runs; ++run) {
        net.reset();
        auto start = Clock::now();
        auto drain = [&] {
            net.processBuffer();
            while (net.getOutput()) sink += net.getOutputFrame()[0];
        };
        for (int k = 0; k < FRAMES; ++k) {
            if (!net.addFrame(&frames[static_cast<size_t>(k) * inputs])) drain();
        }
        drain();
        best = std::min(best, secondsSince(start) / FRAMES);
    }
    if (sink < 0.0) std::printf("unexpected negative posterior sum\n");
    return best;
}

void benchModel(const char* name, int blocks, int cells_per_block) {
    const tarvik::BLSTMTopology topology{39,   1,      blocks,          cells_per_block,
                                         true, blocks, cells_per_block, true};
    // The model file is only a way into load: written to the temporary folder, removed after.
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("tarvik_bench_" + std::to_string(blocks) + "x" + std::to_string(cells_per_block) + ".am"))
            .string();
    tarvik::writeModelFile(path, topology, tarvik::randomParameters(topology, 1, 0.3));
    tarvik::BLSTM net(0);
    net.setBuffering(20, 20);
    const bool loaded = net.load(path);
    std::filesystem::remove(path);
    if (!loaded) return;
    std::mt19937 generator(7);
    std::normal_distribution<double> normal;
    std::vector<double> frames(static_cast<size_t>(FRAMES) * 39);
    for (double& x : frames) x = normal(generator);
    const double first = secondsPerFrame(net, frames, 39, 1);
    std::printf("%-26s %6d weights  first run %8.2f us/frame\n", name, net.countWeights(),
                first * 1e6);
    for (const tarvik::SimdPath path : tarvik::ALL_SIMD_PATHS) {
        if (!tarvik::setSimdPath(path)) continue;
        const double per_frame = secondsPerFrame(net, frames, 39, 5);
        std::printf("  %-8s %8.2f us/frame  %8.1f x real time\n", tarvik::simdPathName(path),
                    per_frame * 1e6, 0.01 / per_frame);
    }
}

}  // namespace

int main() {
    std::printf("one core, blocks of 20 frames + 20 of look-ahead, 100 frames per second:\n");
    benchModel("8x4 cells per direction", 8, 4);
    benchModel("12x4 cells per direction", 12, 4);
    benchModel("16x4 cells per direction", 16, 4);
    benchModel("20x4 cells per direction", 20, 4);
    return 0;
}
