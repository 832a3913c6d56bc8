#include "frontend/delta.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvik {
namespace {

// A first stage that hands out scripted frames: frame t has value v = 10 * t + v * v. It returns
// null for a null input and, while `delay` calls remain, for a real one.
class ScriptedStage : public FE {
  public:
    ScriptedStage(int dim, int delay = 0) : dim(dim), delay(delay), frame(dim) {}
    double* process(const double* in, int) override {
        ++calls;
        if (in == nullptr) return nullptr;
        if (delay > 0) {
            --delay;
            return nullptr;
        }
        for (int v = 0; v < dim; ++v) frame[v] = value(delivered, v);
        ++delivered;
        return frame.data();
    }
    int getDim() const override { return dim; }
    void reset() override {
        ++resets;
        delivered = 0;
    }
    static double value(int t, int v) { return 10.0 * t + v * v + (t % 3) * 0.5; }

    int dim;
    int delay;
    int delivered = 0;
    int calls = 0;
    int resets = 0;
    std::vector<double> frame;
};

const double SAMPLE = 0.0;  // any non-null input pointer will do

// Feeds `frames` calls with input, then `null_calls` calls with a null input; records, per call,
// whether a frame came back, and the frames.
struct Calls {
    std::vector<bool> returned;
    std::vector<std::vector<double>> outputs;
};

Calls feed(FE& last, int frames, int null_calls) {
    Calls run;
    auto record = [&](double* out) {
        run.returned.push_back(out != nullptr);
        if (out) run.outputs.emplace_back(out, out + last.getDim());
    };
    for (int t = 0; t < frames; ++t) record(last.process(&SAMPLE, 400));
    for (int i = 0; i < null_calls; ++i) record(last.process(nullptr, 0));
    return run;
}

TEST(DeltaTest, CommandLineChainTiming) {
    // Frame counts 0, 1, 2 and many: which calls return a frame, for M real calls and 4 null ones.
    for (int m : {0, 1, 2, 3, 50}) {
        ScriptedStage source(13);
        Delta first(&source, 13, 0, 13, 1);
        Delta second(&first, 26, 13, 13, 1);
        const Calls run = feed(second, m, 4);
        std::vector<bool> expected(m + 4, false);
        if (m >= 2) {
            for (int call = 2; call < m + 2; ++call) expected[call] = true;
        } else if (m == 1) {
            expected[2] = true;  // the second null call
        }
        EXPECT_EQ(run.returned, expected) << m;
        EXPECT_EQ(static_cast<int>(run.outputs.size()), m) << m;
        EXPECT_EQ(source.calls, m + 4) << m;  // exactly one input call per call
        for (std::size_t t = 0; t < run.outputs.size(); ++t) {
            for (int v = 0; v < 13; ++v) ASSERT_EQ(run.outputs[t][v], ScriptedStage::value(t, v));
        }
    }
}

TEST(DeltaTest, SingleFrameHasZeroDerivatives) {
    ScriptedStage source(13);
    Delta first(&source, 13, 0, 13, 1);
    Delta second(&first, 26, 13, 13, 1);
    const Calls run = feed(second, 1, 3);
    ASSERT_EQ(run.outputs.size(), 1u);
    for (int v = 13; v < 39; ++v) EXPECT_EQ(run.outputs[0][v], 0.0) << v;
    EXPECT_EQ(second.getDim(), 39);
}

TEST(DeltaTest, FirstAndSecondDerivativesWithWindowOne) {
    const int m = 6;
    ScriptedStage source(2);
    Delta first(&source, 2, 0, 2, 1);
    Delta second(&first, 4, 2, 2, 1);
    const Calls run = feed(second, m, 3);
    ASSERT_EQ(static_cast<int>(run.outputs.size()), m);
    auto x = [](int t, int v) { return ScriptedStage::value(std::max(0, std::min(t, m - 1)), v); };
    auto d = [&](int t, int v) { return ((x(t + 1, v) - x(t - 1, v)) * 1) / 2.0; };
    auto dc = [&](int t, int v) { return d(std::max(0, std::min(t, m - 1)), v); };
    for (int t = 0; t < m; ++t) {
        for (int v = 0; v < 2; ++v) {
            EXPECT_EQ(run.outputs[t][2 + v], d(t, v)) << t << " " << v;
            EXPECT_EQ(run.outputs[t][4 + v], ((dc(t + 1, v) - dc(t - 1, v)) * 1) / 2.0)
                << t << " " << v;
        }
    }
    // First frame: (x_2 - x_1) / 2; last: (x_M - x_{M-1}) / 2.
    EXPECT_EQ(run.outputs[0][2], (x(1, 0) - x(0, 0)) / 2.0);
    EXPECT_EQ(run.outputs[m - 1][2], (x(m - 1, 0) - x(m - 2, 0)) / 2.0);
}

TEST(DeltaTest, WindowTwoRegression) {
    ScriptedStage source(1);
    Delta delta(&source, 1, 0, 1, 2);
    EXPECT_EQ(delta.process(&SAMPLE, 0), nullptr);
    EXPECT_EQ(delta.process(&SAMPLE, 0), nullptr);
    const double* out = delta.process(&SAMPLE, 0);
    ASSERT_NE(out, nullptr);
    const double x1 = ScriptedStage::value(0, 0);
    const double x2 = ScriptedStage::value(1, 0);
    const double x3 = ScriptedStage::value(2, 0);
    EXPECT_EQ(out[0], x1);
    EXPECT_EQ(out[1], 0.0 + ((x2 - x1) * 1) / 10.0 + ((x3 - x1) * 2) / 10.0);
}

TEST(DeltaTest, ReplayAcrossWindows) {
    struct Case {
        int stages;
        int win;
        int frames;
        std::vector<bool> returned;  // frames calls with input, then 5 null calls
    };
    const std::vector<Case> cases = {
        {1, 3, 1, {false, false, false, true, false, false}},   // the frame on the third replay
        {2, 2, 1, {false, false, false, false, false, false}},  // lost in the inner stage's replay
        {2, 2, 2, {false, false, false, false, true, true, false}},
    };
    for (const Case& c : cases) {
        ScriptedStage source(1);
        Delta inner(&source, 1, 0, 0, c.win);
        Delta outer(&inner, 1, 0, 0, c.win);
        FE& last = c.stages == 1 ? static_cast<FE&>(inner) : outer;
        EXPECT_EQ(feed(last, c.frames, 5).returned, c.returned) << c.stages << " " << c.win;
    }
}

TEST(DeltaTest, InputDelayIsNotEndOfInput) {
    ScriptedStage source(1, 3);  // null for the first three real inputs
    Delta delta(&source, 1, 0, 1, 1);
    const Calls run = feed(delta, 5, 3);
    // Two frames arrive (calls 4 and 5); the replay still has its full length.
    EXPECT_EQ(run.returned,
              (std::vector<bool>{false, false, false, false, true, true, false, false}));
}

TEST(DeltaTest, FinishedUntilReset) {
    ScriptedStage source(1);
    Delta delta(&source, 1, 0, 1, 1);
    feed(delta, 3, 3);
    EXPECT_EQ(delta.process(&SAMPLE, 0), nullptr);  // pulled through and lost
    EXPECT_EQ(source.delivered, 4);
    delta.reset();
    EXPECT_EQ(source.resets, 1);
    const Calls run = feed(delta, 2, 2);
    ASSERT_EQ(run.outputs.size(), 2u);
    EXPECT_EQ(run.outputs[0][0], ScriptedStage::value(0, 0));
    EXPECT_EQ(run.outputs[0][1], (ScriptedStage::value(1, 0) - ScriptedStage::value(0, 0)) / 2.0);
}

TEST(DeltaTest, CallerMayRewriteOutput) {
    ScriptedStage plain_source(3);
    ScriptedStage rewritten_source(3);
    Delta plain(&plain_source, 3, 0, 3, 1);
    Delta rewritten(&rewritten_source, 3, 0, 3, 1);
    for (int t = 0; t < 8; ++t) {
        const double* a = plain.process(&SAMPLE, 0);
        double* b = rewritten.process(&SAMPLE, 0);
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (b == nullptr) continue;
        for (int v = 0; v < 6; ++v) ASSERT_EQ(a[v], b[v]) << t << " " << v;
        for (int v = 0; v < 6; ++v) b[v] = -1.0e9;
    }
}

TEST(DeltaTest, StagesOutsideTheirLimitsGiveNothing) {
    ScriptedStage source(4);
    Delta no_window(&source, 4, 0, 4, 0);
    Delta past_the_frame(&source, 4, 2, 3, 1);
    Delta wider_than_input(&source, 5, 0, 1, 1);
    SimpleDelta simple(&source, 4, 0, 4, -1);
    for (FE* stage : std::vector<FE*>{&no_window, &past_the_frame, &wider_than_input, &simple}) {
        for (int call = 0; call < 4; ++call) EXPECT_EQ(stage->process(&SAMPLE, 0), nullptr);
        EXPECT_EQ(stage->process(nullptr, 0), nullptr);
    }
}

TEST(SimpleDeltaTest, MeanDifferenceWithoutDelay) {
    ScriptedStage source(2);
    SimpleDelta delta(&source, 2, 1, 1, 2);
    EXPECT_EQ(delta.getDim(), 3);
    std::vector<std::vector<double>> outputs;
    for (int t = 0; t < 4; ++t) {
        const double* out = delta.process(&SAMPLE, 0);
        ASSERT_NE(out, nullptr);
        outputs.emplace_back(out, out + 3);
    }
    EXPECT_EQ(delta.process(nullptr, 0), nullptr);
    auto x = [](int t) { return ScriptedStage::value(std::max(t, 0), 1); };
    EXPECT_EQ(outputs[0][2], 0.0);
    for (int t = 1; t < 4; ++t) {
        EXPECT_EQ(outputs[t][1], x(t));
        EXPECT_EQ(outputs[t][2], 0.0 + (x(t) - x(t - 1)) / 2.0 + (x(t) - x(t - 2)) / 2.0) << t;
    }
    delta.reset();
    EXPECT_EQ(source.resets, 1);
    const double* out = delta.process(&SAMPLE, 0);
    EXPECT_EQ(out[2], 0.0);
}

}  // namespace
}  // namespace tarvik
