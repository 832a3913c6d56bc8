// Runs a fuzz target once over each file given, or over each file of each directory given (in
// name order), without libFuzzer: the seed corpora and the inputs of past findings stay tests of
// the ordinary builds.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"

namespace {

std::vector<std::filesystem::path> inputsOf(const std::filesystem::path& arg) {
    if (!std::filesystem::is_directory(arg)) return {arg};
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& path : inputsOf(argv[i])) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
