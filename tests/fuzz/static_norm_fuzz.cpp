// FeatureNormalizer::loadStaticNormalization on a "media.norm" text; values it accepts are used.
#include <vector>

#include "decision/feature_normalizer.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    const std::string path = fuzz::writeInput("media.norm", data, size);
    FeatureNormalizer normalizer(39, 4);
    if (!normalizer.loadStaticNormalization(path)) return 0;
    normalizer.reset();
    std::vector<double> frame(39, 1.0);
    normalizer.update(frame.data());
    normalizer.normalize(frame.data());
    return 0;
}
