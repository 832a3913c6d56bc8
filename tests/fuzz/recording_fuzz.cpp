// The recording loader, then the command line's whole pipeline on what it loaded: features,
// normaliser, network, decider and TextGrid, with the golden model pair.
#include <unistd.h>

#include <cstdlib>

#include "app/driver.h"
#include "app/settings.h"
#include "frontend/chain.h"
#include "frontend/signal.h"
#include "output/label_table.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// 2 s of samples after the header: long enough for the network's blocks and the smoothing.
constexpr std::size_t MAX_INPUT_BYTES = 64 * 1024;

// The pipeline is built once, reading the model files from the working directory as the
// command line does; each input then starts from its reset state.
bool setUp() {
    if (chdir(TARVIK_TEST_DATA "/golden") != 0) std::abort();
    tarvik::write_text_grid = true;
    tarvik::initMaps();
    if (!tarvik::startPipeline()) std::abort();  // the golden model pair always loads
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    static const bool ready = setUp();
    if (!ready || size > MAX_INPUT_BYTES) return -1;
    const std::string input = fuzz::writeInput("input.wav", data, size);
    normalizer->reset();
    decider->reset();
    synchronizer->reset();
    FeatureChain chain;
    Signal signal;
    if (signal.loadFile(input, "", true) < 0) return 0;
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    runFrameLoop(signal, chain.last);
    synchronizer->buildTextGrid(fuzz::scratchDir() + "output.TextGrid", true);
    return 0;
}
