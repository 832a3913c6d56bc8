#include "tests/decision/choice_network.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "network/activation.h"
#include "network/model_layout.h"
#include "tests/network/model_files.h"

namespace tarvik {

namespace {

// Output weight that switches an output off: exp(OFF * cell output) is 0.
constexpr double OFF = -1000.0;

// Output 0 of the softmax over the outputs y_k = weights[k] * cell, computed as the network's
// output layer computes it.
double softmaxOutput0(const std::vector<double>& weights, double cell) {
    std::vector<double> y;
    for (double w : weights) y.push_back(w * cell);
    double max_value = y[0];
    for (double v : y) {
        if (v > max_value) max_value = v;
    }
    double total = 0.0;
    for (double v : y) total += std::exp(v - max_value);
    return std::exp(y[0] - max_value) / total;
}

// Output weights for one chosen cell: n = floor(1 / p) outputs at 0 (output 0 among them), one
// output with e^y = 1 / p - n, found among the doubles around its ideal weight, the rest off.
std::vector<double> weightsFor(double p, int outputs_num, double cell) {
    const int n = static_cast<int>(1.0 / p);
    std::vector<double> weights(outputs_num, OFF);
    for (int k = 0; k < n; ++k) weights[k] = 0.0;
    const double rest = 1.0 / p - n;
    std::vector<double> best = weights;
    if (rest <= 0.0) return best;
    double up = std::log(rest) / cell;
    double down = up;
    for (int step = 0; step < 1000; ++step) {
        for (double w : {up, down}) {
            weights[n] = w;
            if (std::abs(softmaxOutput0(weights, cell) - p) <
                std::abs(softmaxOutput0(best, cell) - p)) {
                best = weights;
            }
        }
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    }
    return best;
}

}  // namespace

// Forward layer: one block of one cell per input. Cell k reads input k; its input and output
// gates are wide open (table end 1.0) and its forget gate shut (about 1e-308), so CHOICE_ON
// gives it the state 2.0 (the squash table's end) and the output gt(2), and 0 gives it 0. The
// backward layer is all zeros and outputs 0, so output unit k adds up one weight times gt(2).
ChoiceNetwork::ChoiceNetwork(const std::vector<double>& wanted) {
    const int k_num = static_cast<int>(wanted.size());
    int outputs_num = 2;
    for (double p : wanted) outputs_num = std::max(outputs_num, static_cast<int>(1.0 / p) + 1);
    topology = {k_num, outputs_num, k_num, 1, false, 1, 1, false};
    const auto counts = parameterCounts(topology);
    for (int i = 0; i < 8; ++i) params.inFileOrder()[i]->assign(counts[i], 0.0);
    // Gate groups of K rows of K input and K recurrent weights; the cell input group is third.
    for (int k = 0; k < k_num; ++k) params.fwd_weights[4 * k_num * k_num + k * k_num + k] = 1.0;
    for (int j = 0; j < k_num; ++j) {
        params.fwd_biases[j] = 1000.0;
        params.fwd_biases[k_num + j] = -1000.0;
        params.fwd_biases[2 * k_num + j] = 1000.0;
    }
    buildActivationTables();
    const double cell = lookupSquash(2.0);
    for (int k = 0; k < k_num; ++k) {
        const std::vector<double> weights = weightsFor(wanted[k], outputs_num, cell);
        for (int o = 0; o < outputs_num; ++o) params.out_weights[o * k_num + k] = weights[o];
        posteriors.push_back(softmaxOutput0(weights, cell));
    }
}

bool ChoiceNetwork::write(const std::string& path) const {
    return writeModelFile(path, topology, params);
}

std::vector<double> ChoiceNetwork::frame(int k) const {
    std::vector<double> values(posteriors.size(), 0.0);
    values[k] = CHOICE_ON;
    return values;
}

}  // namespace tarvik
