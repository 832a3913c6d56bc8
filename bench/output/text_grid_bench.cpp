// Writing the TextGrid of one hour of frames (360000 codes), with runs of
// 100 frames (one "sil"/"spc" change a second) and with a change every frame.
// Writes bench.TextGrid into the working directory.
#include <benchmark/benchmark.h>

#include "app/settings.h"
#include "output/sequence_synchronizer.h"

namespace {

constexpr int HOUR_OF_FRAMES = 360000;

void writeHour(benchmark::State& state) {
    tarvik::write_text_grid = true;
    const int run_length = static_cast<int>(state.range(0));
    const bool final = state.range(1) != 0;
    tarvik::SequenceSynchronizer synchronizer(0, 37);
    synchronizer.reset();
    for (int j = 0; j < HOUR_OF_FRAMES; ++j)
        synchronizer.addSpeechDet(true, (j / run_length) % 2 == 1, true);
    for (auto _ : state)
        benchmark::DoNotOptimize(synchronizer.buildTextGrid("bench.TextGrid", final));
    state.SetItemsProcessed(state.iterations() * HOUR_OF_FRAMES);
    state.counters["s_per_frame"] =
        benchmark::Counter(HOUR_OF_FRAMES, benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(writeHour)
    ->ArgNames({"run", "final"})
    ->Args({100, 1})
    ->Args({1, 1})
    ->Args({100, 0})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    tarvik::initMaps();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
