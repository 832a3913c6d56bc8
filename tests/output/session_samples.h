// The recorded session the session tests and the Praat check share: 160
// samples, 39 features, a speech posterior and a decision code per frame.
#pragma once

#include <string>

#include "output/sequence_synchronizer.h"

namespace tarvik::output_test {

inline constexpr int SAMPLE_FRAME_LEN = 160;
inline constexpr int SAMPLE_FEATURES = 39;

// Whole numbers within the 16-bit range, so they are stored unchanged.
double sampleAt(int frame, int i);
double featureAt(int frame, int i);
double speechPostAt(int frame);

// Settings of a recorded session: `dir` (ending in '/') as out_prefix and
// ses_num_dir, SAMPLE_FRAME_LEN samples per signal call, no hypotheses, the
// TextGrid and the Praat script on, hypothesis tiers off.
void useSessionSettings(const std::string& dir);

// Feeds frames 0 to `frames` - 1: signal, speech posterior and decision code for
// each, features for the first `feature_frames` of them. The synchronizer must
// have been built with SAMPLE_FEATURES features.
void recordFrames(SequenceSynchronizer& synchronizer, int frames, int feature_frames);

}  // namespace tarvik::output_test
