// Construction, topology, counts and memory of the network.
#include "network/blstm.h"

#include <algorithm>
#include <utility>

#include "app/console.h"
#include "kernels/packed_sums.h"
#include "network/activation.h"
#include "network/model_layout.h"

namespace tarvik {

namespace {

// The input that every bias weight multiplies.
const double BIAS_INPUT_VALUE = 1.0;

}  // namespace

BLSTM::BLSTM(int log_channel) : bias_input(&BIAS_INPUT_VALUE), log_channel(log_channel) {
    initActivationTables();
}

BLSTM::~BLSTM() = default;

void BLSTM::initActivationTables() { buildActivationTables(); }

void BLSTM::setSize(int inputs_num, int outputs_num) {
    this->inputs_num = inputs_num;
    this->outputs_num = outputs_num;
}

void BLSTM::setBuffering(int buffer_len, int warmup_len) {
    if (loaded) {
        if (buffer_len == this->buffer_len && warmup_len == this->warmup_len) return;
        std::string problem = bufferingProblem(getTopology(), buffer_len, warmup_len);
        if (!problem.empty()) {
            logLine(log_channel, "ERROR: buffering not changed: " + problem);
            return;
        }
    }
    this->buffer_len = buffer_len;
    this->warmup_len = warmup_len;
    if (!loaded) return;
    // The buffers in hand were sized for the old values: resize them and start a new stream.
    allocateBuffers();
    reset();
}

BLSTMTopology BLSTM::getTopology() const {
    return {inputs_num,        outputs_num,    fwd_blocks_num,      fwd_cells_per_block,
            fwd_has_peepholes, bwd_blocks_num, bwd_cells_per_block, bwd_has_peepholes};
}

void BLSTM::setTopology(int fwd_blocks_num, int fwd_cells_per_block, bool fwd_has_peepholes,
                        int bwd_blocks_num, int bwd_cells_per_block, bool bwd_has_peepholes) {
    params = BLSTMParameters{};
    shapeLayers(fwd_blocks_num, fwd_cells_per_block, fwd_has_peepholes, bwd_blocks_num,
                bwd_cells_per_block, bwd_has_peepholes);
    packWeights();
    clearStreamState();
}

void BLSTM::shapeLayers(int fwd_blocks_num, int fwd_cells_per_block, bool fwd_has_peepholes,
                        int bwd_blocks_num, int bwd_cells_per_block, bool bwd_has_peepholes) {
    this->fwd_blocks_num = fwd_blocks_num;
    this->fwd_cells_per_block = fwd_cells_per_block;
    this->fwd_has_peepholes = fwd_has_peepholes;
    this->bwd_blocks_num = bwd_blocks_num;
    this->bwd_cells_per_block = bwd_cells_per_block;
    this->bwd_has_peepholes = bwd_has_peepholes;
    fwd_cells_num = fwd_blocks_num * fwd_cells_per_block;
    bwd_cells_num = bwd_blocks_num * bwd_cells_per_block;
    countWeights();
    allocateMemory();
}

int BLSTM::countWeights() {
    auto counts = parameterCounts(getTopology());
    int* fields[] = {&fwd_weights_num, &fwd_peep_num,   &fwd_biases_num,  &bwd_weights_num,
                     &bwd_peep_num,    &bwd_biases_num, &out_weights_num, &out_biases_num};
    int sum = 0;
    for (int i = 0; i < 8; ++i) {
        *fields[i] = static_cast<int>(counts[i]);
        sum += *fields[i];
    }
    return sum;
}

int BLSTM::countUnits() const {
    return (2 * fwd_cells_per_block + 3) * fwd_blocks_num +
           (2 * bwd_cells_per_block + 3) * bwd_blocks_num + outputs_num;
}

void BLSTM::allocateBuffers() {
    const auto frames = static_cast<size_t>(buffer_len) + static_cast<size_t>(warmup_len);
    fwd_history.assign(frames * fwd_cells_num, 0.0);
    input_buf.assign((frames + 1) * inputs_num, 0.0);
    output_buf.assign(frames * outputs_num, 0.0);
    const auto bwd_units = static_cast<size_t>(sumTiles(3 * bwd_blocks_num + bwd_cells_num));
    bwd_input_parts.assign((frames + 1) * bwd_units * SUM_LANES, 0.0);
    // Slots not yet stored hold zeros, as the parts of their number (the same, UINT64_MAX) do.
    bwd_part_frame.assign(frames + 1, UINT64_MAX);
    slot_frame.assign(frames + 1, UINT64_MAX);
}

void BLSTM::packWeights() {
    for (const bool forward : {true, false}) {
        const int blocks = forward ? fwd_blocks_num : bwd_blocks_num;
        const int cells = forward ? fwd_cells_num : bwd_cells_num;
        const double* w = forward ? params.fwd_weights.data() : params.bwd_weights.data();
        // Each group: its rows of input weights, then its rows of recurrent weights.
        std::vector<const double*> input_rows;
        std::vector<const double*> recurrent_rows;
        for (const int rows : {blocks, blocks, cells, blocks}) {
            for (int r = 0; r < rows; ++r, w += inputs_num) input_rows.push_back(w);
            for (int r = 0; r < rows; ++r, w += cells) recurrent_rows.push_back(w);
        }
        PackedLayer& packed = forward ? fwd_packed : bwd_packed;
        packed.input = packRows(input_rows, inputs_num);
        packed.recurrent = packRows(recurrent_rows, cells);
        packed.tiles = sumTiles(static_cast<int>(input_rows.size()));
    }
    const auto lanes =
        static_cast<size_t>(std::max(fwd_packed.tiles, bwd_packed.tiles)) * SUM_LANES;
    input_part.assign(lanes, 0.0);
    recurrent_part.assign(lanes, 0.0);
}

void BLSTM::allocateMemory() {
    // A parameter array of the right size keeps its values: commitModel moves the values it has
    // read in before the topology is set.
    const std::pair<std::vector<double>*, int> arrays[] = {
        {&params.fwd_weights, fwd_weights_num},   {&params.fwd_peep_weights, fwd_peep_num},
        {&params.fwd_biases, fwd_biases_num},     {&params.bwd_weights, bwd_weights_num},
        {&params.bwd_peep_weights, bwd_peep_num}, {&params.bwd_biases, bwd_biases_num},
        {&params.out_weights, out_weights_num},   {&params.out_biases, out_biases_num}};
    for (const auto& [array, count] : arrays) {
        if (array->size() != static_cast<std::size_t>(count)) array->assign(count, 0.0);
    }
    for (auto* v : {&fwd_state, &fwd_cell_out, &fwd_cell_in}) {
        v->assign(fwd_cells_num, 0.0);
    }
    for (auto* v : {&fwd_in_gate, &fwd_forget_gate, &fwd_out_gate}) v->assign(fwd_blocks_num, 0.0);
    for (auto* v : {&bwd_state, &bwd_cell_out, &bwd_cell_in}) {
        v->assign(bwd_cells_num, 0.0);
    }
    for (auto* v : {&bwd_in_gate, &bwd_forget_gate, &bwd_out_gate}) v->assign(bwd_blocks_num, 0.0);
    output_frame.assign(outputs_num, 0.0);
    allocateBuffers();
    loaded = true;
}

void BLSTM::freeMemory() {
    params = BLSTMParameters{};
    for (auto* v : {&fwd_history, &fwd_state, &fwd_cell_out, &fwd_cell_in, &fwd_in_gate,
                    &fwd_forget_gate, &fwd_out_gate, &bwd_state, &bwd_cell_out, &bwd_cell_in,
                    &bwd_in_gate, &bwd_forget_gate, &bwd_out_gate, &input_buf, &output_buf,
                    &output_frame, &input_part, &recurrent_part, &bwd_input_parts}) {
        *v = std::vector<double>{};
    }
    fwd_packed = bwd_packed = PackedLayer{};
    bwd_part_frame.clear();
    slot_frame.clear();
    loaded = false;
    clearStreamState();
}

}  // namespace tarvik
