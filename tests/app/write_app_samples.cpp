// Runs tarvik on every sample recording and writes the manifest of their TextGrids for the
// reader check (see writeManifest).
#include "tests/app/process_samples.h"
#include "tests/support/files.h"

int main(int argc, char** argv) {
    using namespace tarvik::app_test;
    const std::vector<RecordingSample>& samples = recordingSamples();
    return writeManifest(argc, argv, samples.size(), [&](std::size_t i, const auto& dir) {
        const RecordingSample& sample = samples[i];
        tarvik::test_support::writeBytes(dir / "in.wav", sample.bytes);
        return ManifestRun{sample.name, runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid"),
                           "out.TextGrid", sample.xmax, sample.intervals};
    });
}
