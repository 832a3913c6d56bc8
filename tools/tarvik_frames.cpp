// tarvik_frames: runs tarvik's pipeline over a recording and writes, per
// frame handed back, its index, speech_post (round-trip precision), is_speech
// and kept, tab-separated, after a header line (the layout of the golden frames.tsv). Reads
// media.am and media.norm from the working directory, as tarvik does. Usage: tarvik_frames
// [--network-input inputs.f64] input.wav output.tsv ("-" for standard output). With
// --network-input it also writes every frame as the network was fed it (normalised by the
// adaptive normaliser), 39 native little-endian doubles per frame. Console lines go to standard
// error. Exit status as tarvik's: 0 on success, 1 on a load or write failure, 2 on wrong usage.
#include <charconv>
#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/chain.h"
#include "frontend/signal.h"

namespace {

// speech_post in the shortest text that reads back as the same double.
void writeFrame(std::FILE* out, long index, double speech_post, bool is_speech, bool kept) {
    char post[32];
    const auto end = std::to_chars(post, post + sizeof post, speech_post).ptr;
    std::fprintf(out, "%ld\t%.*s\t%d\t%d\n", index, static_cast<int>(end - post), post,
                 is_speech ? 1 : 0, kept ? 1 : 0);
}

// Flushes and closes `file` (unless it is standard output); false when anything failed.
bool finish(std::FILE* file) {
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    if (file != stdout) std::fclose(file);
    return written;
}

// Opens `path` for writing; null after an error line.
std::FILE* create(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr) tarvik::printLine("ERROR: cannot create: " + path);
    return file;
}

// Runs the pipeline over the loaded `signal`, writing the frames to `out` and, when `inputs_out` is
// not null, the network's inputs to it.
void writeFrames(tarvik::Signal& signal, std::FILE* out, std::FILE* inputs_out) {
    using namespace tarvik;
    long index = 0;
    frame_observer = [&](double speech_post, bool is_speech, bool kept) {
        writeFrame(out, index++, speech_post, is_speech, kept);
    };
    if (inputs_out != nullptr) {
        input_observer = [inputs_out](const double* normalised) {
            std::fwrite(normalised, sizeof(double), FEATURES_NUM, inputs_out);
        };
    }
    std::fprintf(out, "index\tspeech_post\tis_speech\tkept\n");
    FeatureChain chain;
    runFrameLoop(signal, chain.last);
    frame_observer = nullptr;
    input_observer = nullptr;
}

int run(const std::string& input_path, const std::string& output_path,
        const std::string& inputs_path) {
    using namespace tarvik;
    if (!startPipeline()) return STATUS_FAILURE;
    Signal signal;
    if (!loadRecording(signal, input_path)) return STATUS_FAILURE;
    std::FILE* inputs_out = nullptr;
    if (!inputs_path.empty() && (inputs_out = create(inputs_path, "wb")) == nullptr) {
        return STATUS_FAILURE;
    }
    std::FILE* out = output_path == "-" ? stdout : create(output_path, "w");
    if (out == nullptr) {
        if (inputs_out != nullptr) finish(inputs_out);
        return STATUS_FAILURE;
    }
    writeFrames(signal, out, inputs_out);
    bool written = finish(out);
    if (!written) printLine("ERROR: cannot write: " + output_path);
    if (inputs_out != nullptr && !finish(inputs_out)) {
        printLine("ERROR: cannot write: " + inputs_path);
        written = false;
    }
    return written ? 0 : STATUS_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    setConsoleStream(stderr);
    const bool with_inputs = argc > 1 && std::string(argv[1]) == "--network-input";
    const int first = with_inputs ? 3 : 1;
    if (argc != first + 2) {
        printLine("usage: tarvik_frames [--network-input inputs.f64] input.wav output.tsv");
        return STATUS_USAGE;
    }
    const int status = run(argv[first], argv[first + 1], with_inputs ? argv[2] : "");
    releasePipeline();
    return status;
}
