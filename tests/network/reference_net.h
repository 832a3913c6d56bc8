// A plain restatement of the network's equations for the tests: weights addressed by their row
// and column, layers stepped over whole streams, outputs computed frame by frame.
#pragma once

#include <vector>

#include "network/blstm.h"

namespace tarvik {

using Frames = std::vector<std::vector<double>>;

// The table sigmoid and squashing function: clamp to [-709, 709], nearest entry.
double refSigmoid(double x);
double refSquash(double x);

// Cell outputs of one layer stepped over `frames` in the order given, from zero.
Frames refLayer(const BLSTMTopology& t, const BLSTMParameters& p, bool forward,
                const Frames& frames);

// The output layer for one frame's forward and backward cell outputs.
std::vector<double> refOutput(const BLSTMTopology& t, const BLSTMParameters& p,
                              const std::vector<double>& hf, const std::vector<double>& hb);

// The outputs of every frame of a stream: the forward layer over the whole stream; the
// backward layer from zero over each block of buffer_len frames and the warmup_len frames after
// it (or, for the last block, over what is left of the stream).
Frames refStream(const BLSTMTopology& t, const BLSTMParameters& p, const Frames& frames,
                 int buffer_len, int warmup_len);

}  // namespace tarvik
