// One time step of a layer and the output layer for one frame.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "kernels/packed_sums.h"
#include "network/activation.h"
#include "network/blstm.h"

namespace tarvik {

const double* BLSTM::addWeightedInputs(double* units_begin, double* units_end,
                                       const double* weights, const double* in_begin,
                                       const double* in_end) {
    // Four units at a time: four independent sums, each accumulated in input order exactly as
    // one unit alone, so the results are the same to the last bit, only not serialised.
    const std::ptrdiff_t n = in_end - in_begin;
    double* unit = units_begin;
    for (; units_end - unit >= 4; unit += 4, weights += 4 * n) {
        const double* w0 = weights;
        const double* w1 = w0 + n;
        const double* w2 = w1 + n;
        const double* w3 = w2 + n;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            const double x = in_begin[i];
            s0 += w0[i] * x;
            s1 += w1[i] * x;
            s2 += w2[i] * x;
            s3 += w3[i] * x;
        }
        unit[0] += s0;
        unit[1] += s1;
        unit[2] += s2;
        unit[3] += s3;
    }
    for (; unit != units_end; ++unit) {
        double sum = 0.0;
        for (const double* in = in_begin; in != in_end; ++in) sum += *weights++ * *in;
        *unit += sum;
    }
    return weights;
}

namespace {

// The arrays of one layer that a step reads and writes.
struct Layer {
    const double* biases;
    const double* peeps;  // null without peepholes
    int blocks;
    int cells_per_block;
    double* state;  // the previous step's states until a step writes the new ones
    double* cell_in;
    double* in_gate;
    double* forget_gate;
    double* out_gate;
    double* cell_out;
};

// A gate's value from its input part, recurrent part, bias and peephole part (reading
// `peep_state`), then the table sigmoid. Moves the bias and peephole cursors past the gate.
void gateStep(const Layer& l, double* gate, const double* input_part, const double* recurrent_part,
              const double*& b, const double*& p, const double* peep_state, double bias_input) {
    const int n = l.cells_per_block;
    for (int j = 0; j < l.blocks; ++j) {
        double value = 0.0;
        value += input_part[j];
        value += recurrent_part[j];
        value += b[j] * bias_input;
        if (p != nullptr) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) sum += p[j * n + k] * peep_state[j * n + k];
            value += sum;
        }
        gate[j] = value;
    }
    b += l.blocks;
    if (p != nullptr) p += l.blocks * n;
    lookupSigmoids(gate, gate, l.blocks);
}

}  // namespace

const double* BLSTM::backwardInputPart(int slot) {
    const PackedLayer& packed = bwd_packed;
    const std::uint64_t frame = slot_frame[slot];
    const std::size_t row = frame % bwd_part_frame.size();
    double* part = bwd_input_parts.data() + row * packed.tiles * SUM_LANES;
    if (bwd_part_frame[row] != frame) {
        const double* x = input_buf.data() + static_cast<size_t>(slot) * inputs_num;
        packedSums(packed.input.data(), packed.tiles, x, inputs_num, part);
        bwd_part_frame[row] = frame;
    }
    return part;
}

void BLSTM::layerStep(bool forward) {
    if (!loaded || input_view + inputs_num > input_buf.data() + input_buf.size()) return;
    const Layer l = forward ? Layer{params.fwd_biases.data(),
                                    fwd_has_peepholes ? params.fwd_peep_weights.data() : nullptr,
                                    fwd_blocks_num,
                                    fwd_cells_per_block,
                                    fwd_state.data(),
                                    fwd_cell_in.data(),
                                    fwd_in_gate.data(),
                                    fwd_forget_gate.data(),
                                    fwd_out_gate.data(),
                                    fwd_cell_out.data()}
                            : Layer{params.bwd_biases.data(),
                                    bwd_has_peepholes ? params.bwd_peep_weights.data() : nullptr,
                                    bwd_blocks_num,
                                    bwd_cells_per_block,
                                    bwd_state.data(),
                                    bwd_cell_in.data(),
                                    bwd_in_gate.data(),
                                    bwd_forget_gate.data(),
                                    bwd_out_gate.data(),
                                    bwd_cell_out.data()};
    const int cells = l.blocks * l.cells_per_block;
    const PackedLayer& packed = forward ? fwd_packed : bwd_packed;
    // Every unit's input part and recurrent part (the previous step's cell outputs, read before
    // this step overwrites them), each its own sum in input order; the units follow each other
    // as the weight groups do.
    const double* in_part = input_part.data();
    if (forward) {
        packedSums(packed.input.data(), packed.tiles, input_view, inputs_num, input_part.data());
    } else {
        in_part = backwardInputPart(static_cast<int>((input_view - input_buf.data()) / inputs_num));
    }
    packedSums(packed.recurrent.data(), packed.tiles, l.cell_out, cells, recurrent_part.data());
    const double* rec_part = recurrent_part.data();
    const double* b = l.biases;
    const double* p = l.peeps;
    const double bias = *bias_input;

    // The input and forget gates look at the previous states, the output gate at the new ones;
    // each new state is written after its previous value is read.
    gateStep(l, l.in_gate, in_part, rec_part, b, p, l.state, bias);
    gateStep(l, l.forget_gate, in_part + l.blocks, rec_part + l.blocks, b, p, l.state, bias);
    const int cell_unit = 2 * l.blocks;
    for (int c = 0; c < cells; ++c) {
        double value = 0.0;
        value += in_part[cell_unit + c];
        value += rec_part[cell_unit + c];
        l.cell_in[c] = value;
    }
    lookupSquashes(l.cell_in, l.cell_in, cells);
    for (int j = 0, c = 0; j < l.blocks; ++j) {
        const double in_gate = l.in_gate[j], forget_gate = l.forget_gate[j];
        for (int end = c + l.cells_per_block; c < end; ++c) {
            l.state[c] = l.cell_in[c] * in_gate + forget_gate * l.state[c];
        }
    }
    const int out_unit = cell_unit + cells;
    gateStep(l, l.out_gate, in_part + out_unit, rec_part + out_unit, b, p, l.state, bias);
    lookupSquashes(l.state, l.cell_out, cells);
    for (int j = 0, c = 0; j < l.blocks; ++j) {
        const double out_gate = l.out_gate[j];
        for (int end = c + l.cells_per_block; c < end; ++c)
            l.cell_out[c] = out_gate * l.cell_out[c];
    }
}

void BLSTM::forwardStep() {
    if (!loaded || fwd_hist_pos + fwd_cells_num > static_cast<int>(fwd_history.size())) return;
    layerStep(true);
    std::copy(fwd_cell_out.begin(), fwd_cell_out.end(), fwd_history.begin() + fwd_hist_pos);
    fwd_hist_pos += fwd_cells_num;
}

void BLSTM::backwardStep() {
    if (!loaded) return;
    layerStep(false);
    if (bwd_steps_left > 1 && input_view != input_buf.data()) input_view -= inputs_num;
}

void BLSTM::computeOutput() {
    if (!loaded || fwd_out_view == nullptr) return;
    double* y = output_view;
    std::fill(y, y + outputs_num, 0.0);
    const double* w = params.out_weights.data();
    const double* b = params.out_biases.data();
    w = addWeightedInputs(y, y + outputs_num, w, fwd_out_view, fwd_out_view + fwd_cells_num);
    addWeightedInputs(y, y + outputs_num, w, bwd_cell_out.data(),
                      bwd_cell_out.data() + bwd_cells_num);
    for (int k = 0; k < outputs_num; ++k) y[k] += *b++ * *bias_input;
    if (outputs_num == 1) {
        y[0] = lookupSigmoid(y[0]);
    } else {
        double max_value = y[0];
        for (int k = 1; k < outputs_num; ++k) {
            if (y[k] > max_value) max_value = y[k];
        }
        double total = 0.0;
        for (int k = 0; k < outputs_num; ++k) total += std::exp(y[k] - max_value);
        for (int k = 0; k < outputs_num; ++k) y[k] = std::exp(y[k] - max_value) / total;
    }
    if (bwd_steps_left > 1 && out_pos >= outputs_num &&
        fwd_out_view - fwd_history.data() >= fwd_cells_num) {
        out_pos -= outputs_num;
        output_view -= outputs_num;
        fwd_out_view -= fwd_cells_num;
    }
}

}  // namespace tarvik
