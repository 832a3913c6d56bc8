#include "network/activation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "network/blstm.h"

namespace tarvik {
namespace {

// Entry i as the tables define it.
double sigmoidAt(int i) {
    return 1.0 / (std::exp(-(0.001 * static_cast<double>(i) - 709.0)) + 1.0);
}
double squashAt(int i) {
    return 4.0 / (std::exp(-(0.001 * static_cast<double>(i) - 709.0)) + 1.0) - 2.0;
}

TEST(ActivationTables, EntriesAreTheLogisticAndSquashingFunctionsOnTheGrid) {
    BLSTM net(0);
    ASSERT_TRUE(activationTablesReady());
    // Both ends, the middle, and the edges of chunks, the last (shorter) chunk included.
    const int last_chunk = (ACT_TABLE_CHUNKS - 1) * ACT_TABLE_CHUNK;
    for (int i : {0, 1, ACT_TABLE_CHUNK - 1, ACT_TABLE_CHUNK, ACT_TABLE_CHUNK + 1, 123457, 709000,
                  709001, last_chunk - 1, last_chunk, 1417999, 1418000}) {
        EXPECT_EQ(sigmoidEntry(i), sigmoidAt(i)) << i;
        EXPECT_EQ(squashEntry(i), squashAt(i)) << i;
    }
    EXPECT_EQ(sigmoidEntry(709000), 0.5);
    EXPECT_EQ(squashEntry(709000), 0.0);
}

TEST(ActivationTables, FirstReadFillsItsWholeChunkAndNoOther) {
    // Chunk 300 is read by no other test: every entry of it, at both of its edges too, comes out
    // as defined once any one entry of it has been read, and its neighbours stay unfilled.
    const int chunk = 300;
    ASSERT_FALSE(activationChunkFilled(chunk));
    ASSERT_FALSE(activationChunkFilled(chunk - 1));
    ASSERT_FALSE(activationChunkFilled(chunk + 1));
    const int first = chunk * ACT_TABLE_CHUNK;
    EXPECT_EQ(sigmoidEntry(first + 17), sigmoidAt(first + 17));
    EXPECT_TRUE(activationChunkFilled(chunk));
    EXPECT_FALSE(activationChunkFilled(chunk - 1));
    EXPECT_FALSE(activationChunkFilled(chunk + 1));
    for (int i = first; i < first + ACT_TABLE_CHUNK; ++i) {
        ASSERT_EQ(sigmoidEntry(i), sigmoidAt(i)) << i;
        ASSERT_EQ(squashEntry(i), squashAt(i)) << i;
    }
    EXPECT_FALSE(activationChunkFilled(chunk + 1));
}

TEST(ActivationTables, SecondNetworkLeavesTheTablesAsTheyAre) {
    BLSTM first(0);
    const double before = sigmoidEntry(1000);
    BLSTM second(0);
    BLSTM::initActivationTables();
    EXPECT_EQ(sigmoidEntry(1000), before);
    EXPECT_EQ(sigmoidEntry(1000), sigmoidAt(1000));
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
        EXPECT_EQ(lookupSigmoid(c.x), sigmoidAt(c.index)) << c.x;
        EXPECT_EQ(lookupSquash(c.x), squashAt(c.index)) << c.x;
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
