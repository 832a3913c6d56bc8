// Runs tarvik for every golden run of the file samples and writes the manifest of their
// TextGrids for the reader check (see writeManifest).
#include "tests/app/file_samples.h"

int main(int argc, char** argv) {
    using namespace tarvik::app_test;
    const std::vector<GoldenRun>& runs = goldenRuns();
    return writeManifest(argc, argv, runs.size(), [&](std::size_t i, const auto& dir) {
        const GoldenRun& run = runs[i];
        run.prepare(dir);
        // The golden TextGrid: 8 s of speech in 13 intervals.
        return ManifestRun{run.name, runGolden(dir, run), run.written, "7.9975", 13};
    });
}
