// A test network whose posterior is chosen frame by frame: a frame whose input k is CHOICE_ON,
// every other input 0, gets posterior k. The posteriors are exact doubles, so the decider's
// thresholds can be met exactly.
#pragma once

#include <string>
#include <vector>

#include "network/blstm.h"

namespace tarvik {

inline constexpr double CHOICE_ON = 1000.0;

class ChoiceNetwork {
  public:
    // One input per wanted posterior (each in (0, 1]). Each gets the wanted value when a softmax
    // output can equal it, else the nearest one that can: 0.9, for one, is not 1 / t for any
    // double t, and an output above 0.5 is always such a quotient.
    explicit ChoiceNetwork(const std::vector<double>& wanted);

    bool write(const std::string& path) const;
    int inputsNum() const { return static_cast<int>(posteriors.size()); }
    // The posterior that a frame choosing input k gets.
    double posterior(int k) const { return posteriors[k]; }
    // A frame (inputsNum values) that chooses input k.
    std::vector<double> frame(int k) const;

  private:
    BLSTMTopology topology;
    BLSTMParameters params;
    std::vector<double> posteriors;
};

}  // namespace tarvik
