// The golden model on the golden frames. The frames.tsv posteriors come from the whole decider,
// whose normaliser moves away from media.norm once frames judged speech come back; the frames
// pushed before the first such frame are normalised with media.norm alone, so the blocks that
// end before it can be reproduced here bit for bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "network/blstm.h"

namespace tarvik {
namespace {

const std::string GOLDEN = TARVIK_TEST_DATA "/golden/";

// Rows of a tab-separated file after its header line, each split into fields.
std::vector<std::vector<std::string>> readTable(const std::string& path, bool header) {
    std::ifstream file(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    if (header) std::getline(file, line);
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string field; std::getline(fields, field, '\t');) row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

TEST(GoldenRun, PosteriorsBeforeTheNormaliserMovesAreReproduced) {
    std::ifstream norm(GOLDEN + "media.norm");
    int features = 0;
    norm >> features;
    ASSERT_EQ(features, 39);
    std::vector<double> means(39), stddevs(39);
    for (double& m : means) norm >> m;
    for (double& s : stddevs) norm >> s;
    ASSERT_TRUE(norm);

    const auto frames = readTable(GOLDEN + "features.tsv", false);
    const auto posts = readTable(GOLDEN + "frames.tsv", true);
    ASSERT_EQ(frames.size(), posts.size());
    size_t first_speech = 0;
    while (first_speech < posts.size() && posts[first_speech][2] != "1") ++first_speech;
    // Block b (frames 20b .. 20b + 19) is answered from the frames up to 20b + 39.
    const size_t reproducible = (first_speech + 1) / 20 * 20 - 20;
    ASSERT_GE(reproducible, 20u);

    BLSTM net(0);
    net.setBuffering(20, 20);
    ASSERT_TRUE(net.load(GOLDEN + "media.am"));
    net.reset();
    std::vector<double> got;
    auto drain = [&] {
        net.processBuffer();
        while (net.getOutput()) got.push_back(net.getOutputFrame()[0]);
    };
    for (const auto& row : frames) {
        ASSERT_EQ(row.size(), 40u);
        std::vector<double> x(39);
        for (int i = 0; i < 39; ++i)
            x[i] = (std::strtod(row[i + 1].c_str(), nullptr) - means[i]) / stddevs[i];
        if (!net.addFrame(x.data())) drain();
    }
    drain();
    ASSERT_EQ(got.size(), posts.size());
    for (size_t k = 0; k < reproducible; ++k) {
        EXPECT_EQ(got[k], std::strtod(posts[k][1].c_str(), nullptr)) << "frame " << k;
    }
}

}  // namespace
}  // namespace tarvik
