#include "tests/decision/popped_frames.h"

#include <gtest/gtest.h>

namespace tarvik {

void popAll(SpeechDecider& decider, int features_num, std::vector<PoppedFrame>& popped,
            const PopHandler& on_pop) {
    double* frame = nullptr;
    bool is_speech = false;
    double speech_post = 0.0;
    while (decider.popFrame(&frame, &is_speech, &speech_post)) {
        EXPECT_TRUE(frame != nullptr || !is_speech) << "speech frame handed back without values";
        PoppedFrame entry;
        if (frame != nullptr) entry.frame.assign(frame, frame + features_num);
        entry.is_speech = is_speech;
        entry.speech_post = speech_post;
        popped.push_back(std::move(entry));
        if (on_pop) on_pop(frame, is_speech);
    }
    EXPECT_EQ(frame, nullptr);
    EXPECT_FALSE(is_speech);
    EXPECT_EQ(speech_post, -1.0);
}

void pushAndPop(SpeechDecider& decider, const std::vector<double>& frame,
                std::vector<PoppedFrame>& popped, const PopHandler& on_pop) {
    std::vector<double> copy = frame;
    if (decider.pushFrame(copy.data())) {
        popAll(decider, static_cast<int>(frame.size()), popped, on_pop);
    }
}

bool flushAndPop(SpeechDecider& decider, int features_num, std::vector<PoppedFrame>& popped,
                 const PopHandler& on_pop) {
    const bool answered = decider.flush();
    if (answered) popAll(decider, features_num, popped, on_pop);
    return answered;
}

}  // namespace tarvik
