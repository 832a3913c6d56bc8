// Writes every sample TextGrid into the directory given as the argument and
// prints one line per file for the reader check: path, tier count, end time
// and interval counts, separated by tabs.
#include <cstdio>
#include <string>

#include "tests/output/text_grid_samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    tarvik::output_test::initMapsOnce();
    for (const auto& sample : tarvik::output_test::textGridSamples()) {
        const std::string path = std::string(argv[1]) + "/" + sample.file_name;
        if (!tarvik::output_test::writeSample(sample, path)) return 1;
        std::printf("%s\t%d\t%s\t%s\n", path.c_str(), sample.tiers, sample.end_time.c_str(),
                    sample.interval_counts.c_str());
    }
    std::printf("%s\t1\t7.9975\t13\n", TARVIK_TEST_DATA "/golden/speech.TextGrid");
    return 0;
}
