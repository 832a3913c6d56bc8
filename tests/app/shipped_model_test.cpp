// The shipped model pair on the shipped sample: tarvik marks speech where the sample's reference
// says speech, frame by frame, and does not get there by marking everything speech. (The pair
// holds back on doubtful frames to keep false alarms in real noise down: about 90 % of all frames
// agree, 79 % of the speech frames are found.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frontend/textgrid_reader.h"
#include "tests/app/process_samples.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const fs::path MODELS = TARVIK_MODELS;

// Frame j of the TextGrid is the interval around 10 j + 2 ms (its boundaries lie at 10 j + 7.5).
std::vector<int> framesOf(const TextGridIntervals& tier, std::size_t frames) {
    std::vector<int> speech(frames, 0);
    std::size_t k = 0;
    for (std::size_t j = 0; j < frames; ++j) {
        const int t = static_cast<int>(10 * j + 2);
        while (k < tier.ends.size() && tier.ends[k] <= t) ++k;
        if (k < tier.labels.size() && tier.starts[k] <= t) speech[j] = tier.labels[k] == "spc";
    }
    return speech;
}

TEST(ShippedModel, SampleAgreesWithItsReference) {
    const fs::path dir = fs::current_path() / "shipped_model";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {"media.am", "media.norm", "sample.wav"})
        fs::copy_file(MODELS / name, dir / name);
    const app_test::ProcessRun run =
        app_test::runProcess(dir, TARVIK_BINARY, "sample.wav out.TextGrid");
    ASSERT_EQ(run.status, 0) << run.output;

    TextGridIntervals tier;
    ASSERT_EQ(readTextGridIntervals((dir / "out.TextGrid").string(), tier), TextGridRead::OK);
    std::vector<int> reference;
    std::ifstream in(MODELS / "sample.ref.tsv");
    for (int label = 0; in >> label;) reference.push_back(label);
    ASSERT_GT(reference.size(), 0u);
    const std::vector<int> decided = framesOf(tier, reference.size());

    std::size_t agree = 0;
    std::size_t speech = 0;
    std::size_t found = 0;
    for (std::size_t j = 0; j < reference.size(); ++j) {
        agree += decided[j] == reference[j];
        speech += reference[j] == 1;
        found += reference[j] == 1 && decided[j] == 1;
    }
    ASSERT_GT(speech, 0u);
    EXPECT_GE(static_cast<double>(agree) / static_cast<double>(reference.size()), 0.9)
        << agree << " of " << reference.size() << " frames agree";
    // The speech share is under half the sample: agreement alone would let silence pass.
    EXPECT_GE(static_cast<double>(found) / static_cast<double>(speech), 0.75)
        << found << " of " << speech << " speech frames marked speech";
}

}  // namespace
}  // namespace tarvik
