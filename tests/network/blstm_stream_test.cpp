#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "network/blstm.h"
#include "tests/network/model_files.h"
#include "tests/network/reference_net.h"

namespace tarvik {
namespace {

// Two blocks of two cells forward, three blocks of one cell backward, two outputs.
const BLSTMTopology kNet{3, 2, 2, 2, true, 3, 1, false};

Frames randomFrames(int n, unsigned seed) {
    Frames frames;
    std::srand(seed);
    for (int k = 0; k < n; ++k) {
        std::vector<double> x;
        for (int i = 0; i < kNet.inputs_num; ++i) x.push_back(std::rand() / (RAND_MAX / 4.0) - 2.0);
        frames.push_back(x);
    }
    return frames;
}

struct Answer {
    std::vector<double> outputs;
    int frames_in;  // frames added when the answer came
};

// The calling protocol: addFrame per frame, a block drained whenever addFrame returns false;
// processBuffer and a drain at the end.
std::vector<Answer> stream(BLSTM& net, const Frames& frames) {
    std::vector<Answer> answers;
    int added = 0;
    auto drain = [&] {
        net.processBuffer();
        while (net.getOutput()) answers.push_back({net.getOutputFrame(), added});
        EXPECT_FALSE(net.getOutput());
    };
    for (const auto& x : frames) {
        ++added;
        if (!net.addFrame(x.data())) drain();
    }
    drain();
    return answers;
}

class Streaming : public testing::Test {
  protected:
    void SetUp() override {
        params = randomParameters(kNet, 21);
        path = std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ".am";
        ASSERT_TRUE(writeModelFile(path, kNet, params));
    }
    std::unique_ptr<BLSTM> loaded(int buffer_len, int warmup_len) {
        auto net = std::make_unique<BLSTM>(0);
        net->setBuffering(buffer_len, warmup_len);
        EXPECT_TRUE(net->load(path));
        net->reset();
        return net;
    }
    BLSTMParameters params;
    std::string path;
};

TEST_F(Streaming, OutputsEqualTheOfflineReference) {
    const struct {
        int buffer_len, warmup_len;
    } bufferings[] = {{20, 20}, {3, 5}, {5, 3}, {4, 0}, {1, 1}};
    for (const auto& b : bufferings) {
        auto net = loaded(b.buffer_len, b.warmup_len);
        for (int n : {1, 2, 19, 20, 21, 30, 39, 40, 41, 59, 60, 64, 101}) {
            const Frames frames = randomFrames(n, n);
            const Frames expected = refStream(kNet, params, frames, b.buffer_len, b.warmup_len);
            net->reset();
            const auto answers = stream(*net, frames);
            ASSERT_EQ(answers.size(), expected.size()) << b.buffer_len << "/" << b.warmup_len;
            for (size_t k = 0; k < answers.size(); ++k) {
                ASSERT_EQ(answers[k].outputs, expected[k])
                    << "frame " << k << " of " << n << ", buffering " << b.buffer_len << "/"
                    << b.warmup_len;
            }
        }
    }
}

TEST_F(Streaming, AnswersComeTwentyToThirtyNineFramesLate) {
    const struct {
        int frames;
        int answered_early;  // answers before the end of the stream
    } cases[] = {{1, 0}, {20, 0}, {30, 0}, {40, 20}, {41, 20}, {64, 40}, {100, 80}};
    auto net = loaded(20, 20);
    for (const auto& c : cases) {
        net->reset();
        const auto answers = stream(*net, randomFrames(c.frames, 3));
        ASSERT_EQ(answers.size(), static_cast<size_t>(c.frames));
        for (int k = 0; k < c.frames; ++k) {
            const int late = answers[k].frames_in - 1 - k;
            if (k < c.answered_early) {
                EXPECT_GE(late, 20) << k;
                EXPECT_LE(late, 39) << k;
            } else {
                EXPECT_EQ(answers[k].frames_in, c.frames) << k;  // at the end of the stream
            }
        }
    }
}

TEST_F(Streaming, GetOutputWithoutABlockReturnsFalseAndStepsNothing) {
    auto net = loaded(20, 20);
    EXPECT_FALSE(net->getOutput());  // before any block
    net->processBuffer();            // nothing in hand
    EXPECT_FALSE(net->getOutput());
    const Frames frames = randomFrames(45, 9);
    for (int k = 0; k < 10; ++k) {  // mid-block: still nothing
        net->addFrame(frames[k].data());
        EXPECT_FALSE(net->getOutput());
    }
    net->reset();
    const auto answers = stream(*net, frames);
    const Frames expected = refStream(kNet, params, frames, 20, 20);
    ASSERT_EQ(answers.size(), expected.size());
    for (size_t k = 0; k < answers.size(); ++k) EXPECT_EQ(answers[k].outputs, expected[k]);
}

TEST_F(Streaming, NothingMoreAfterTheStreamIsFinished) {
    for (int n : {20, 40, 41}) {
        auto net = loaded(20, 20);
        EXPECT_EQ(stream(*net, randomFrames(n, 4)).size(), static_cast<size_t>(n));
        for (int again = 0; again < 3; ++again) {
            net->processBuffer();
            EXPECT_FALSE(net->getOutput()) << n;
        }
    }
}

TEST_F(Streaming, FramesBeyondAFullBlockAreReportedAndDropped) {
    auto net = loaded(20, 20);
    const Frames frames = randomFrames(45, 5);
    for (int k = 0; k < 45; ++k) net->addFrame(frames[k].data());
    testing::internal::CaptureStdout();
    net->processBuffer();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "buffered_wins_num > buffer_len + warmup_len\n");
    // Answered as the full block of the first 40 frames.
    const Frames expected =
        refStream(kNet, params, Frames(frames.begin(), frames.begin() + 40), 20, 20);
    for (int k = 0; k < 20; ++k) {
        ASSERT_TRUE(net->getOutput());
        EXPECT_EQ(net->getOutputFrame(), expected[k]) << k;
    }
    EXPECT_FALSE(net->getOutput());
}

TEST(StreamingUnloaded, ResetAndStreamingTouchNoArray) {
    BLSTM net(0);
    net.setBuffering(20, 20);
    net.reset();
    const double x[39] = {};
    EXPECT_TRUE(net.addFrame(x));
    net.processBuffer();
    EXPECT_FALSE(net.getOutput());
    EXPECT_TRUE(net.getOutputFrame().empty());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(net.load("no/such/model"));
    testing::internal::GetCapturedStdout();
    net.reset();
    EXPECT_FALSE(net.getOutput());
}

TEST(StreamingFollower, OutputFollowsTheChosenInput) {
    ASSERT_TRUE(writeFollowerModel("follower.am", 39, 12));
    BLSTM net(0);
    net.setBuffering(20, 20);
    ASSERT_TRUE(net.load("follower.am"));
    net.reset();
    const double values[] = {-3.0, -0.5, -0.01, 0.01, 0.5, 3.0};
    Frames frames;
    for (double v : values) {
        std::vector<double> x(39, 7.0);  // the other inputs are ignored
        x[12] = v;
        frames.push_back(x);
    }
    const auto answers = stream(net, frames);
    ASSERT_EQ(answers.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        const double g = 4.0 / (1.0 + std::exp(-values[k])) - 2.0;
        const double expected = 1.0 / (1.0 + std::exp(-4.0 * (4.0 / (1.0 + std::exp(-g)) - 2.0)));
        EXPECT_NEAR(answers[k].outputs[0], expected, 1e-3) << k;
        EXPECT_EQ(answers[k].outputs[0] > 0.5, values[k] > 0) << k;
    }
}

}  // namespace
}  // namespace tarvik
