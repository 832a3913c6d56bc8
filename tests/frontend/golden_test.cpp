// The command-line chain over the golden recording reproduces its feature frames bit for bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/chain.h"
#include "frontend/delta.h"
#include "frontend/feat.h"
#include "frontend/signal.h"

namespace tarvik {
namespace {

const std::string GOLDEN = std::string(TARVIK_TEST_DATA) + "/golden/";

std::vector<std::vector<double>> readFeatures(const std::string& path) {
    std::vector<std::vector<double>> rows;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::vector<double> row;
        const char* cursor = line.c_str();
        char* end = nullptr;
        for (double value = std::strtod(cursor, &end); end != cursor;
             value = std::strtod(cursor, &end)) {
            row.push_back(value);
            cursor = end;
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(GoldenTest, ChainReproducesFeatureFramesExactly) {
    const auto expected = readFeatures(GOLDEN + "features.tsv");
    ASSERT_EQ(expected.size(), 800u);

    Feat feat(1);
    Delta delta1(&feat, 13, 0, 13, 1);
    Delta delta2(&delta1, 26, 13, 13, 1);
    Signal signal;
    ASSERT_EQ(signal.loadFile(GOLDEN + "speech.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(25, 0.6);

    std::size_t index = 0;
    int mismatches = 0;
    driveChain(signal, delta2, [&](double* frame) {
        ASSERT_LT(index, expected.size());
        const auto& row = expected[index];
        ASSERT_EQ(row.size(), 40u);
        EXPECT_EQ(row[0], static_cast<double>(index));
        for (int v = 0; v < 39; ++v) {
            if (frame[v] != row[v + 1] && ++mismatches <= 10) {
                ADD_FAILURE() << "frame " << index << " value " << v << ": " << frame[v]
                              << " != " << row[v + 1];
            }
        }
        ++index;
    });
    EXPECT_EQ(index, expected.size());
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace tarvik
