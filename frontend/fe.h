// Feature stages: each stage pulls one frame from the stage before it per call, so a chain is
// driven from its last stage only.
#pragma once

namespace tarvik {

class FE {
  public:
    // Consumes one input frame (`in` null: the input has ended; `samples_left`: samples from `in`
    // to the end of its source) and returns the stage's output buffer, or null when it has no
    // frame to give. The buffer is owned by the stage, is the same on every call and keeps its
    // content until the next call that returns it; the caller may rewrite it.
    virtual double* process(const double* in, int samples_left) = 0;
    // Values per output frame.
    virtual int getDim() const = 0;
    // Drops the frames the stage holds and resets the stage it pulls from.
    virtual void reset() = 0;
    virtual ~FE() {}
};

}  // namespace tarvik
