// One frame of every session channel: 160 samples, 39 features, 37 posteriors
// and both speech posteriors. Writes bench_session_* files into the working
// directory and removes them at the end; every 60000 frames the session is closed and reopened
// under the same number, outside the timing, so the files stay below ~60 MB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "app/settings.h"
#include "output/sequence_synchronizer.h"

namespace {

constexpr int FRAME_LEN = 160;
constexpr int FEATURES = 39;
constexpr int POSTERIORS = 37;
constexpr int FRAMES_PER_SESSION = 60000;

void openFirstSession(tarvik::SequenceSynchronizer& synchronizer) {
    std::ofstream(tarvik::ses_num_dir + "ses_num.txt") << "0";
    synchronizer.openSession();
}

void dumpFrame(benchmark::State& state) {
    tarvik::out_prefix = "bench_session_";
    tarvik::ses_num_dir = "bench_session_";
    tarvik::signal_frame_len = FRAME_LEN;
    tarvik::write_text_grid = false;
    tarvik::write_praat_script = false;
    std::vector<double> samples(FRAME_LEN), features(FEATURES), posteriors(POSTERIORS);
    for (int i = 0; i < FRAME_LEN; ++i) samples[i] = (i * 613 % 4001 - 2000) * 3.7;
    for (int i = 0; i < FEATURES; ++i) features[i] = i * 0.731 - 12.5;
    for (int i = 0; i < POSTERIORS; ++i) posteriors[i] = 1.0 / (i + 3);
    tarvik::SequenceSynchronizer synchronizer(FEATURES, POSTERIORS);
    synchronizer.reset();
    openFirstSession(synchronizer);
    int frames = 0;
    for (auto _ : state) {
        synchronizer.addSignal(samples.data());
        synchronizer.addFeatures(features.data());
        synchronizer.addPosteriors(posteriors.data());
        synchronizer.addSpeechPost(0.8125);
        synchronizer.addSpeechPostSmoothed(0.75);
        synchronizer.addSpeechDet(true, true, true);
        if (++frames == FRAMES_PER_SESSION) {
            state.PauseTiming();
            synchronizer.closeSession(true);
            openFirstSession(synchronizer);
            frames = 0;
            state.ResumeTiming();
        }
    }
    synchronizer.closeSession(true);
    for (const char* name :
         {"00001_signal.raw", "00001_features.csv", "00001_posteriors.csv", "00001_speech_post.csv",
          "00001_speech_post_smoothed.csv", "ses_num.txt"})
        std::remove((tarvik::out_prefix + name).c_str());
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(dumpFrame)->Unit(benchmark::kMicrosecond);
