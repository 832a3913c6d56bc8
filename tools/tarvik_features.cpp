// tarvik_features [--raw] <input.wav> <output | ->
// Writes the 39-value feature frames of a recording exactly as the command line computes them.
// Text (default): one line per frame, the frame index and the values, tab-separated, in
// round-trip precision. --raw: the values only, frame after frame, as native little-endian
// doubles (frames x 39), for fast reading by the training pipeline. The output is checked and
// written as tarvik's TextGrid is (the input, a model file or a recording is refused; a file is
// replaced only once whole). Console lines go to standard error. Exit status as tarvik's: 0 on
// success, 1 when the output is refused, the recording cannot be loaded or the output not
// written, 2 on wrong usage.
#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/chain.h"
#include "frontend/signal.h"
#include "output/replacing_file.h"

namespace {

void writeFeatures(tarvik::Signal& signal, tarvik::ReplacingFile& out, bool raw) {
    tarvik::FeatureChain chain;
    const int dim = chain.last.getDim();
    long index = 0;
    tarvik::driveChain(signal, chain.last, [&](double* frame) {
        if (raw) {
            out.write(frame, sizeof(double) * static_cast<std::size_t>(dim));
            return;
        }
        char text[32];
        out.write(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%ld", index++)));
        for (int v = 0; v < dim; ++v) {
            const int length = std::snprintf(text, sizeof text, "\t%.17g", frame[v]);
            out.write(text, static_cast<std::size_t>(length));
        }
        out.write("\n", 1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    keepStandardStreamsOpen();
    setConsoleStream(stderr);
    const bool raw = argc > 1 && std::string(argv[1]) == "--raw";
    if (argc != (raw ? 4 : 3)) {
        printLine("usage: tarvik_features [--raw] <input.wav> <output | ->");
        return STATUS_USAGE;
    }
    const std::string input = argv[raw ? 2 : 1];
    const std::string output = argv[raw ? 3 : 2];

    ReplacingFile out;
    if (!openDataOutput(out, output, input)) return STATUS_FAILURE;
    Signal signal;
    if (!loadRecording(signal, input)) return STATUS_FAILURE;
    writeFeatures(signal, out, raw);
    return commitDataOutput(out, output, input) ? 0 : STATUS_FAILURE;
}
