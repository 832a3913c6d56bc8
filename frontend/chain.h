// The command line's front end: its frame geometry, its feature chain, and the walk that runs a
// chain over a Signal's frames.
#pragma once

#include <functional>

#include "frontend/delta.h"
#include "frontend/fe.h"
#include "frontend/feat.h"
#include "frontend/signal.h"

namespace tarvik {

// Frames of 25 ms overlapping by 0.6: 400 samples every 160 (Signal::setFrame).
inline constexpr int FRAME_MS = 25;
inline constexpr double FRAME_OVERLAP = 0.6;

// Values of the chain's feature frames: 12 cepstra and C0, their derivatives, and the
// derivatives of those.
inline constexpr int FEATURES_NUM = 39;

// The command line's feature chain: Feat (parameter set 1, 13 values), then the derivatives of
// values 0-12 and of values 13-25 appended; `last` yields FEATURES_NUM-value frames.
struct FeatureChain {
    Feat feat{1};
    Delta first{&feat, 13, 0, 13, 1};
    Delta last{&first, 26, 13, 13, 1};
};

// Drives `last` as the command line does: one call per frame from firstFrame/nextFrame, the call
// with the null pointer that ends the walk, then process(nullptr, 0) for as long as the previous
// call returned a frame. `on_frame` receives every frame the chain returns, in order; the frame
// is `last`'s output buffer and may be rewritten.
void driveChain(Signal& signal, FE& last, const std::function<void(double*)>& on_frame);

}  // namespace tarvik
