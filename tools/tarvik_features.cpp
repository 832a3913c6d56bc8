// tarvik_features [--raw] <input.wav> <output | ->
// Writes the 39-value feature frames of a recording exactly as the command line computes them.
// Text (default): one line per frame, the frame index and the values, tab-separated, in
// round-trip precision. --raw: the values only, frame after frame, as native little-endian
// doubles (frames x 39), for fast reading by the training pipeline.
// Exit status: 0 on success, 1 when the recording cannot be loaded or the output not written,
// 2 on wrong usage.
#include <cstdio>
#include <string>

#include "frontend/chain.h"
#include "frontend/delta.h"
#include "frontend/feat.h"
#include "frontend/signal.h"

namespace {

int writeFeatures(tarvik::Signal& signal, std::FILE* out, bool raw) {
    tarvik::Feat feat(1);
    tarvik::Delta delta1(&feat, 13, 0, 13, 1);
    tarvik::Delta delta2(&delta1, 26, 13, 13, 1);
    const int dim = delta2.getDim();
    long index = 0;
    tarvik::driveChain(signal, delta2, [&](double* frame) {
        if (raw) {
            std::fwrite(frame, sizeof(double), static_cast<std::size_t>(dim), out);
            return;
        }
        std::fprintf(out, "%ld", index++);
        for (int v = 0; v < dim; ++v) std::fprintf(out, "\t%.17g", frame[v]);
        std::fputc('\n', out);
    });
    return std::ferror(out) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool raw = argc > 1 && std::string(argv[1]) == "--raw";
    if (argc != (raw ? 4 : 3)) {
        std::fprintf(stderr, "usage: tarvik_features [--raw] <input.wav> <output | ->\n");
        return 2;
    }
    const std::string input = argv[raw ? 2 : 1];
    const std::string output = argv[raw ? 3 : 2];

    tarvik::Signal signal;
    const int result = signal.loadFile(input, "", true);
    if (result < 0) {
        std::fprintf(stderr, "ERROR: cannot load: %s (%s)\n", input.c_str(),
                     tarvik::Signal::loadResultText(result));
        return 1;
    }
    signal.setFrame(25, 0.6);

    const bool to_stdout = output == "-";
    std::FILE* out = to_stdout ? stdout : std::fopen(output.c_str(), raw ? "wb" : "w");
    if (out == nullptr) {
        std::fprintf(stderr, "ERROR: cannot write: %s\n", output.c_str());
        return 1;
    }
    int status = writeFeatures(signal, out, raw);
    if ((to_stdout ? std::fflush(out) : std::fclose(out)) != 0) status = 1;
    if (status != 0) std::fprintf(stderr, "ERROR: cannot write: %s\n", output.c_str());
    return status;
}
