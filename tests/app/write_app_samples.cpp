// Runs tarvik on every sample recording, each in a folder of its own inside
// the directory given as the argument, and writes there a manifest.tsv of one
// line per TextGrid for the reader check: path, tier count, end time and
// interval count, separated by tabs. Fails when a run fails.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/app/process_samples.h"
#include "tests/support/wav_fixture.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using namespace tarvik::app_test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    std::FILE* manifest = std::fopen((root / "manifest.tsv").c_str(), "w");
    if (manifest == nullptr) return 1;
    int number = 0;
    for (const RecordingSample& sample : recordingSamples()) {
        const fs::path dir = root / std::to_string(++number);
        prepareWorkDir(dir);
        tarvik::test_support::writeBytes((dir / "in.wav").string(), sample.bytes);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid");
        if (run.status != 0) {
            std::fprintf(stderr, "%s: exit status %d\n%s", sample.name, run.status,
                         run.output.c_str());
            return 1;
        }
        std::fprintf(manifest, "%s\t1\t%s\t%d\n", (dir / "out.TextGrid").c_str(), sample.xmax,
                     sample.intervals);
    }
    return std::fclose(manifest) == 0 ? 0 : 1;
}
