// Model files for tests, written from a topology and parameter arrays in the exact layouts that
// BLSTM::load (binary) and BLSTM::loadText (text) read.
#pragma once

#include <string>

#include "network/blstm.h"

namespace tarvik {

// The 26 header bytes of a binary model file for `topology` (flags written as 0 or 1).
std::string modelHeaderBytes(const BLSTMTopology& topology);

// Writes the header and the eight arrays of `params` as they are, in file order; their sizes are
// not checked, so short or inconsistent files can be made on purpose. False when the file
// cannot be written.
bool writeModelFile(const std::string& path, const BLSTMTopology& topology,
                    const BLSTMParameters& params);

// The same values as decimal text (round-trip precision), header values first.
bool writeModelText(const std::string& path, const BLSTMTopology& topology,
                    const BLSTMParameters& params);

// Every array sized for `topology` and filled with values uniform in [-scale, scale] from a
// fixed generator started at `seed`; the same seed gives the same values.
BLSTMParameters randomParameters(const BLSTMTopology& topology, unsigned seed, double scale = 1.0);

// One block of one cell per direction, no peepholes, one output.
BLSTMTopology followerTopology(int inputs_num);

// Parameters for followerTopology whose output follows input value `input_index` of each frame:
// about sigmoid(gain * g(g(x))) with g(x) = 4 sigmoid(x) - 2 (table resolution 0.001), so above
// 0.5 for x >= 0.01 and below 0.5 for x <= -0.01; the other inputs and earlier frames are ignored.
BLSTMParameters followerParameters(int inputs_num, int input_index, double gain);

// Writes the follower model to `path`; false when the file cannot be written.
bool writeFollowerModel(const std::string& path, int inputs_num, int input_index,
                        double gain = 4.0);

}  // namespace tarvik
