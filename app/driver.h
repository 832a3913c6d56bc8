// The command-line road: start-up, the frame loop and the save, as `main` runs them.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "decision/feature_normalizer.h"
#include "decision/speech_decider.h"
#include "frontend/delta.h"
#include "frontend/fe.h"
#include "frontend/feat.h"
#include "frontend/signal.h"
#include "output/sequence_synchronizer.h"

namespace tarvik {

inline constexpr int kFeaturesNum = 39;

// Model files, relative to the working directory.
inline const std::string norm_path = "media.norm";
inline const std::string am_path = "media.am";

// The pipeline's heap objects, created by startPipeline.
inline std::unique_ptr<FeatureNormalizer> normalizer;
inline std::unique_ptr<SpeechDecider> decider;
inline std::unique_ptr<SequenceSynchronizer> synchronizer;

// What the last popFrame handed back.
inline double speech_post = 0.0;
inline bool is_speech = false;

// Running statistics of the frames judged speech (population deviations).
inline int stats_count = 0;
inline std::array<double, kFeaturesNum> stats_mean{};
inline std::array<double, kFeaturesNum> stats_m2{};
inline std::array<double, kFeaturesNum> stats_stddev{};

// Called for every frame handed back, after its code is stored; null by default.
// Lets tools observe the decisions without a second copy of the loop.
using FrameObserver = void (*)(double speech_post, bool is_speech, bool kept);
inline FrameObserver frame_observer = nullptr;

// Called with every frame right after pushFrame normalised it: the values the network was fed.
// Null by default.
using InputObserver = void (*)(const double* normalised);
inline InputObserver input_observer = nullptr;

// Creates and loads the normaliser, the decider and the synchroniser and resets
// them, printing the start-up lines. False after an error line.
bool startPipeline();

// Pushes one feature frame (normalised in place) and hands on every frame that
// comes back.
void processFrame(double* frame);

// Adds one raw frame of 39 values to the running statistics.
void updateStats(const double* frame);

// Runs every frame of `signal` through `chain` and the decider, then drains both.
void runFrameLoop(Signal& signal, FE& chain);

// The command line's feature chain: Feat (13 values), then the derivatives of
// values 0-12 and of values 13-25 appended; `last` yields 39-value frames.
struct FeatureChain {
    Feat feat{1};
    Delta first{&feat, 13, 0, 13, 1};
    Delta last{&first, 26, 13, 13, 1};
};

// Releases the heap objects: normaliser, decider, synchroniser, in that order.
void releasePipeline();

}  // namespace tarvik
