// BLSTM::loadText on a model in text form; a model it accepts is streamed over a few blocks.
#include "network/blstm.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stream_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = tarvik::fuzz::writeInput("media.am.txt", data, size);
    tarvik::BLSTM net(0);
    net.setBuffering(20, 20);
    if (net.loadText(path)) tarvik::fuzz::streamModel(net);
    return 0;
}
