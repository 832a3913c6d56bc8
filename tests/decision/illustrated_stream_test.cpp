// A short stream through the decider (margin 2, min_norm_dur 4: threshold 2.0) whose every
// decision is worked out by hand, over a network that gives each frame its posterior exactly, so
// that frame 8's 0.6 meets the confidence threshold exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decision/speech_decider.h"
#include "tests/decision/choice_network.h"
#include "tests/decision/popped_frames.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

struct Row {
    double speech_post;
    bool is_speech;
    bool kept;
};

// Frames 0-13 of the stream; frame 14 waits for look-ahead.
const std::vector<Row> SETTLED_BEFORE_FLUSH = {
    {0.1, false, false}, {0.55, false, false}, {0.2, false, true}, {0.1, false, true},
    {0.7, true, true},   {0.9, true, true},    {0.8, true, true},  {0.3, true, true},
    {0.6, true, true},   {0.2, false, true},   {0.1, false, true}, {0.1, false, false},
    {0.2, false, false}, {0.1, false, false},
};
// Frames 14 and 15, then the two frames that the flush brings.
const std::vector<Row> SETTLED_AFTER_FLUSH = {
    {0.1, false, true}, {0.1, false, true}, {0.9, true, true}, {0.9, true, true}};

const std::vector<double> POSTERIORS = {0.1, 0.55, 0.2, 0.1, 0.7, 0.9, 0.8, 0.3,
                                        0.6, 0.2,  0.1, 0.1, 0.2, 0.1, 0.1, 0.1};

class IllustratedStream : public testing::Test {
  protected:
    void SetUp() override {
        const std::string model = test_support::scratchFile(".am");
        ASSERT_TRUE(network.write(model));
        decider.setMargins(2, 4);
        ASSERT_TRUE(decider.loadModel(model));
        decider.setNormalization(means.data(), stddevs.data());
        decider.reset();
    }
    void push(double posterior) {
        const auto k = std::find(CHOICES.begin(), CHOICES.end(), posterior) - CHOICES.begin();
        pushAndPop(decider, network.frame(static_cast<int>(k)), popped);
    }
    // The posterior that the network gives in place of `wanted`.
    double given(double wanted) const {
        const auto k = std::find(CHOICES.begin(), CHOICES.end(), wanted) - CHOICES.begin();
        return network.posterior(static_cast<int>(k));
    }
    void expectRows(std::size_t first, const std::vector<Row>& rows) {
        ASSERT_GE(popped.size(), first + rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const PoppedFrame& p = popped[first + i];
            SCOPED_TRACE("handed back as frame " + std::to_string(first + i));
            EXPECT_EQ(p.speech_post, given(rows[i].speech_post));
            EXPECT_EQ(p.is_speech, rows[i].is_speech);
            EXPECT_EQ(!p.frame.empty(), rows[i].kept);
        }
    }

    const std::vector<double> CHOICES = {0.1, 0.55, 0.2, 0.7, 0.9, 0.8, 0.3, 0.6};
    ChoiceNetwork network{CHOICES};
    SpeechDecider decider{0, static_cast<int>(CHOICES.size())};
    std::vector<double> means = std::vector<double>(CHOICES.size(), 0.0);
    std::vector<double> stddevs = std::vector<double>(CHOICES.size(), 1.0);
    std::vector<PoppedFrame> popped;
};

TEST_F(IllustratedStream, NetworkGivesTheIllustratedPosteriorsExactly) {
    for (double p : CHOICES) {
        if (p == 0.9) {
            // Nearest that a softmax can give: one unit below.
            EXPECT_EQ(given(p), 0.8999999999999999);
        } else {
            EXPECT_EQ(given(p), p);
        }
    }
}

TEST_F(IllustratedStream, FourteenFramesSettleAndFrame14WaitsForLookAhead) {
    // Answers come 20 at a time: four frames of 0.1 go first, so that the stream's frames
    // are frames 4-19 of the first answered block and frame 14's scan meets frame 20, the
    // first unanswered one.
    for (int k = 0; k < 4; ++k) push(0.1);
    for (double posterior : POSTERIORS) push(posterior);
    for (int k = 0; k < 19; ++k) push(0.1);
    EXPECT_TRUE(popped.empty());
    push(0.1);
    ASSERT_EQ(popped.size(), 4 + SETTLED_BEFORE_FLUSH.size());
    expectRows(0, std::vector<Row>(4, {0.1, false, false}));
    expectRows(4, SETTLED_BEFORE_FLUSH);
}

TEST_F(IllustratedStream, FlushBringsTwoConfidentFramesThatKeepTheLastOnes) {
    // From reset: frame 0's previous state and its scan read the rings' last slots.
    for (double posterior : POSTERIORS) push(posterior);
    push(0.9);
    push(0.9);
    EXPECT_TRUE(popped.empty());
    EXPECT_TRUE(flushAndPop(decider, static_cast<int>(CHOICES.size()), popped));
    ASSERT_EQ(popped.size(), 18u);
    expectRows(0, SETTLED_BEFORE_FLUSH);
    expectRows(14, SETTLED_AFTER_FLUSH);
}

}  // namespace
}  // namespace tarvik
