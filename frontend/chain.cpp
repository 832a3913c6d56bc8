#include "frontend/chain.h"

namespace tarvik {

void driveChain(Signal& signal, FE& last, const std::function<void(double*)>& on_frame) {
    int samples_left = 0;
    const double* in = signal.firstFrame(&samples_left);
    double* frame = last.process(in, samples_left);
    while (frame == nullptr && in != nullptr) {
        in = signal.nextFrame(&samples_left);
        frame = last.process(in, samples_left);
    }
    while (frame != nullptr && in != nullptr) {
        on_frame(frame);
        in = signal.nextFrame(&samples_left);
        frame = last.process(in, samples_left);
    }
    while (frame != nullptr) {
        on_frame(frame);
        frame = last.process(nullptr, 0);
    }
}

}  // namespace tarvik
