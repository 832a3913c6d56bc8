// Running a feature chain over a Signal's frames.
#pragma once

#include <functional>

#include "frontend/fe.h"
#include "frontend/signal.h"

namespace tarvik {

// Drives `last` as the command line does: one call per frame from firstFrame/nextFrame, the call
// with the null pointer that ends the walk, then process(nullptr, 0) for as long as the previous
// call returned a frame. `on_frame` receives every frame the chain returns, in order; the frame
// is `last`'s output buffer and may be rewritten.
void driveChain(Signal& signal, FE& last, const std::function<void(double*)>& on_frame);

}  // namespace tarvik
