#include "tests/network/reference_net.h"

#include <algorithm>
#include <cmath>

namespace tarvik {

namespace {

int tableIndex(double x) {
    double v = std::clamp(x, -709.0, 709.0) + 709.0;
    return static_cast<int>(v / 0.001 + 0.5);
}

double dot(const std::vector<double>& w, size_t start, const std::vector<double>& v) {
    double sum = 0.0;
    for (size_t i = 0; i < v.size(); ++i) sum += w[start + i] * v[i];
    return sum;
}

}  // namespace

// The table entries computed here from their definition, independently of the network's tables.
double refSigmoid(double x) {
    const double e = std::exp(-(0.001 * static_cast<double>(tableIndex(x)) - 709.0));
    return 1.0 / (e + 1.0);
}

double refSquash(double x) {
    const double e = std::exp(-(0.001 * static_cast<double>(tableIndex(x)) - 709.0));
    return 4.0 / (e + 1.0) - 2.0;
}

Frames refLayer(const BLSTMTopology& t, const BLSTMParameters& p, bool forward,
                const Frames& frames) {
    const size_t in = t.inputs_num;
    const size_t blocks = forward ? t.fwd_blocks_num : t.bwd_blocks_num;
    const size_t per_block = forward ? t.fwd_cells_per_block : t.bwd_cells_per_block;
    const bool peepholes = forward ? t.fwd_has_peepholes : t.bwd_has_peepholes;
    const std::vector<double>& w = forward ? p.fwd_weights : p.bwd_weights;
    const std::vector<double>& bias = forward ? p.fwd_biases : p.bwd_biases;
    const std::vector<double>& peep = forward ? p.fwd_peep_weights : p.bwd_peep_weights;
    const size_t cells = blocks * per_block;
    // First weight of each group: input gate, forget gate, cell input, output gate; each group
    // holds its input rows, then its recurrent rows.
    const size_t gate_rows = blocks * (in + cells);
    const size_t base[4] = {0, gate_rows, 2 * gate_rows, 2 * gate_rows + cells * (in + cells)};
    const size_t rows[4] = {blocks, blocks, cells, blocks};

    auto preActivation = [&](int group, size_t row, const std::vector<double>& x,
                             const std::vector<double>& h) {
        double a = 0.0;
        a += dot(w, base[group] + row * in, x);
        a += dot(w, base[group] + rows[group] * in + row * cells, h);
        return a;
    };
    auto peephole = [&](int gate, size_t j, const std::vector<double>& s) {
        double sum = 0.0;
        for (size_t c = j * per_block; c < (j + 1) * per_block; ++c) {
            sum += peep[gate * cells + c] * s[c];
        }
        return sum;
    };
    // gate: 0 input, 1 forget, 2 output (its group is 3).
    auto gateValue = [&](int gate, size_t j, const std::vector<double>& x,
                         const std::vector<double>& h, const std::vector<double>& s) {
        double a = preActivation(gate == 2 ? 3 : gate, j, x, h);
        a += bias[gate * blocks + j] * 1.0;
        if (peepholes) a += peephole(gate, j, s);
        return refSigmoid(a);
    };

    std::vector<double> s(cells, 0.0), h(cells, 0.0);
    Frames outputs;
    for (const std::vector<double>& x : frames) {
        std::vector<double> in_gate(blocks), forget(blocks), out_gate(blocks), s_new(cells);
        for (size_t j = 0; j < blocks; ++j) in_gate[j] = gateValue(0, j, x, h, s);
        for (size_t j = 0; j < blocks; ++j) forget[j] = gateValue(1, j, x, h, s);
        for (size_t c = 0; c < cells; ++c) {
            double z = refSquash(preActivation(2, c, x, h));
            s_new[c] = z * in_gate[c / per_block] + forget[c / per_block] * s[c];
        }
        for (size_t j = 0; j < blocks; ++j) out_gate[j] = gateValue(2, j, x, h, s_new);
        for (size_t c = 0; c < cells; ++c) h[c] = out_gate[c / per_block] * refSquash(s_new[c]);
        s = s_new;
        outputs.push_back(h);
    }
    return outputs;
}

std::vector<double> refOutput(const BLSTMTopology& t, const BLSTMParameters& p,
                              const std::vector<double>& hf, const std::vector<double>& hb) {
    const size_t out = t.outputs_num;
    std::vector<double> y(out, 0.0);
    for (size_t k = 0; k < out; ++k) y[k] += dot(p.out_weights, k * hf.size(), hf);
    for (size_t k = 0; k < out; ++k) {
        y[k] += dot(p.out_weights, out * hf.size() + k * hb.size(), hb);
    }
    for (size_t k = 0; k < out; ++k) y[k] += p.out_biases[k] * 1.0;
    if (out == 1) return {refSigmoid(y[0])};
    double m = *std::max_element(y.begin(), y.end());
    double total = 0.0;
    for (double v : y) total += std::exp(v - m);
    for (double& v : y) v = std::exp(v - m) / total;
    return y;
}

Frames refStream(const BLSTMTopology& t, const BLSTMParameters& p, const Frames& frames,
                 int buffer_len, int warmup_len) {
    const Frames hf = refLayer(t, p, true, frames);
    const int n = static_cast<int>(frames.size());
    Frames outputs;
    for (int start = 0; start < n; start += buffer_len) {
        const bool full = start + buffer_len + warmup_len <= n;
        const int end = full ? start + buffer_len + warmup_len : n;
        Frames reversed(frames.rbegin() + (n - end), frames.rend() - start);
        Frames hb = refLayer(t, p, false, reversed);
        std::reverse(hb.begin(), hb.end());
        const int answered = full ? buffer_len : n - start;
        for (int k = 0; k < answered; ++k) outputs.push_back(refOutput(t, p, hf[start + k], hb[k]));
        if (!full) break;
    }
    return outputs;
}

}  // namespace tarvik
