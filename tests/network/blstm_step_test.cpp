// One block of one cell per layer and one input: the outputs worked out with scalar formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "network/blstm.h"
#include "tests/network/model_files.h"
#include "tests/network/reference_net.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

// One layer of one cell: weights (input, recurrent) of the input gate, forget gate, cell input
// and output gate; peephole weights and biases of the input, forget and output gates.
struct Cell {
    double wi, ri, wf, rf, wz, rz, wo, ro;
    double pi, pf, po;
    double bi, bf, bo;
    bool peepholes;
};

const Cell FWD{0.7, -0.4, -0.3, 0.9, 1.3, 0.5, 0.2, -0.8, 0.6, -1.1, 0.45, 0.1, 0.8, -0.2, true};
const Cell BWD{-0.5, 0.3, 0.6, -0.7, -1.2, 0.9, 0.4, 0.25, -0.35, 0.75, 1.5, -0.3, 0.4, 0.6, true};

struct State {
    double s = 0.0;
    double h = 0.0;
};

// i = sig(wi x + ri h' + bi + pi s'), f likewise, z = g(wz x + rz h'), s = z i + f s',
// o = sig(wo x + ro h' + bo + po s), h = o g(s).
State cellStep(const Cell& c, double x, State prev) {
    double pi = c.peepholes ? c.pi * prev.s : 0.0;
    double pf = c.peepholes ? c.pf * prev.s : 0.0;
    double i = refSigmoid(c.wi * x + c.ri * prev.h + c.bi * 1.0 + pi);
    double f = refSigmoid(c.wf * x + c.rf * prev.h + c.bf * 1.0 + pf);
    double z = refSquash(c.wz * x + c.rz * prev.h);
    State next;
    next.s = z * i + f * prev.s;
    double po = c.peepholes ? c.po * next.s : 0.0;
    double o = refSigmoid(c.wo * x + c.ro * prev.h + c.bo * 1.0 + po);
    next.h = o * refSquash(next.s);
    return next;
}

void appendCell(const Cell& c, std::vector<double>& weights, std::vector<double>& peeps,
                std::vector<double>& biases) {
    weights = {c.wi, c.ri, c.wf, c.rf, c.wz, c.rz, c.wo, c.ro};
    if (c.peepholes) peeps = {c.pi, c.pf, c.po};
    biases = {c.bi, c.bf, c.bo};
}

// Runs `frames` through a network of the two cells and `out_weights` / `out_biases`
// (forward weight, backward weight per unit, then the biases) as one stream.
std::vector<std::vector<double>> runTiny(const Cell& fwd, const Cell& bwd,
                                         const std::vector<double>& out_weights,
                                         const std::vector<double>& out_biases,
                                         const std::vector<double>& frames) {
    const int outputs = static_cast<int>(out_biases.size());
    const BLSTMTopology t{1, outputs, 1, 1, fwd.peepholes, 1, 1, bwd.peepholes};
    BLSTMParameters p;
    appendCell(fwd, p.fwd_weights, p.fwd_peep_weights, p.fwd_biases);
    appendCell(bwd, p.bwd_weights, p.bwd_peep_weights, p.bwd_biases);
    p.out_weights = out_weights;
    p.out_biases = out_biases;
    const std::string path = test_support::scratchFile(".am");
    EXPECT_TRUE(writeModelFile(path, t, p));
    BLSTM net(0);
    net.setBuffering(20, 20);
    EXPECT_TRUE(net.load(path));
    net.reset();
    for (double x : frames) EXPECT_TRUE(net.addFrame(&x));
    net.processBuffer();
    std::vector<std::vector<double>> outputs_got;
    while (net.getOutput()) outputs_got.push_back(net.getOutputFrame());
    return outputs_got;
}

// Forward cell over the frames in order, backward cell from zero in reverse order.
void tinyLayers(const Cell& fwd, const Cell& bwd, const std::vector<double>& frames,
                std::vector<double>& hf, std::vector<double>& hb) {
    State f, b;
    hf.clear();
    hb.assign(frames.size(), 0.0);
    for (double x : frames) hf.push_back((f = cellStep(fwd, x, f)).h);
    for (size_t k = frames.size(); k-- > 0;) hb[k] = (b = cellStep(bwd, frames[k], b)).h;
}

TEST(BLSTMStep, OneOutputWithAndWithoutPeepholes) {
    const std::vector<double> frames = {0.5, -1.25, 2.0};
    const std::vector<double> vw = {1.7, -2.3};
    const double vb = 0.15;
    std::vector<double> with_peepholes;
    for (bool peepholes : {true, false}) {
        Cell fwd = FWD, bwd = BWD;
        fwd.peepholes = bwd.peepholes = peepholes;
        std::vector<double> hf, hb;
        tinyLayers(fwd, bwd, frames, hf, hb);
        const auto got = runTiny(fwd, bwd, vw, {vb}, frames);
        ASSERT_EQ(got.size(), frames.size());
        for (size_t k = 0; k < frames.size(); ++k) {
            ASSERT_EQ(got[k].size(), 1u);
            EXPECT_EQ(got[k][0], refSigmoid(vw[0] * hf[k] + vw[1] * hb[k] + vb * 1.0)) << k;
            if (peepholes) {
                with_peepholes.push_back(got[k][0]);
            } else {
                EXPECT_NE(got[k][0], with_peepholes[k]) << k;
            }
        }
    }
}

TEST(BLSTMStep, TwoOutputsAreASoftmaxComputedWithExp) {
    const std::vector<double> frames = {0.3, 1.1};
    // Per unit the forward weights, then per unit the backward weights.
    const std::vector<double> vw = {2.0, -1.0, 0.5, 1.5};
    const std::vector<double> vb = {0.2, -0.1};
    std::vector<double> hf, hb;
    tinyLayers(FWD, BWD, frames, hf, hb);
    const auto got = runTiny(FWD, BWD, vw, vb, frames);
    ASSERT_EQ(got.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        double y0 = vw[0] * hf[k] + vw[2] * hb[k] + vb[0] * 1.0;
        double y1 = vw[1] * hf[k] + vw[3] * hb[k] + vb[1] * 1.0;
        double m = y1 > y0 ? y1 : y0;
        double total = 0.0 + std::exp(y0 - m) + std::exp(y1 - m);
        EXPECT_EQ(got[k][0], std::exp(y0 - m) / total);
        EXPECT_EQ(got[k][1], std::exp(y1 - m) / total);
        EXPECT_NEAR(got[k][0] + got[k][1], 1.0, 1e-15);
    }
}

TEST(BLSTMStep, OneOutputIsTheTableValueNotTheExactLogistic) {
    // y = 0.0004 rounds to the table's middle entry: exactly 0.5.
    const auto got = runTiny(FWD, BWD, {0.0, 0.0}, {0.0004}, {1.0});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][0], 0.5);
    EXPECT_NE(got[0][0], 1.0 / (1.0 + std::exp(-0.0004)));
}

TEST(BLSTMStep, InputThatIsNotANumberGivesAnOutputThatIsNotANumber) {
    const double nan = std::nan("");
    const auto got = runTiny(FWD, BWD, {1.0, 1.0}, {0.0}, {0.5, nan});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(std::isnan(got[0][0]));  // the backward layer carries it back
    EXPECT_TRUE(std::isnan(got[1][0]));
}

}  // namespace
}  // namespace tarvik
