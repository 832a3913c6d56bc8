// Streams a loaded network over a few blocks of frames, as the decider drives it.
#pragma once

#include <cmath>
#include <vector>

#include "network/blstm.h"

namespace tarvik::fuzz {

// 45 frames of varied values, then the end of the stream; every output is read.
inline void streamModel(BLSTM& net) {
    constexpr int FRAMES = 45;
    std::vector<double> frame(net.getInputsNum());
    double sum = 0.0;
    auto drain = [&] {
        net.processBuffer();
        while (net.getOutput()) sum += net.getOutputFrame()[0];
    };
    net.reset();
    for (int t = 0; t < FRAMES; ++t) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = std::sin(0.7 * t + 0.3 * i);
        if (!net.addFrame(frame.data())) drain();
    }
    drain();
    // Keeps the outputs from being optimised away.
    volatile double kept = sum;
    (void)kept;
}

}  // namespace tarvik::fuzz
