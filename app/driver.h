// What tarvik runs between its arguments and its exit: start-up, the frame loop and the save.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "decision/feature_normalizer.h"
#include "decision/speech_decider.h"
#include "frontend/chain.h"
#include "frontend/fe.h"
#include "frontend/signal.h"
#include "output/sequence_synchronizer.h"

namespace tarvik {

// Exit statuses of tarvik and of the tools that run its pipeline; 0 is success.
inline constexpr int STATUS_FAILURE = 1;  // a model file, the recording or an output failed
inline constexpr int STATUS_USAGE = 2;    // wrong arguments

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
inline std::array<double, FEATURES_NUM> stats_mean{};
inline std::array<double, FEATURES_NUM> stats_m2{};
inline std::array<double, FEATURES_NUM> stats_stddev{};

// Called for every frame handed back, after its code is stored; empty by default.
// Lets tools observe the decisions without a second copy of the loop.
using FrameObserver = std::function<void(double speech_post, bool is_speech, bool kept)>;
inline FrameObserver frame_observer;

// Called with every frame right after pushFrame normalised it: the values the network was fed.
// Empty by default.
using InputObserver = std::function<void(const double* normalised)>;
inline InputObserver input_observer;

// Creates and loads the normaliser, the decider and the synchroniser and resets
// them, printing the start-up lines. False after an error line.
bool startPipeline();

// Pushes one feature frame (normalised in place) and hands on every frame that
// comes back.
void processFrame(double* frame);

// Adds one raw frame of 39 values to the running statistics.
void updateStats(const double* frame);

// Loads the recording at `path` into `signal` and frames it as the command line does. On
// failure prints "ERROR: <path>: <reason>" (unless the file could not be opened) and
// "ERROR: cannot load: <path>", and returns false.
bool loadRecording(Signal& signal, const std::string& path);

// Runs every frame of `signal` through `chain` and the decider, then drains both.
void runFrameLoop(Signal& signal, FE& chain);

// Releases the heap objects: normaliser, decider, synchroniser, in that order.
void releasePipeline();

}  // namespace tarvik
