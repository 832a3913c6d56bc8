#include "decision/speech_decider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/decision/popped_frames.h"
#include "tests/network/model_files.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

// The test networks follow input value 0 of each frame: posterior about
// sigmoid(gain * g(g(x))), g(x) = 4 sigmoid(x) - 2, from the network's tables.
// With x = +-1000 and gain 1000 the table ends give exactly 1.0 and about 1e-308, with
// x = 0 exactly 0.5. Model files hold finite weights only: under NAN_GAIN the backward
// layer follows input value 1 with the opposite, largest finite weight, so that input
// values 0 and 1 both at 1000 give inf - inf, a posterior that is not a number.
constexpr double EXACT_GAIN = 1000.0;
constexpr double NAN_GAIN = std::numeric_limits<double>::max();

// Input value 0 for a posterior code: '1' gives 1.0, 'h' 0.5, '0' about 0, and 'n' (with
// input value 1 at 1000, under NAN_GAIN) NaN.
double exactInput(char code, double /*gain*/) {
    switch (code) {
        case '1':
        case 'n':
            return 1000.0;
        case '0':
            return -1000.0;
        default:
            return 0.0;
    }
}

// The follower of input 0, and under NAN_GAIN the opposed follower of input 1.
BLSTMParameters testParameters(int features, double gain) {
    BLSTMParameters params = followerParameters(features, 0, gain);
    if (gain == NAN_GAIN) {
        params.bwd_weights[2 * (features + 1) + 1] = 1.0;
        params.bwd_biases = {30.0, -30.0, 30.0};
        params.out_weights = {gain, -gain};
    }
    return params;
}

class Decider : public testing::Test {
  protected:
    // A decider for `features` values per frame over a follower network of input 0, with
    // means 0 and deviations 1, reset and ready for frames.
    void start(int margin, int min_norm_dur, double gain = EXACT_GAIN, int features = 1) {
        if (gain == NAN_GAIN) features = std::max(features, 2);
        features_num = features;
        const std::string model = test_support::scratchFile(".am");
        ASSERT_TRUE(
            writeModelFile(model, followerTopology(features), testParameters(features, gain)));
        decider = std::make_unique<SpeechDecider>(0, features);
        EXPECT_TRUE(decider->setMargins(margin, min_norm_dur));
        ASSERT_TRUE(decider->loadModel(model));
        means.assign(features, 0.0);
        stddevs.assign(features, 1.0);
        decider->setNormalization(means.data(), stddevs.data());
        decider->reset();
        this->gain = gain;
    }
    void push(double input0, double input1 = 0.0) {
        std::vector<double> frame(features_num, 0.0);
        frame[0] = input0;
        if (features_num > 1) frame[1] = input1;
        pushAndPop(*decider, frame, popped);
    }
    void pushCodes(const std::string& codes) {
        for (char code : codes) push(exactInput(code, gain), code == 'n' ? 1000.0 : 0.0);
    }
    bool finish() { return flushAndPop(*decider, features_num, popped); }

    // One character per handed-back frame: is_speech, and whether its values came back.
    std::string speech() const {
        std::string text;
        for (const PoppedFrame& p : popped) text += p.is_speech ? '1' : '0';
        return text;
    }
    std::string kept() const {
        std::string text;
        for (const PoppedFrame& p : popped) text += p.frame.empty() ? '0' : '1';
        return text;
    }

    int features_num = 1;
    double gain = EXACT_GAIN;
    std::unique_ptr<SpeechDecider> decider;
    std::vector<double> means;
    std::vector<double> stddevs;
    std::vector<PoppedFrame> popped;
};

TEST_F(Decider, SmoothingCases) {
    struct Case {
        const char* name;
        const char* posteriors;  // codes of exactInput, one frame each
        const char* speech;
        double gain;
    };
    const std::vector<Case> cases = {
        {"onset window at exactly the threshold is accepted, then filled", "0010100000",
         "0011110000", EXACT_GAIN},
        {"onset window below the threshold is rejected", "001h000000", "0000000000", EXACT_GAIN},
        {"a posterior of exactly 0.5 is a raw onset", "00h1110000", "0011111000", EXACT_GAIN},
        {"offset window at exactly the threshold keeps speech", "0011110011110000",
         "0011111111111000", EXACT_GAIN},
        {"offset window below the threshold ends speech", "00111h00000", "00111100000", EXACT_GAIN},
        {"an accepted offset holds through a raw onset", "0011100011000000", "0011110000000000",
         EXACT_GAIN},
        {"first frame after reset follows a non-speech state", "1100000000", "1111000000",
         EXACT_GAIN},
        {"not-a-number posteriors count as below the threshold in an onset", "001n1100000",
         "00111110000", NAN_GAIN},
        {"not-a-number posteriors let speech end", "0011111nnnnnnnnnnnnnnn",
         "0011111100000000000000", NAN_GAIN},
        {"a stream of nothing but not-a-number posteriors", "nnnnnnnnnn", "0000000000", NAN_GAIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        popped.clear();
        ASSERT_NO_FATAL_FAILURE(start(2, 4, c.gain));
        pushCodes(c.posteriors);
        EXPECT_TRUE(finish());
        EXPECT_EQ(speech(), c.speech);
    }
}

TEST_F(Decider, NotANumberPosteriorsAreHandedBackButNeverConfident) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4, NAN_GAIN));
    pushCodes("0011111nnnnn");
    EXPECT_TRUE(finish());
    ASSERT_EQ(popped.size(), 12u);
    EXPECT_EQ(kept(), "111111111000");
    EXPECT_EQ(popped[6].speech_post, 1.0);
    for (std::size_t k = 7; k < popped.size(); ++k) EXPECT_TRUE(std::isnan(popped[k].speech_post));
}

TEST_F(Decider, ScanWaitsForMarginLookAheadUnlessAConfidentFrameComesFirst) {
    struct Case {
        int margin;
        const char* first_block;  // frames 0-19; frames 20-39 are '0'
        std::size_t popped_after_40;
    };
    const std::vector<Case> cases = {
        {2, "00000000000000000000", 18},
        {0, "00000000000000000000", 20},  // only the frame's own posterior is examined
        {5, "00000000000000000000", 15},
        // Frame 18 finds frame 19 before the unanswered frames; frame 19's onset waits for
        // min_norm_dur posteriors.
        {2, "00000000000000000001", 19},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.margin);
        popped.clear();
        ASSERT_NO_FATAL_FAILURE(start(c.margin, 4));
        pushCodes(c.first_block);
        pushCodes(std::string(19, '0'));
        EXPECT_TRUE(popped.empty());
        pushCodes("0");
        EXPECT_EQ(popped.size(), c.popped_after_40);
    }
}

TEST_F(Decider, MarginZeroKeepsOnlyConfidentFrames) {
    ASSERT_NO_FATAL_FAILURE(start(0, 4));
    pushCodes("0001000h00");
    EXPECT_TRUE(finish());
    EXPECT_EQ(speech(), "0000000000");
    EXPECT_EQ(kept(), "0001000000");
}

TEST_F(Decider, StreamShorterThan40FramesComesBackAtTheFlush) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4));
    for (int k = 0; k < 30; ++k) {
        std::vector<double> frame = {exactInput(k % 10 < 5 ? '1' : '0', EXACT_GAIN)};
        EXPECT_FALSE(decider->pushFrame(frame.data()));
    }
    EXPECT_TRUE(finish());
    // Each offset window at the first silent frame still sums to the threshold: 6 frames.
    EXPECT_EQ(speech(), "111111000011111100001111110000");
}

TEST_F(Decider, FlushWithNothingPushed) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4));
    EXPECT_FALSE(decider->flush());
    double* frame = nullptr;
    bool is_speech = true;
    double speech_post = 0.0;
    EXPECT_FALSE(decider->popFrame(&frame, &is_speech, &speech_post));
    EXPECT_EQ(frame, nullptr);
    EXPECT_FALSE(is_speech);
    EXPECT_EQ(speech_post, -1.0);
    EXPECT_EQ(decider->hasConfidentNeighbour(), -1);
}

TEST_F(Decider, FlushPadsWithTheMeanOfTheLastPosteriors) {
    struct Case {
        const char* posteriors;
        const char* speech;
    };
    // min_norm_dur 4: the last frame's onset window is itself, then three padding slots.
    const std::vector<Case> cases = {
        {"0001h", "00011"},  // pad (1 + 0.5) / 4: 1 + 0.5 + 2 x 0.375 = 2.25, accepted
        {"00010", "00000"},  // pad 1 / 4: 1 + 0 + 0.5, rejected
        {"1h", "11"},        // fewer than 4 frames: the missing slots count as 0
        {"10", "00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.posteriors);
        popped.clear();
        ASSERT_NO_FATAL_FAILURE(start(2, 4));
        pushCodes(c.posteriors);
        EXPECT_TRUE(finish());
        EXPECT_EQ(speech(), c.speech);
    }
}

// 40 frames per period: confident speech at positions 38, 39 and 0; the onset at 38 fills
// 38-1, the offset at 2 follows. Frame 4080 is position 0 (the onset window and fill cross the
// rings' end) or, shifted by 2, position 2 (the offset window crosses it).
TEST_F(Decider, RingsWrapAfter4080Frames) {
    for (int shift : {0, 2}) {
        SCOPED_TRACE(shift);
        popped.clear();
        ASSERT_NO_FATAL_FAILURE(start(2, 4, EXACT_GAIN, 2));
        const int frames = 4200;
        for (int k = 0; k < frames; ++k) {
            const int pos = (k + shift) % 40;
            const char code = pos >= 38 || pos == 0 ? '1' : '0';
            std::vector<double> frame = {exactInput(code, EXACT_GAIN), static_cast<double>(k)};
            pushAndPop(*decider, frame, popped);
            ASSERT_LT(k - static_cast<int>(popped.size()), 100);
        }
        EXPECT_TRUE(finish());
        ASSERT_EQ(popped.size(), static_cast<std::size_t>(frames));
        for (int k = 40; k < frames - 40; ++k) {
            const int pos = (k + shift) % 40;
            EXPECT_EQ(popped[k].is_speech, pos >= 38 || pos <= 1) << k;
            const bool near_confident = pos >= 36 || pos <= 2;
            ASSERT_EQ(!popped[k].frame.empty(), near_confident) << k;
            if (near_confident) {
                EXPECT_EQ(popped[k].frame[1], k);
            }
        }
    }
}

TEST_F(Decider, FlushAtRingPositionZeroPadsFromTheRingsLastSlots) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4));
    pushCodes(std::string(4076, '0') + "001h");
    EXPECT_TRUE(finish());
    ASSERT_EQ(popped.size(), 4080u);
    EXPECT_EQ(speech().substr(4074), "000011");
}

TEST_F(Decider, CallersFrameIsNormalisedAndTheRawFrameComesBack) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4, EXACT_GAIN, 2));
    means[0] = 10.0;
    means[1] = 3.0;
    stddevs[0] = 0.5;
    stddevs[1] = 4.0;
    std::vector<std::vector<double>> raw;
    for (int k = 0; k < 40; ++k) {
        raw.push_back({10.0 + 0.5 * exactInput(k < 20 ? '1' : '0', EXACT_GAIN), 3.0 + 4.0 * k});
        std::vector<double> frame = raw.back();
        const bool answered = decider->pushFrame(frame.data());
        EXPECT_EQ(answered, k == 39);
        EXPECT_EQ(frame[0], exactInput(k < 20 ? '1' : '0', EXACT_GAIN));
        EXPECT_EQ(frame[1], k);
    }
    popAll(*decider, 2, popped);
    EXPECT_TRUE(finish());
    ASSERT_EQ(popped.size(), 40u);
    for (int k = 0; k < 40; ++k) {
        if (!popped[k].frame.empty()) {
            EXPECT_EQ(popped[k].frame, raw[k]) << k;
        }
    }
    // Frame 20's offset window 18-21 sums to the threshold: speech lasts 21 frames.
    EXPECT_EQ(speech(), std::string(21, '1') + std::string(19, '0'));
}

TEST_F(Decider, ResetStartsANewStream) {
    ASSERT_NO_FATAL_FAILURE(start(2, 4));
    pushCodes(std::string(30, '1'));
    decider->reset();
    pushCodes("0000000000");
    EXPECT_TRUE(finish());
    EXPECT_EQ(speech(), "0000000000");
}

TEST(SpeechDecider, SetMarginsRefusesValuesAboveTheMaximum) {
    struct Case {
        int margin;
        int min_norm_dur;
        bool result;
        std::string line;
    };
    const std::vector<Case> cases = {
        {1000, 1000, true, ""},
        {1001, 20, false, "ERROR: margin > TARVIK_MAX_MARGIN\n"},
        {50, 1001, false, "ERROR: min_norm_dur > TARVIK_MAX_MARGIN\n"},
    };
    for (const Case& c : cases) {
        SpeechDecider decider(0, 1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(decider.setMargins(c.margin, c.min_norm_dur), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}

TEST_F(Decider, RefusedMarginsKeepWhatWasNotStored) {
    // Frame 10 is a raw onset: with min_norm_dur 4 it is rejected at once, with 20 it waits
    // (10 frames back); with margin 2, frames 18 and 19 wait for look-ahead, with margin 5
    // frames 16-19 do.
    const std::string first_block = "00000000001000000000" + std::string(20, '0');
    struct Case {
        int margin;
        int min_norm_dur;
        std::size_t popped_after_40;
    };
    const std::vector<Case> cases = {
        {1001, 20, 18},  // nothing stored: margin 2, min_norm_dur 4
        {5, 1001, 16},   // margin 5 stored, min_norm_dur stays 4
        {5, 20, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.margin);
        popped.clear();
        ASSERT_NO_FATAL_FAILURE(start(2, 4));
        testing::internal::CaptureStdout();
        decider->setMargins(c.margin, c.min_norm_dur);
        testing::internal::GetCapturedStdout();
        pushCodes(first_block);
        EXPECT_EQ(popped.size(), c.popped_after_40);
    }
}

TEST(SpeechDecider, LoadModelRefusals) {
    ASSERT_TRUE(writeModelFile("two_inputs.am", followerTopology(2), followerParameters(2, 0, 4)));
    struct Case {
        std::string path;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"no_such_model.am", "Error loading BLSTM topology\n"},
        {"two_inputs.am",
         "ERROR: number of inputs differs in: two_inputs.am (2 inputs, 3 "
         "features)\n"},
    };
    for (const Case& c : cases) {
        SpeechDecider decider(0, 3);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(decider.loadModel(c.path));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}

TEST(SpeechDecider, RefusedWiderModelIsNotStreamed) {
    // The model reads five values from every three-value frame: it must not be kept.
    ASSERT_TRUE(writeModelFile("five_inputs.am", followerTopology(5), followerParameters(5, 4, 4)));
    SpeechDecider decider(0, 3);
    const std::vector<double> zeros(3, 0.0), ones(3, 1.0);
    decider.setNormalization(zeros.data(), ones.data());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(decider.loadModel("five_inputs.am"));
    testing::internal::GetCapturedStdout();
    decider.reset();
    for (int k = 0; k < 60; ++k) {
        std::vector<double> frame(3, 0.5);
        EXPECT_FALSE(decider.pushFrame(frame.data()));
    }
    EXPECT_FALSE(decider.flush());
}

TEST(SpeechDecider, ResetWithoutNormalizationLogsAndCarriesOn) {
    SpeechDecider decider(0, 1);
    testing::internal::CaptureStdout();
    decider.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: (means == NULL) || (stddevs == NULL)\n");
    EXPECT_FALSE(decider.flush());
}

}  // namespace
}  // namespace tarvik
