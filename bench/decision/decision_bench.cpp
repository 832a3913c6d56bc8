// Per-frame cost of the normaliser's update and of the decider's push and pop over the golden
// model, at the command line's sizes: one frame per iteration, so the time column is per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "decision/feature_normalizer.h"
#include "decision/speech_decider.h"

namespace tarvik {
namespace {

constexpr int FEATURES_NUM = 39;

std::vector<double> randomFrames(int frames) {
    std::mt19937 generator(7);
    std::normal_distribution<double> value(0.0, 1.0);
    std::vector<double> data(static_cast<std::size_t>(frames) * FEATURES_NUM);
    for (double& x : data) x = value(generator);
    return data;
}

// One update per iteration; the window of 12000 frames fills during the first 12000.
void BM_NormalizerUpdate(benchmark::State& state) {
    const std::vector<double> frames = randomFrames(1000);
    FeatureNormalizer normalizer(FEATURES_NUM, FN_NORMALIZE_INTERVAL);
    normalizer.reset();
    std::size_t k = 0;
    for (auto _ : state) {
        normalizer.update(frames.data() + k * FEATURES_NUM);
        k = (k + 1) % 1000;
        benchmark::DoNotOptimize(normalizer.means[0]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NormalizerUpdate);

// Push and drain per frame, as the command line does, over the golden model (margin 50,
// min_norm_dur 20); the network's blocks dominate.
void BM_DeciderFrame(benchmark::State& state) {
    const int frames_num = 1000;
    const std::vector<double> frames = randomFrames(frames_num);
    std::vector<double> means(FEATURES_NUM, 0.0);
    std::vector<double> stddevs(FEATURES_NUM, 1.0);
    SpeechDecider decider(0, FEATURES_NUM);
    decider.setMargins(50, 20);
    if (!decider.loadModel(TARVIK_TEST_DATA "/golden/media.am")) {
        state.SkipWithError("cannot load the golden model");
        return;
    }
    decider.setNormalization(means.data(), stddevs.data());
    decider.reset();
    std::vector<double> frame(FEATURES_NUM);
    double* popped = nullptr;
    bool is_speech = false;
    double speech_post = 0.0;
    std::size_t k = 0;
    for (auto _ : state) {
        std::copy_n(frames.begin() + k * FEATURES_NUM, FEATURES_NUM, frame.begin());
        if (decider.pushFrame(frame.data())) {
            while (decider.popFrame(&popped, &is_speech, &speech_post)) {
                benchmark::DoNotOptimize(popped);
            }
        }
        k = (k + 1) % frames_num;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeciderFrame);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
