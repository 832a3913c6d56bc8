#include "network/activation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(ActivationTables, EveryEntryIsTheLogisticAndSquashingFunctionOnTheGrid) {
    BLSTM net(0);
    ASSERT_TRUE(activationTablesReady());
    // Every entry, to the last bit, whether it comes from a constant range, on demand or from a
    // filled chunk: first each entry once (on demand), then enough times for every chunk to be
    // filled, then again from the filled chunks.
    for (int i = 0; i < ACT_TABLE_SIZE; ++i) {
        ASSERT_EQ(bits(sigmoidEntry(i)), bits(sigmoidAt(i))) << i;
        ASSERT_EQ(bits(squashEntry(i)), bits(squashAt(i))) << i;
    }
    for (int chunk = 0; chunk < ACT_TABLE_CHUNKS; ++chunk) {
        const int first = chunk * ACT_TABLE_CHUNK;
        const int end = std::min(first + ACT_TABLE_CHUNK, ACT_TABLE_SIZE);
        // Filled unless all of it lies in a constant range, whose entries are never counted.
        const bool sigmoid_constant = first >= ACT_CONSTANT_FROM;
        const bool squash_constant = sigmoid_constant || end - 1 <= ACT_SQUASH_CONSTANT_TO;
        for (int round = 0; round < ACT_CHUNK_FILL_AFTER; ++round) {
            if ((sigmoid_constant || activationChunkFilled(Activation::sigmoid, chunk)) &&
                (squash_constant || activationChunkFilled(Activation::squash, chunk))) {
                break;
            }
            for (int i = first; i < end; ++i) sigmoidEntry(i), squashEntry(i);
        }
        EXPECT_EQ(activationChunkFilled(Activation::sigmoid, chunk), !sigmoid_constant) << chunk;
        EXPECT_EQ(activationChunkFilled(Activation::squash, chunk), !squash_constant) << chunk;
    }
    for (int i = 0; i < ACT_TABLE_SIZE; ++i) {
        ASSERT_EQ(bits(sigmoidEntry(i)), bits(sigmoidAt(i))) << i;
        ASSERT_EQ(bits(squashEntry(i)), bits(squashAt(i))) << i;
    }
    EXPECT_EQ(sigmoidEntry(709000), 0.5);
    EXPECT_EQ(squashEntry(709000), 0.0);
}

TEST(ActivationTables, ConstantRangesHoldTheirValuesToTheLastBit) {
    for (int i = ACT_CONSTANT_FROM; i < ACT_TABLE_SIZE; ++i) {
        ASSERT_EQ(sigmoidAt(i), 1.0) << i;
        ASSERT_EQ(squashAt(i), 2.0) << i;
    }
    for (int i = 0; i <= ACT_SQUASH_CONSTANT_TO; ++i) ASSERT_EQ(squashAt(i), -2.0) << i;
    // Just inside them the values still differ: the ranges are not far from where they begin.
    EXPECT_NE(squashAt(ACT_SQUASH_CONSTANT_TO + 3000), -2.0);
    EXPECT_NE(squashAt(ACT_CONSTANT_FROM - 5000), 2.0);
    EXPECT_NE(sigmoidAt(ACT_SQUASH_CONSTANT_TO), sigmoidAt(ACT_SQUASH_CONSTANT_TO - 1));
}

TEST(ActivationTables, AChunkIsFilledAfterItsEntriesWereComputedOftenEnough) {
    // Chunk 300 is read by no other part of this test: it is computed on demand, untouched in
    // table memory, until its entries were asked for ACT_CHUNK_FILL_AFTER times; then it alone
    // is filled, in that table alone.
    const int chunk = 300;
    const int first = chunk * ACT_TABLE_CHUNK;
    for (int k = 0; k + 1 < ACT_CHUNK_FILL_AFTER; ++k) {
        ASSERT_EQ(sigmoidEntry(first + k % ACT_TABLE_CHUNK),
                  sigmoidAt(first + k % ACT_TABLE_CHUNK));
    }
    EXPECT_FALSE(activationChunkFilled(Activation::sigmoid, chunk));
    EXPECT_EQ(detail::sigmoid_table.entries[first + 17], 0.0);
    EXPECT_EQ(sigmoidEntry(first + 17), sigmoidAt(first + 17));
    EXPECT_TRUE(activationChunkFilled(Activation::sigmoid, chunk));
    EXPECT_FALSE(activationChunkFilled(Activation::squash, chunk));
    EXPECT_FALSE(activationChunkFilled(Activation::sigmoid, chunk - 1));
    EXPECT_FALSE(activationChunkFilled(Activation::sigmoid, chunk + 1));
    for (int i = first; i < first + ACT_TABLE_CHUNK; ++i) {
        ASSERT_EQ(detail::sigmoid_table.entries[i], sigmoidAt(i)) << i;
    }
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
