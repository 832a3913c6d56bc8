// Parameter counts of a topology and the checks a model file's header must pass.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "network/blstm.h"

namespace tarvik {

// The eight parameter counts in file order: fwd_weights, fwd_peep_weights, fwd_biases,
// bwd_weights, bwd_peep_weights, bwd_biases, out_weights, out_biases. Computed in 64 bits, so
// any header values give their true counts.
std::array<std::int64_t, 8> parameterCounts(const BLSTMTopology& topology);

// Largest size accepted for one header value and for the cells of one layer.
inline constexpr std::int64_t MAX_MODEL_SIZE = 1 << 16;
// Largest number of doubles accepted in all parameter arrays together, and in one buffer.
inline constexpr std::int64_t MAX_MODEL_VALUES = 1 << 26;

// Empty when a network of this topology, streamed with these buffering values, can be built;
// otherwise the reason it cannot.
std::string topologyProblem(const BLSTMTopology& topology, int buffer_len, int warmup_len);

// Empty when the streaming buffers of a network of this (valid) topology can be sized for these
// buffering values; otherwise the reason they cannot.
std::string bufferingProblem(const BLSTMTopology& topology, int buffer_len, int warmup_len);

}  // namespace tarvik
