// The command-line road gives the same posteriors, to the last bit, on every instruction-set
// path as on the scalar one: the shipped model on the shipped sample, a random-weight model on
// the same sample, and the golden model on the golden recording (whose posteriors are known).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "tests/kernels/on_each_simd_path.h"
#include "tests/network/model_files.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::vector<double> posts;

void keepPost(double speech_post, bool, bool) { posts.push_back(speech_post); }

// speech_post of every frame handed back, run in `dir` (which holds the model pair).
std::vector<double> runPosteriors(const fs::path& dir, const std::string& wav) {
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    posts.clear();
    if (startPipeline()) {
        Feat feat(1);
        Delta first(&feat, 13, 0, 13, 1);
        Delta last(&first, 26, 13, 13, 1);
        Signal signal;
        if (signal.loadFile(wav, "", true) >= 0) {
            signal.setFrame(25, 0.6);
            frame_observer = keepPost;
            runFrameLoop(signal, last);
            frame_observer = nullptr;
        }
    }
    releasePipeline();
    fs::current_path(before);
    return posts;
}

fs::path scratchFolder(const std::string& name) {
    const fs::path dir = fs::current_path() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

class SimdPathsRun : public OnEachSimdPath {
  protected:
    // The posteriors of the path under test, equal to those of the scalar path.
    void expectSameAsScalar(const fs::path& dir, const std::string& wav) {
        std::vector<double> scalar;
        onScalarPath([&] { scalar = runPosteriors(dir, wav); });
        ASSERT_GT(scalar.size(), 100u);
        base = runPosteriors(dir, wav);
        EXPECT_EQ(base, scalar);
    }
    fs::path scratch(const std::string& name) const { return scratchFolder(perPath(name)); }
    std::vector<double> base;
};

TEST_P(SimdPathsRun, ShippedAndRandomModelsOnTheSample) {
    const fs::path models = TARVIK_MODELS;
    const fs::path shipped = scratch("simd_shipped");
    for (const char* name : {"media.am", "media.norm", "sample.wav"})
        fs::copy_file(models / name, shipped / name);
    expectSameAsScalar(shipped, "sample.wav");

    const fs::path random = scratch("simd_random");
    for (const char* name : {"media.norm", "sample.wav"})
        fs::copy_file(models / name, random / name);
    const BLSTMTopology topology{39, 1, 8, 4, true, 8, 4, true};
    ASSERT_TRUE(writeModelFile((random / "media.am").string(), topology,
                               randomParameters(topology, 11, 0.3)));
    expectSameAsScalar(random, "sample.wav");
}

TEST_P(SimdPathsRun, GoldenRecordingGivesTheGoldenPosteriors) {
    const fs::path golden = fs::path(TARVIK_TEST_DATA) / "golden";
    const fs::path dir = scratch("simd_golden");
    for (const char* name : {"media.am", "media.norm", "speech.wav"})
        fs::copy_file(golden / name, dir / name);
    expectSameAsScalar(dir, "speech.wav");
    std::ifstream frames(golden / "frames.tsv");
    std::string line;
    std::getline(frames, line);
    std::vector<double> expected;
    while (std::getline(frames, line)) {
        const std::size_t tab = line.find('\t');
        expected.push_back(std::strtod(line.c_str() + tab + 1, nullptr));
    }
    EXPECT_EQ(base, expected);
}

TARVIK_ON_EACH_SIMD_PATH(SimdPathsRun);

}  // namespace
}  // namespace tarvik
