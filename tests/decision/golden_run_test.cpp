// The raw frames of the golden recording through the normaliser and the decider, driven as the
// command line drives them: every handed-back frame must match the golden run bit for bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "decision/feature_normalizer.h"
#include "decision/speech_decider.h"
#include "tests/decision/popped_frames.h"

namespace tarvik {
namespace {

constexpr int FEATURES_NUM = 39;
const std::string GOLDEN = TARVIK_TEST_DATA "/golden/";

// The tab-separated rows of `path`, each cell parsed with strtod; `skip` header lines.
std::vector<std::vector<double>> readTable(const std::string& path, int skip) {
    std::ifstream in(path);
    std::vector<std::vector<double>> rows;
    std::string line;
    for (int i = 0; i < skip; ++i) std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<double> row;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) row.push_back(std::strtod(cell.c_str(), nullptr));
        rows.push_back(std::move(row));
    }
    return rows;
}

TEST(GoldenRun, HandedBackFramesMatchBitForBit) {
    const auto features = readTable(GOLDEN + "features.tsv", 0);
    const auto expected = readTable(GOLDEN + "frames.tsv", 1);
    ASSERT_EQ(features.size(), 800u);
    ASSERT_EQ(expected.size(), 800u);

    FeatureNormalizer normalizer(FEATURES_NUM, FN_NORMALIZE_INTERVAL);
    ASSERT_TRUE(normalizer.loadStaticNormalization(GOLDEN + "media.norm"));
    normalizer.reset();
    SpeechDecider decider(0, FEATURES_NUM);
    decider.setMargins(50, 20);
    ASSERT_TRUE(decider.loadModel(GOLDEN + "media.am"));
    decider.setNormalization(normalizer.means.get(), normalizer.stddevs.get());
    decider.reset();

    std::vector<PoppedFrame> popped;
    const PopHandler update = [&](const double* frame, bool is_speech) {
        if (is_speech) normalizer.update(frame);
    };
    for (std::size_t k = 0; k < features.size(); ++k) {
        ASSERT_EQ(features[k].size(), FEATURES_NUM + 1u);
        ASSERT_EQ(features[k][0], static_cast<double>(k));
        const std::vector<double> frame(features[k].begin() + 1, features[k].end());
        pushAndPop(decider, frame, popped, update);
    }
    flushAndPop(decider, FEATURES_NUM, popped, update);

    ASSERT_EQ(popped.size(), expected.size());
    int mismatches = 0;
    for (std::size_t k = 0; k < popped.size() && mismatches < 10; ++k) {
        const bool kept = !popped[k].frame.empty();
        const bool same = popped[k].speech_post == expected[k][1] &&
                          popped[k].is_speech == (expected[k][2] != 0) &&
                          kept == (expected[k][3] != 0);
        if (!same) ++mismatches;
        EXPECT_TRUE(same) << std::setprecision(17) << "frame " << k << ": speech_post "
                          << popped[k].speech_post << " (expected " << expected[k][1]
                          << "), is_speech " << popped[k].is_speech << " (" << expected[k][2]
                          << "), kept " << kept << " (" << expected[k][3] << ")";
        if (kept) {
            const std::vector<double> raw(features[k].begin() + 1, features[k].end());
            EXPECT_EQ(popped[k].frame, raw) << "frame " << k;
        }
    }
}

}  // namespace
}  // namespace tarvik
