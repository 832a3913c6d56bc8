#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "network/blstm.h"
#include "tests/network/model_files.h"
#include "tests/network/reference_net.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

// Two blocks of two cells forward, three blocks of one cell backward, two outputs.
const BLSTMTopology NET{3, 2, 2, 2, true, 3, 1, false};

Frames randomFrames(int n, unsigned seed) {
    Frames frames;
    std::srand(seed);
    for (int k = 0; k < n; ++k) {
        std::vector<double> x;
        for (int i = 0; i < NET.inputs_num; ++i) x.push_back(std::rand() / (RAND_MAX / 4.0) - 2.0);
        frames.push_back(x);
    }
    return frames;
}

struct Answer {
    std::vector<double> outputs;
    int frames_in;  // frames added when the answer came
};

// The answers' outputs equal `expected`, frame by frame; `where` names the case.
void expectOutputs(const std::vector<Answer>& answers, const Frames& expected,
                   const std::string& where = "") {
    ASSERT_EQ(answers.size(), expected.size()) << where;
    for (size_t k = 0; k < answers.size(); ++k) {
        ASSERT_EQ(answers[k].outputs, expected[k]) << "frame " << k << ", " << where;
    }
}

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
        params = randomParameters(NET, 21);
        path = test_support::scratchFile(".am");
        ASSERT_TRUE(writeModelFile(path, NET, params));
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
            const Frames expected = refStream(NET, params, frames, b.buffer_len, b.warmup_len);
            net->reset();
            const auto answers = stream(*net, frames);
            expectOutputs(answers, expected,
                          "of " + std::to_string(n) + ", buffering " +
                              std::to_string(b.buffer_len) + "/" + std::to_string(b.warmup_len));
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
    const Frames expected = refStream(NET, params, frames, 20, 20);
    expectOutputs(answers, expected);
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

// A caller that, when a block first fills, adds `extra` frames more before draining it; then it
// keeps to the calling protocol. Returns the answers and what was logged meanwhile.
std::vector<Answer> lateStream(BLSTM& net, const Frames& frames, int extra, std::string& log) {
    std::vector<Answer> answers;
    int added = 0;
    int late = -1;  // frames still to add before the overdue drain
    auto drain = [&] {
        net.processBuffer();
        while (net.getOutput()) answers.push_back({net.getOutputFrame(), added});
    };
    testing::internal::CaptureStdout();
    for (const auto& x : frames) {
        ++added;
        const bool filling = net.addFrame(x.data());
        if (late > 0) {
            if (--late == 0) drain();
        } else if (!filling && late < 0 && extra > 0) {
            late = extra;
        } else if (!filling) {
            drain();
        }
    }
    drain();
    log = testing::internal::GetCapturedStdout();
    return answers;
}

TEST_F(Streaming, AFrameBeyondAFullBlockIsReportedAndAnsweredInTurn) {
    const struct {
        int buffer_len, warmup_len, frames;
    } cases[] = {{20, 20, 41}, {20, 20, 45}, {20, 20, 101}, {3, 5, 30},
                 {5, 3, 30},   {4, 0, 17},   {1, 1, 9},     {2, 1, 4}};
    for (const auto& c : cases) {
        auto net = loaded(c.buffer_len, c.warmup_len);
        const Frames frames = randomFrames(c.frames, c.frames);
        std::string log;
        const auto answers = lateStream(*net, frames, 1, log);
        const Frames expected = refStream(NET, params, frames, c.buffer_len, c.warmup_len);
        const std::string where = std::to_string(c.buffer_len) + "/" +
                                  std::to_string(c.warmup_len) + ", " + std::to_string(c.frames);
        EXPECT_EQ(log.rfind("buffered_wins_num > buffer_len + warmup_len\n", 0), 0u) << where;
        expectOutputs(answers, expected, where);
    }
}

TEST_F(Streaming, FramesThatFindNoSlotAreReportedAndTheStreamGoesOn) {
    auto net = loaded(20, 20);
    const Frames frames = randomFrames(80, 5);
    std::string log;
    const auto answers = lateStream(*net, frames, 5, log);  // frames 41-44 find no slot
    std::string dropped;
    for (int k = 0; k < 4; ++k) dropped += "ERROR: addFrame with every slot taken, frame dropped\n";
    EXPECT_EQ(log, dropped + "buffered_wins_num > buffer_len + warmup_len\n");
    Frames kept(frames.begin(), frames.begin() + 41);
    kept.insert(kept.end(), frames.begin() + 45, frames.end());
    const Frames expected = refStream(NET, params, kept, 20, 20);
    expectOutputs(answers, expected);
}

TEST_F(Streaming, LoadSizesTheBuffersFromTheLastBuffering) {
    auto net = std::make_unique<BLSTM>(0);
    net->setBuffering(1, 0);
    net->setBuffering(30, 25);
    ASSERT_TRUE(net->load(path));
    net->reset();
    const Frames frames = randomFrames(130, 6);
    const Frames expected = refStream(NET, params, frames, 30, 25);
    const auto answers = stream(*net, frames);
    expectOutputs(answers, expected);
}

TEST_F(Streaming, BufferingChangedAfterLoadResizesTheBuffersAndStartsANewStream) {
    const struct {
        int buffer_len, warmup_len;
    } bufferings[] = {{40, 40}, {5, 3}, {1, 0}, {20, 60}, {20, 20}};
    auto net = loaded(20, 20);
    const Frames frames = randomFrames(150, 8);
    for (const auto& b : bufferings) {
        for (int k = 0; k < 30 && net->addFrame(frames[k].data()); ++k) {  // a stream under way
        }
        net->setBuffering(b.buffer_len, b.warmup_len);
        EXPECT_EQ(net->getBufferLen(), b.buffer_len);
        EXPECT_EQ(net->getWarmupLen(), b.warmup_len);
        const auto answers = stream(*net, frames);
        const Frames expected = refStream(NET, params, frames, b.buffer_len, b.warmup_len);
        expectOutputs(answers, expected,
                      std::to_string(b.buffer_len) + "/" + std::to_string(b.warmup_len));
        net->reset();
    }
}

TEST_F(Streaming, BufferingTheBuffersCannotTakeIsRefusedAfterLoad) {
    const struct {
        int buffer_len, warmup_len;
        const char* reason;
    } cases[] = {{0, 20, "buffer_len 0 and warmup_len 20 must be at least 1 and 0"},
                 {20, -1, "buffer_len 20 and warmup_len -1 must be at least 1 and 0"},
                 {2000000000, 2000000000, "exceed the limit of 67108864 values"}};
    auto net = loaded(20, 20);
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        net->setBuffering(c.buffer_len, c.warmup_len);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.rfind("ERROR: buffering not changed: ", 0), 0u) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_EQ(net->getBufferLen(), 20);
        EXPECT_EQ(net->getWarmupLen(), 20);
    }
    const Frames frames = randomFrames(64, 2);
    const Frames expected = refStream(NET, params, frames, 20, 20);
    const auto answers = stream(*net, frames);
    expectOutputs(answers, expected);
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
