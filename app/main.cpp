// tarvik: marks where a recording contains speech and writes a Praat TextGrid.
// Exit status: 0 on success, 2 on a wrong number of arguments, 1 on any other failure.
#include <csignal>
#include <string>

#include "app/console.h"
#include "app/driver.h"
#include "app/output_guard.h"
#include "app/settings.h"
#include "frontend/signal.h"
#include "output/label_table.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Loads, frames and analyses the recording, then writes the TextGrid.
int analyse(const std::string& input_path, const std::string& output_path) {
    using namespace tarvik;
    FeatureChain chain;
    Signal signal;

    printLine("Loading audio file: " + input_path);
    const int loaded = signal.loadFile(input_path, "", true);
    if (loaded < 0) {
        // Say why, unless the file simply could not be opened.
        if (loaded != Signal::LOAD_CANNOT_OPEN) {
            printLine("ERROR: " + input_path + ": " + signal.loadFailure());
        }
        printLine("ERROR: cannot load: " + input_path);
        return kExitFailure;
    }
    signal.setFrame(25, 0.6);
    printLine("Processing...");
    runFrameLoop(signal, chain.last);

    printLine("Saving TextGrid: " + output_path);
    // Checked again: the file may have appeared while the recording was analysed.
    const std::string refusal = outputRefusal(output_path, input_path, {norm_path, am_path});
    if (!refusal.empty()) printLine(refusal);
    if (!refusal.empty() || !synchronizer->buildTextGrid(output_path, true)) {
        printLine("ERROR: cannot save: " + output_path);
        return kExitFailure;
    }
    printLine("Done!");
    releasePipeline();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    // A closed standard output must not end the run: lines that cannot be written are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 3) {
        printLine("./tarvik [input.wav] [output.TextGrid]");
        return kExitUsage;
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
        return kExitFailure;
    }
    int status = kExitFailure;
    if (startPipeline()) status = analyse(input_path, output_path);
    releasePipeline();
    return status;
}
