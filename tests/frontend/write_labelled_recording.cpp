// Writes a recording of 2.3 s into the directory given as the argument, and there a manifest.tsv
// whose one line is the path of the TextGrid that Praat is to save beside it.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/wav_fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    tarvik::test_support::writeWav(dir + "/labelled.wav", std::vector<int16_t>(36800, 0));
    std::FILE* manifest = std::fopen((dir + "/manifest.tsv").c_str(), "w");
    if (manifest == nullptr) return 1;
    std::fprintf(manifest, "%s/labelled.TextGrid\n", dir.c_str());
    return std::fclose(manifest) == 0 ? 0 : 1;
}
