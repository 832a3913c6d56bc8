// tarvik_features [--raw] <input.wav> <output | ->
// Writes the 39-value feature frames of a recording exactly as the command line computes them.
// Text (default): one line per frame, the frame index and the values, tab-separated, in
// round-trip precision. --raw: the values only, frame after frame, as native little-endian
// doubles (frames x 39), for fast reading by the training pipeline. Console lines go to standard
// error. Exit status as tarvik's: 0 on success, 1 when the recording cannot be loaded or the
// output not written, 2 on wrong usage.
#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/chain.h"
#include "frontend/signal.h"

namespace {

int writeFeatures(tarvik::Signal& signal, std::FILE* out, bool raw) {
    tarvik::FeatureChain chain;
    const int dim = chain.last.getDim();
    long index = 0;
    tarvik::driveChain(signal, chain.last, [&](double* frame) {
        if (raw) {
            std::fwrite(frame, sizeof(double), static_cast<std::size_t>(dim), out);
            return;
        }
        std::fprintf(out, "%ld", index++);
        for (int v = 0; v < dim; ++v) std::fprintf(out, "\t%.17g", frame[v]);
        std::fputc('\n', out);
    });
    return std::ferror(out) ? tarvik::STATUS_FAILURE : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    setConsoleStream(stderr);
    const bool raw = argc > 1 && std::string(argv[1]) == "--raw";
    if (argc != (raw ? 4 : 3)) {
        printLine("usage: tarvik_features [--raw] <input.wav> <output | ->");
        return STATUS_USAGE;
    }
    const std::string input = argv[raw ? 2 : 1];
    const std::string output = argv[raw ? 3 : 2];

    Signal signal;
    if (!loadRecording(signal, input)) return STATUS_FAILURE;

    const bool to_stdout = output == "-";
    std::FILE* out = to_stdout ? stdout : std::fopen(output.c_str(), raw ? "wb" : "w");
    if (out == nullptr) {
        printLine("ERROR: cannot create: " + output);
        return STATUS_FAILURE;
    }
    int status = writeFeatures(signal, out, raw);
    if ((to_stdout ? std::fflush(out) : std::fclose(out)) != 0) status = STATUS_FAILURE;
    if (status != 0) printLine("ERROR: cannot write: " + output);
    return status;
}
