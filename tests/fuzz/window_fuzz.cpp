// FeatureNormalizer::loadDynamicNormalization on a window file, for 39 values per frame and a
// window of 4 frames (the reader takes the window length from the normaliser, not the file); a
// window it accepts is slid on and saved back.
#include <vector>

#include "decision/feature_normalizer.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    const std::string path = fuzz::writeInput("window.bin", data, size);
    FeatureNormalizer normalizer(39, 4);
    normalizer.reset();
    if (!normalizer.loadDynamicNormalization(path)) return 0;
    std::vector<double> frame(39, 0.5);
    for (int k = 0; k < 5; ++k) normalizer.update(frame.data());
    normalizer.saveDynamicNormalization(fuzz::scratchDir() + "saved.bin");
    return 0;
}
