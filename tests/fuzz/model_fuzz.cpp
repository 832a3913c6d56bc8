// BLSTM::load on a binary model file; a model it accepts is streamed over a few blocks of frames.
#include "network/blstm.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stream_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = tarvik::fuzz::writeInput("media.am", data, size);
    tarvik::BLSTM net(0);
    net.setBuffering(20, 20);
    if (net.load(path)) tarvik::fuzz::streamModel(net);
    return 0;
}
