// The command-line chain over the golden recording reproduces its feature frames bit for bit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frontend/chain.h"
#include "frontend/signal.h"
#include "tests/support/wav_fixture.h"

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

    FeatureChain chain;
    Signal signal;
    ASSERT_EQ(signal.loadFile(GOLDEN + "speech.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);

    std::size_t index = 0;
    int mismatches = 0;
    driveChain(signal, chain.last, [&](double* frame) {
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

int runTool(const std::string& arguments) {
    const std::string command = std::string(TARVIK_FEATURES_TOOL) + " " + arguments;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GoldenTest, FeatureToolWritesTheSameFrames) {
    const auto expected = readFeatures(GOLDEN + "features.tsv");
    ASSERT_EQ(runTool(GOLDEN + "speech.wav features_file.tsv"), 0);
    ASSERT_EQ(runTool(GOLDEN + "speech.wav - > features_stdout.tsv"), 0);
    for (const char* path : {"features_file.tsv", "features_stdout.tsv"}) {
        EXPECT_EQ(readFeatures(path), expected) << path;
    }
}

TEST(GoldenTest, FeatureToolWritesRawDoubles) {
    const auto expected = readFeatures(GOLDEN + "features.tsv");
    ASSERT_EQ(runTool("--raw " + GOLDEN + "speech.wav features.f64"), 0);
    std::ifstream file("features.f64", std::ios::binary);
    std::vector<double> values(expected.size() * 39 + 1);
    file.read(reinterpret_cast<char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(double)));
    ASSERT_EQ(file.gcount(), static_cast<std::streamsize>(expected.size() * 39 * sizeof(double)));
    for (std::size_t frame = 0; frame < expected.size(); ++frame) {
        for (std::size_t v = 0; v < 39; ++v) {
            ASSERT_EQ(values[frame * 39 + v], expected[frame][v + 1]) << frame << " " << v;
        }
    }
}

TEST(GoldenTest, FeatureToolFailures) {
    EXPECT_EQ(runTool("2> usage.txt"), 2);
    EXPECT_EQ(runTool("a b c 2> usage.txt"), 2);
    EXPECT_EQ(runTool("--raw a 2> usage.txt"), 2);
    EXPECT_EQ(runTool("--raw missing.wav out.f64 2> error.txt"), 1);
    EXPECT_EQ(runTool("missing.wav out.tsv 2> error.txt"), 1);
    EXPECT_EQ(test_support::readFile("error.txt"),
              "ERROR: missing.wav: No such file or directory\nERROR: cannot load: missing.wav\n");
    test_support::writeBytes("stereo.wav", test_support::wavHeader({1, 2, 44100, 16}, 0));
    EXPECT_EQ(runTool("stereo.wav out.tsv 2> error.txt"), 1);
    EXPECT_EQ(
        test_support::readFile("error.txt"),
        "ERROR: stereo.wav: not 16 kHz mono 16-bit PCM: stereo, 44100 Hz\nERROR: cannot load: "
        "stereo.wav\n");
    EXPECT_EQ(runTool(GOLDEN + "speech.wav no/such/dir/out.tsv 2> error.txt"), 1);
    EXPECT_EQ(test_support::readFile("error.txt"),
              "ERROR: no/such/dir/out.tsv: No such file or directory\nERROR: cannot create: "
              "no/such/dir/out.tsv\n");
}

}  // namespace
}  // namespace tarvik
