// tarvik_frames: runs tarvik's pipeline over a recording and writes, per
// frame handed back, its index, speech_post (round-trip precision), is_speech
// and kept, tab-separated, after a header line (the layout of the golden frames.tsv). Reads
// media.am and media.norm from the working directory, as tarvik does. Usage: tarvik_frames
// [--network-input inputs.f64] input.wav output.tsv ("-" for standard output). With
// --network-input it also writes every frame as the network was fed it (normalised by the
// adaptive normaliser), 39 native little-endian doubles per frame. Both outputs are checked and
// written as tarvik's TextGrid is (the input, a model file or a recording is refused; a file is
// replaced only once whole). A run whose posteriors are not numbers fails as tarvik's does.
// Console lines go to standard error. Exit status as tarvik's: 0 on success, 1 on a refused
// output or a load, run or write failure, 2 on wrong usage.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "frontend/chain.h"
#include "frontend/signal.h"
#include "output/replacing_file.h"

namespace {

// speech_post in the shortest text that reads back as the same double.
void writeFrame(tarvik::ReplacingFile& out, long index, double speech_post, bool is_speech,
                bool kept) {
    char post[32];
    const auto end = std::to_chars(post, post + sizeof post, speech_post).ptr;
    char line[96];
    const int length =
        std::snprintf(line, sizeof line, "%ld\t%.*s\t%d\t%d\n", index, static_cast<int>(end - post),
                      post, is_speech ? 1 : 0, kept ? 1 : 0);
    out.write(line, static_cast<std::size_t>(length));
}

// Runs the pipeline over the loaded `signal`, writing the frames to `out` and, when `inputs_out` is
// not null, the network's inputs to it.
void writeFrames(tarvik::Signal& signal, tarvik::ReplacingFile& out,
                 tarvik::ReplacingFile* inputs_out) {
    using namespace tarvik;
    long index = 0;
    frame_observer = [&](double speech_post, bool is_speech, bool kept) {
        writeFrame(out, index++, speech_post, is_speech, kept);
    };
    if (inputs_out != nullptr) {
        input_observer = [inputs_out](const double* normalised) {
            inputs_out->write(normalised, sizeof(double) * FEATURES_NUM);
        };
    }
    out.write("index\tspeech_post\tis_speech\tkept\n");
    FeatureChain chain;
    runFrameLoop(signal, chain.last);
    frame_observer = nullptr;
    input_observer = nullptr;
}

// Two outputs that name one file: the second rename would replace the first.
bool sameOutput(const std::string& a, const std::string& b) {
    std::error_code error_a;
    std::error_code error_b;
    const std::filesystem::path path_a =
        std::filesystem::weakly_canonical(std::filesystem::absolute(a), error_a);
    const std::filesystem::path path_b =
        std::filesystem::weakly_canonical(std::filesystem::absolute(b), error_b);
    return !error_a && !error_b && path_a == path_b;
}

int run(const std::string& input_path, const std::string& output_path,
        const std::string& inputs_path) {
    using namespace tarvik;
    const bool with_inputs = !inputs_path.empty();
    if (with_inputs && output_path != "-" && sameOutput(output_path, inputs_path)) {
        printLine("ERROR: both outputs are the same file: " + output_path);
        return STATUS_FAILURE;
    }
    ReplacingFile out;
    ReplacingFile inputs_out;
    if (with_inputs && !openDataOutput(inputs_out, inputs_path, input_path)) return STATUS_FAILURE;
    if (!openDataOutput(out, output_path, input_path)) return STATUS_FAILURE;
    if (!startPipeline()) return STATUS_FAILURE;
    Signal signal;
    if (!loadRecording(signal, input_path)) return STATUS_FAILURE;
    writeFrames(signal, out, with_inputs ? &inputs_out : nullptr);
    if (!posteriorsAreNumbers()) return STATUS_FAILURE;
    bool written = commitDataOutput(out, output_path, input_path);
    if (with_inputs && !commitDataOutput(inputs_out, inputs_path, input_path)) written = false;
    return written ? 0 : STATUS_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    keepStandardStreamsOpen();
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
