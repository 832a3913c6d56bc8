// Runs tarvik for every golden run of the file samples, each in a folder of its own inside the
// directory given as the argument, and writes there a manifest.tsv of one line per TextGrid for
// the reader check: path, tier count, end time and interval count, separated by tabs. Fails when
// a run fails.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/app/file_samples.h"

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
    for (const GoldenRun& run : goldenRuns()) {
        const fs::path dir = root / std::to_string(++number);
        prepareWorkDir(dir);
        run.prepare(dir);
        const ProcessRun result = runGolden(dir, run);
        if (result.status != 0) {
            std::fprintf(stderr, "%s: exit status %d\n%s", run.name, result.status,
                         result.output.c_str());
            return 1;
        }
        // The golden TextGrid: 8 s of speech in 13 intervals.
        std::fprintf(manifest, "%s\t1\t7.9975\t13\n", (dir / run.written).c_str());
    }
    return std::fclose(manifest) == 0 ? 0 : 1;
}
