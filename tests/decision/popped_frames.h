// Collects what SpeechDecider::popFrame hands back, as the command-line driver drains it.
#pragma once

#include <functional>
#include <vector>

#include "decision/speech_decider.h"

namespace tarvik {

struct PoppedFrame {
    std::vector<double> frame;  // copy of the raw values; empty when the frame was cut
    bool is_speech = false;
    double speech_post = 0.0;
};

// Called with each handed-back frame (null when cut) before the next popFrame.
using PopHandler = std::function<void(const double* frame, bool is_speech)>;

// Calls popFrame until it returns false, appending every frame handed back to `popped`.
void popAll(SpeechDecider& decider, int features_num, std::vector<PoppedFrame>& popped,
            const PopHandler& on_pop = {});

// pushFrame on a copy of `frame`, then popAll when the push reported answers.
void pushAndPop(SpeechDecider& decider, const std::vector<double>& frame,
                std::vector<PoppedFrame>& popped, const PopHandler& on_pop = {});

// flush, then popAll when it reported answers; returns what flush returned.
bool flushAndPop(SpeechDecider& decider, int features_num, std::vector<PoppedFrame>& popped,
                 const PopHandler& on_pop = {});

}  // namespace tarvik
