// tarvik: marks where a recording contains speech and writes a Praat TextGrid.
// Exit status: 0 on success, 2 (STATUS_USAGE) on a wrong number of arguments, 1 (STATUS_FAILURE)
// on any other failure (a posterior that is not a number included).
#include <csignal>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "app/output_guard.h"
#include "app/settings.h"
#include "frontend/chain.h"
#include "frontend/signal.h"
#include "output/label_table.h"

namespace {

// Loads, frames and analyses the recording, then writes the TextGrid.
int analyse(const std::string& input_path, const std::string& output_path) {
    using namespace tarvik;
    FeatureChain chain;
    Signal signal;

    printLine("Loading audio file: " + input_path);
    if (!loadRecording(signal, input_path)) return STATUS_FAILURE;
    printLine("Processing...");
    runFrameLoop(signal, chain.last);
    if (!posteriorsAreNumbers()) return STATUS_FAILURE;

    printLine("Saving TextGrid: " + output_path);
    // Checked again: the file may have appeared while the recording was analysed.
    const std::string refusal = outputRefusal(output_path, input_path, {norm_path, am_path});
    if (!refusal.empty()) printLine(refusal);
    if (!refusal.empty() || !synchronizer->buildTextGrid(output_path, true)) {
        if (refusal.empty()) printReason(output_path, synchronizer->saveFailure());
        printLine("ERROR: cannot save: " + output_path);
        return STATUS_FAILURE;
    }
    printLine("Done!");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    // A closed standard output must not end the run: lines that cannot be written are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    keepStandardStreamsOpen();
    if (argc != 3) {
        printLine("./tarvik [input.wav] [output.TextGrid]");
        return STATUS_USAGE;
    }
    write_text_grid = true;
    const std::string input_path = argv[1];
    const std::string output_path = argv[2];
    printLine(input_path + " -> " + output_path);
    printLine("Initializing...");
    initMaps();
    const std::string refusal = outputRefusal(output_path, input_path, {norm_path, am_path});
    if (!refusal.empty()) {
        printLine(refusal);
        return STATUS_FAILURE;
    }
    int status = STATUS_FAILURE;
    if (startPipeline()) status = analyse(input_path, output_path);
    releasePipeline();
    return status;
}
