#include "network/activation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "network/blstm.h"

namespace tarvik {
namespace {

TEST(ActivationTables, EntriesAreTheLogisticAndSquashingFunctionsOnTheGrid) {
    BLSTM net(0);
    ASSERT_TRUE(activationTablesReady());
    for (int i : {0, 1, 123457, 709000, 709001, 1417999, 1418000}) {
        double x = 0.001 * static_cast<double>(i) - 709.0;
        double e = std::exp(-x);
        EXPECT_EQ(sigmoidTable()[i], 1.0 / (e + 1.0)) << i;
        EXPECT_EQ(squashTable()[i], 4.0 / (e + 1.0) - 2.0) << i;
    }
    EXPECT_EQ(sigmoidTable()[709000], 0.5);
    EXPECT_EQ(squashTable()[709000], 0.0);
}

TEST(ActivationTables, SecondNetworkLeavesTheTablesAsTheyAre) {
    BLSTM first(0);
    const double* table = sigmoidTable();
    const double before = table[1000];
    BLSTM second(0);
    BLSTM::initActivationTables();
    EXPECT_EQ(sigmoidTable(), table);
    EXPECT_EQ(sigmoidTable()[1000], before);
}

TEST(ActivationTables, IndexClampsAndRoundsToTheNearestEntry) {
    BLSTM net(0);
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double x;
        int index;
    } cases[] = {
        {1000.0, 1418000}, {-1000.0, 0},        {709.0, 1418000}, {-709.0, 0},
        {inf, 1418000},    {-inf, 0},           {0.0, 709000},    {0.0004, 709000},
        {0.0006, 709001},  {-0.0006, 708999},   {1.2344, 710234}, {1.2346, 710235},
        {-708.9996, 0},    {708.9996, 1418000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(activationIndex(c.x), c.index) << c.x;
        EXPECT_EQ(lookupSigmoid(c.x), sigmoidTable()[c.index]) << c.x;
        EXPECT_EQ(lookupSquash(c.x), squashTable()[c.index]) << c.x;
    }
}

TEST(ActivationTables, NotANumberGivesNotANumberWithoutATableRead) {
    BLSTM net(0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(lookupSigmoid(nan)));
    EXPECT_TRUE(std::isnan(lookupSquash(-nan)));
}

TEST(AddWeightedInputs, AddsEachRowsFinishedSumToItsUnit) {
    // Unit 0 gets 1 + (1e-16 + 1e-16): the row's sum is formed first, then added; adding the
    // products one by one would leave 1.0.
    double units[2] = {1.0, -2.0};
    const double weights[] = {1e-16, 1e-16, 3.0, -1.0, 99.0};
    const double in[] = {1.0, 1.0};
    const double* next = BLSTM::addWeightedInputs(units, units + 2, weights, in, in + 2);
    EXPECT_EQ(next, weights + 4);
    EXPECT_EQ(units[0], 1.0 + 2e-16);
    EXPECT_NE(units[0], 1.0);
    EXPECT_EQ(units[1], -2.0 + 2.0);
}

}  // namespace
}  // namespace tarvik
