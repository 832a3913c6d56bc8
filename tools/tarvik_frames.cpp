// tarvik_frames: runs the command-line road over a recording and writes, per
// frame handed back, its index, speech_post (round-trip precision), is_speech
// and kept, tab-separated, after a header line (the layout of the golden frames.tsv). Reads
// media.am and media.norm from the working directory, as tarvik does. Usage: tarvik_frames
// input.wav output.tsv ("-" for standard output). Exit status: 0 on success, 1 on a load or write
// failure, 2 on wrong usage.
#include <charconv>
#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/signal.h"

namespace {

std::FILE* out = nullptr;
long frame_index = 0;

// speech_post in the shortest text that reads back as the same double.
void writeFrame(double speech_post, bool is_speech, bool kept) {
    char post[32];
    const auto end = std::to_chars(post, post + sizeof post, speech_post).ptr;
    std::fprintf(out, "%ld\t%.*s\t%d\t%d\n", frame_index++, static_cast<int>(end - post), post,
                 is_speech ? 1 : 0, kept ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    if (argc != 3) {
        printLine("usage: tarvik_frames input.wav output.tsv");
        return 2;
    }
    const std::string input_path = argv[1];
    const std::string output_path = argv[2];
    if (!startPipeline()) return 1;

    FeatureChain chain;
    Signal signal;
    if (signal.loadFile(input_path, "", true) < 0) {
        printLine("ERROR: cannot load: " + input_path);
        return 1;
    }
    signal.setFrame(25, 0.6);
    out = output_path == "-" ? stdout : std::fopen(output_path.c_str(), "w");
    if (out == nullptr) {
        printLine("ERROR: cannot create: " + output_path);
        return 1;
    }
    std::fprintf(out, "index\tspeech_post\tis_speech\tkept\n");
    frame_observer = writeFrame;
    runFrameLoop(signal, chain.last);
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout) std::fclose(out);
    releasePipeline();
    if (!written) {
        printLine("ERROR: cannot write: " + output_path);
        return 1;
    }
    return 0;
}
