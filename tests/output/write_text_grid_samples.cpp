// Writes every sample TextGrid into the directory given as the argument, and
// there a manifest.tsv of one line per file for the reader check: path, tier
// count, end time and interval counts, separated by tabs.
#include <cstdio>
#include <string>

#include "tests/output/text_grid_samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    std::FILE* manifest = std::fopen((std::string(argv[1]) + "/manifest.tsv").c_str(), "w");
    if (manifest == nullptr) return 1;
    tarvik::output_test::initMapsOnce();
    for (const auto& sample : tarvik::output_test::textGridSamples()) {
        const std::string path = std::string(argv[1]) + "/" + sample.file_name;
        if (!tarvik::output_test::writeSample(sample, path)) return 1;
        std::fprintf(manifest, "%s\t%d\t%s\t%s\n", path.c_str(), sample.tiers,
                     sample.end_time.c_str(), sample.interval_counts.c_str());
    }
    std::fprintf(manifest, "%s\t1\t7.9975\t13\n", TARVIK_TEST_DATA "/golden/speech.TextGrid");
    return std::fclose(manifest) == 0 ? 0 : 1;
}
