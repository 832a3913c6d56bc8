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
#include "output/replacing_file.h"
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

// Frames handed back by the last runFrameLoop, and those of them whose speech_post is not a
// number (a model whose finite weights overflow).
inline long long frames_handed_back = 0;
inline long long posteriors_not_numbers = 0;

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

// Opens /dev/null on standard input, output or error where the process was started with one of
// them closed, so that no file opened later takes its number (console lines would land in it).
void keepStandardStreamsOpen();

// Prints the reason line of a failure, "ERROR: <path>: <reason>", unless `reason` is empty. The
// libraries return their reasons; this is where they are said, before the failure's last line
// ("ERROR: cannot load: <path>", "ERROR: cannot save: <path>", ...).
void printReason(const std::string& path, const std::string& reason);

// Creates and loads the normaliser, the decider and the synchroniser and resets
// them, printing the start-up lines. False after an error line: the loader's line, the
// reason line when the loader's line does not say why, and "ERROR: cannot load: <file>".
bool startPipeline();

// Pushes one feature frame (normalised in place) and hands on every frame that
// comes back.
void processFrame(double* frame);

// Adds one raw frame of 39 values to the running statistics.
void updateStats(const double* frame);

// Loads the recording at `path` into `signal` and frames it as the command line does. On
// failure prints "ERROR: <path>: <reason>" and "ERROR: cannot load: <path>", and returns false.
bool loadRecording(Signal& signal, const std::string& path);

// Runs every frame of `signal` through `chain` and the decider, then drains both; counts the
// frames handed back and the posteriors that are not numbers.
void runFrameLoop(Signal& signal, FE& chain);

// False, after the line "ERROR: <am_path>: the network's posterior is not a number in <n> of
// <m> frames", when the last runFrameLoop met such a posterior: its decisions mean nothing.
bool posteriorsAreNumbers();

// A tool's data output at `path` ("-": standard output), written as tarvik writes its
// TextGrid: refused by tarvik's output checks (output_guard.h: the input `input_path`, a model
// file, a recording), otherwise opened with ReplacingFile. False after the error lines: the
// refusal, or "ERROR: <path>: <reason>" and "ERROR: cannot create: <path>".
bool openDataOutput(ReplacingFile& file, const std::string& path, const std::string& input_path);

// Ends a data output opened by openDataOutput: checked again when it replaces a file (one may
// have appeared meanwhile), then committed. False after the refusal, or "ERROR: <path>:
// <reason>" and "ERROR: cannot write: <path>"; the file at `path` is then as it was.
bool commitDataOutput(ReplacingFile& file, const std::string& path, const std::string& input_path);

// Releases the heap objects: normaliser, decider, synchroniser, in that order.
void releasePipeline();

}  // namespace tarvik
