// tarvik_frames: runs the command-line road over a recording and writes, per
// frame handed back, its index, speech_post (round-trip precision), is_speech
// and kept, tab-separated, after a header line (the layout of the golden frames.tsv). Reads
// media.am and media.norm from the working directory, as tarvik does. Usage: tarvik_frames
// [--network-input inputs.f64] input.wav output.tsv ("-" for standard output). With
// --network-input it also writes every frame as the network was fed it (normalised by the
// adaptive normaliser), 39 native little-endian doubles per frame. Exit status: 0 on success,
// 1 on a load or write failure, 2 on wrong usage.
#include <charconv>
#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/signal.h"

namespace {

std::FILE* out = nullptr;
std::FILE* inputs_out = nullptr;
long frame_index = 0;

// speech_post in the shortest text that reads back as the same double.
void writeFrame(double speech_post, bool is_speech, bool kept) {
    char post[32];
    const auto end = std::to_chars(post, post + sizeof post, speech_post).ptr;
    std::fprintf(out, "%ld\t%.*s\t%d\t%d\n", frame_index++, static_cast<int>(end - post), post,
                 is_speech ? 1 : 0, kept ? 1 : 0);
}

void writeInput(const double* normalised) {
    std::fwrite(normalised, sizeof(double), tarvik::kFeaturesNum, inputs_out);
}

// Flushes and closes `file` (unless it is standard output); false when anything failed.
bool finish(std::FILE* file) {
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    if (file != stdout) std::fclose(file);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    const bool with_inputs = argc > 1 && std::string(argv[1]) == "--network-input";
    const int first = with_inputs ? 3 : 1;
    if (argc != first + 2) {
        printLine("usage: tarvik_frames [--network-input inputs.f64] input.wav output.tsv");
        return 2;
    }
    const std::string input_path = argv[first];
    const std::string output_path = argv[first + 1];
    if (!startPipeline()) return 1;

    FeatureChain chain;
    Signal signal;
    if (signal.loadFile(input_path, "", true) < 0) {
        printLine("ERROR: cannot load: " + input_path);
        return 1;
    }
    signal.setFrame(25, 0.6);
    if (with_inputs) {
        inputs_out = std::fopen(argv[2], "wb");
        if (inputs_out == nullptr) {
            printLine("ERROR: cannot create: " + std::string(argv[2]));
            return 1;
        }
        input_observer = writeInput;
    }
    out = output_path == "-" ? stdout : std::fopen(output_path.c_str(), "w");
    if (out == nullptr) {
        printLine("ERROR: cannot create: " + output_path);
        return 1;
    }
    std::fprintf(out, "index\tspeech_post\tis_speech\tkept\n");
    frame_observer = writeFrame;
    runFrameLoop(signal, chain.last);
    bool written = finish(out);
    if (!written) printLine("ERROR: cannot write: " + output_path);
    if (inputs_out != nullptr && !finish(inputs_out)) {
        printLine("ERROR: cannot write: " + std::string(argv[2]));
        written = false;
    }
    releasePipeline();
    return written ? 0 : 1;
}
