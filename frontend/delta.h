// Time-derivative stages: append the derivatives of `delta_num` input values from `delta_offset`
// on to each frame of `in_dim` values. Neither owns its input stage.
#pragma once

#include <memory>
#include <vector>

#include "frontend/fe.h"

namespace tarvik {

// Both stages need delta_win >= 1, 0 <= delta_offset, delta_offset + delta_num <= in_dim <= the
// input's getDim; a stage built outside these limits returns null on every call.

// Regression derivative over `delta_win` (N) frames on each side. Output lags the input by N
// frames; when the input is exhausted, the first N calls with a null `in` replay the newest frame
// and return the last N outputs, and every later call returns null until `reset`.
class Delta : public FE {
  public:
    Delta(FE* input, int in_dim, int delta_offset, int delta_num, int delta_win);
    double* process(const double* in, int samples_left) override;
    int getDim() const override;  // in_dim + delta_num
    void reset() override;
    ~Delta() override;

  private:
    using Frame = std::unique_ptr<double[]>;

    FE* input;
    bool usable;                // the limits hold (see the constructor)
    std::vector<Frame> past;    // past[k-1]: the frame k steps before current
    Frame current;              // the frame whose output is formed; null while the delay fills
    std::vector<Frame> future;  // future[k-1]: the frame k steps after current
    std::vector<double> output;
    int in_dim;
    int delta_offset;
    int delta_num;
    int delta_win;
    int flush_count;  // calls that found the input exhausted
    double delta_denom;
};

// Mean difference between the newest frame and each of the `delta_win` frames before it (the
// first frame stands for those before it). No delay and no replay: a null input gives null.
class SimpleDelta : public FE {
  public:
    SimpleDelta(FE* input, int in_dim, int delta_offset, int delta_num, int delta_win);
    double* process(const double* in, int samples_left) override;
    int getDim() const override;  // in_dim + delta_num
    void reset() override;
    ~SimpleDelta() override;

  private:
    using Frame = std::unique_ptr<double[]>;

    FE* input;
    bool usable;
    std::vector<Frame> history;  // history[k-1]: the frame k steps before current
    Frame current;
    std::vector<double> output;
    int in_dim;
    int delta_offset;
    int delta_num;
    int delta_win;
};

}  // namespace tarvik
