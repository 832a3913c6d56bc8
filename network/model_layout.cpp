#include "network/model_layout.h"

#include <algorithm>

#include "app/strings.h"

namespace tarvik {

namespace {

struct LayerCounts {
    std::int64_t weights;
    std::int64_t peep;
    std::int64_t biases;
};

LayerCounts layerCounts(std::int64_t inputs, std::int64_t blocks, std::int64_t cells_per_block,
                        bool peepholes) {
    std::int64_t cells = blocks * cells_per_block;
    return {(3 * blocks + cells) * (cells + inputs), peepholes ? 3 * cells : 0, 3 * blocks};
}

std::string sizeProblem(const char* name, std::int64_t value) {
    if (value < 1) return std::string(name) + " is " + std::to_string(value) + ", must be positive";
    if (value > MAX_MODEL_SIZE) {
        return std::string(name) + " is " + std::to_string(value) + ", above the limit of " +
               std::to_string(MAX_MODEL_SIZE);
    }
    return {};
}

}  // namespace

std::array<std::int64_t, 8> parameterCounts(const BLSTMTopology& t) {
    LayerCounts fwd =
        layerCounts(t.inputs_num, t.fwd_blocks_num, t.fwd_cells_per_block, t.fwd_has_peepholes);
    LayerCounts bwd =
        layerCounts(t.inputs_num, t.bwd_blocks_num, t.bwd_cells_per_block, t.bwd_has_peepholes);
    std::int64_t cells = std::int64_t{t.fwd_blocks_num} * t.fwd_cells_per_block +
                         std::int64_t{t.bwd_blocks_num} * t.bwd_cells_per_block;
    return {fwd.weights,           fwd.peep,     fwd.biases, bwd.weights, bwd.peep, bwd.biases,
            t.outputs_num * cells, t.outputs_num};
}

std::string topologyProblem(const BLSTMTopology& t, int buffer_len, int warmup_len) {
    const std::pair<const char*, std::int64_t> sizes[] = {
        {"inputs_num", t.inputs_num},
        {"outputs_num", t.outputs_num},
        {"fwd_blocks_num", t.fwd_blocks_num},
        {"fwd_cells_per_block", t.fwd_cells_per_block},
        {"bwd_blocks_num", t.bwd_blocks_num},
        {"bwd_cells_per_block", t.bwd_cells_per_block},
        {"fwd_cells_num", std::int64_t{t.fwd_blocks_num} * t.fwd_cells_per_block},
        {"bwd_cells_num", std::int64_t{t.bwd_blocks_num} * t.bwd_cells_per_block},
    };
    for (const auto& [name, value] : sizes) {
        std::string problem = sizeProblem(name, value);
        if (!problem.empty()) return problem;
    }
    std::int64_t values = 0;
    for (std::int64_t count : parameterCounts(t)) values += count;
    if (values > MAX_MODEL_VALUES) {
        return std::to_string(values) + " parameters, above the limit of " +
               std::to_string(MAX_MODEL_VALUES);
    }
    if (buffer_len < 1 || warmup_len < 0) {
        return "no buffering set before loading (buffer_len " + intToString(buffer_len) +
               ", warmup_len " + intToString(warmup_len) + ")";
    }
    return bufferingProblem(t, buffer_len, warmup_len);
}

std::string bufferingProblem(const BLSTMTopology& t, int buffer_len, int warmup_len) {
    if (buffer_len < 1 || warmup_len < 0) {
        return "buffer_len " + intToString(buffer_len) + " and warmup_len " +
               intToString(warmup_len) + " must be at least 1 and 0";
    }
    std::int64_t widest = std::max<std::int64_t>(
        {t.inputs_num, t.outputs_num, std::int64_t{t.fwd_blocks_num} * t.fwd_cells_per_block});
    if ((std::int64_t{buffer_len} + warmup_len + 1) * widest > MAX_MODEL_VALUES) {
        return "buffers of " + intToString(buffer_len) + " + " + intToString(warmup_len) +
               " frames exceed the limit of " + std::to_string(MAX_MODEL_VALUES) + " values";
    }
    return {};
}

}  // namespace tarvik
