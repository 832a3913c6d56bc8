#include "frontend/delta.h"

#include <algorithm>
#include <utility>

namespace tarvik {

namespace {

using Frame = std::unique_ptr<double[]>;

// Copies `dim` values of `source` into `slot`, allocating its buffer when it has none.
Frame fillSlot(Frame slot, const double* source, int dim) {
    if (!slot) slot.reset(new double[dim]);
    std::copy(source, source + dim, slot.get());
    return slot;
}

// Gives every slot its own copy of `frame`: the first frame stands for the frames before it.
void replicate(std::vector<Frame>& slots, const double* frame, int dim) {
    for (auto& slot : slots) slot = fillSlot(nullptr, frame, dim);
}

void clear(std::vector<Frame>& slots) {
    for (auto& slot : slots) slot.reset();
}

// The limits a chain builder respects; a stage built outside them gives no frame.
bool limitsHold(FE* input, int in_dim, int delta_offset, int delta_num, int delta_win) {
    return input != nullptr && delta_win >= 1 && delta_offset >= 0 && delta_num >= 0 &&
           delta_offset + delta_num <= in_dim && input->getDim() >= in_dim;
}

}  // namespace

Delta::Delta(FE* input, int in_dim, int delta_offset, int delta_num, int delta_win)
    : input(input),
      usable(limitsHold(input, in_dim, delta_offset, delta_num, delta_win)),
      past(usable ? delta_win : 0),
      future(usable ? delta_win : 0),
      output(usable ? in_dim + delta_num : 0, 0.0),
      in_dim(in_dim),
      delta_offset(delta_offset),
      delta_num(delta_num),
      delta_win(delta_win),
      flush_count(0),
      delta_denom(0.0) {
    for (int k = 1; k <= delta_win; ++k) delta_denom = delta_denom + static_cast<double>(k * k);
    delta_denom = delta_denom + delta_denom;
}

double* Delta::process(const double* in, int samples_left) {
    if (!usable) return nullptr;
    const int n = delta_win;
    const double* y = input->process(in, samples_left);
    if (y == nullptr && in == nullptr) {
        y = future[n - 1].get();
        ++flush_count;
    }
    if (flush_count > n || y == nullptr) return nullptr;

    Frame newest = fillSlot(std::move(past[n - 1]), y, in_dim);
    for (int k = n - 1; k >= 1; --k) past[k] = std::move(past[k - 1]);
    past[0] = std::move(current);
    current = std::move(future[0]);
    for (int k = 0; k < n - 1; ++k) future[k] = std::move(future[k + 1]);
    future[n - 1] = std::move(newest);
    if (!current) return nullptr;
    if (!past[0]) replicate(past, current.get(), in_dim);

    std::copy(current.get(), current.get() + in_dim, output.begin());
    for (int j = 0; j < delta_num; ++j) {
        const int v = delta_offset + j;
        double s = 0.0;
        for (int k = 1; k <= n; ++k)
            s = s + ((future[k - 1][v] - past[k - 1][v]) * k) / delta_denom;
        output[in_dim + j] = s;
    }
    return output.data();
}

int Delta::getDim() const { return in_dim + delta_num; }

void Delta::reset() {
    clear(past);
    clear(future);
    current.reset();
    if (input != nullptr) input->reset();
    flush_count = 0;
}

Delta::~Delta() = default;

SimpleDelta::SimpleDelta(FE* input, int in_dim, int delta_offset, int delta_num, int delta_win)
    : input(input),
      usable(limitsHold(input, in_dim, delta_offset, delta_num, delta_win)),
      history(usable ? delta_win : 0),
      output(usable ? in_dim + delta_num : 0, 0.0),
      in_dim(in_dim),
      delta_offset(delta_offset),
      delta_num(delta_num),
      delta_win(delta_win) {}

double* SimpleDelta::process(const double* in, int samples_left) {
    if (!usable) return nullptr;
    const int n = delta_win;
    const double* y = input->process(in, samples_left);
    if (y == nullptr) return nullptr;

    Frame newest = fillSlot(std::move(history[n - 1]), y, in_dim);
    for (int k = n - 1; k >= 1; --k) history[k] = std::move(history[k - 1]);
    history[0] = std::move(current);
    current = std::move(newest);
    if (!history[0]) replicate(history, current.get(), in_dim);

    std::copy(current.get(), current.get() + in_dim, output.begin());
    for (int j = 0; j < delta_num; ++j) {
        const int v = delta_offset + j;
        double s = 0.0;
        for (int k = 0; k < n; ++k) s = s + (current[v] - history[k][v]) / static_cast<double>(n);
        output[in_dim + j] = s;
    }
    return output.data();
}

int SimpleDelta::getDim() const { return in_dim + delta_num; }

void SimpleDelta::reset() {
    clear(history);
    current.reset();
    if (input != nullptr) input->reset();
}

SimpleDelta::~SimpleDelta() = default;

}  // namespace tarvik
