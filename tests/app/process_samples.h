// Runs of the tarvik process in a scratch folder, and the recordings it must
// read: shared by the end-to-end tests and the Praat check of their TextGrids.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::app_test {

struct ProcessRun {
    std::string output;  // standard output and standard error
    int status = -1;     // exit status; -1 when the process did not exit (a signal)
};

// Runs `binary` with `args` (already quoted for the shell) in `dir`, after the
// shell commands `before` (limits, for one).
ProcessRun runProcess(const std::filesystem::path& dir, const std::string& binary,
                      const std::string& args, const std::string& before = "");

// Empties `dir`, creating it when needed, and copies the golden model pair into it.
void prepareWorkDir(const std::filesystem::path& dir);

// A fresh working directory `prefix` + the running test's name, holding the golden model pair.
std::filesystem::path testWorkDir(const std::string& prefix);

// A recording tarvik must read, and the TextGrid it must then write.
struct RecordingSample {
    const char* name;
    std::vector<unsigned char> bytes;  // the whole file
    const char* xmax;                  // end time, as written
    int intervals;                     // of the only tier
};

const std::vector<RecordingSample>& recordingSamples();

// One run of tarvik for the Praat reader check, and what its TextGrid must hold.
struct ManifestRun {
    std::string name;
    ProcessRun result;
    std::string text_grid;  // where the TextGrid landed, inside the run's folder
    std::string xmax;       // end time, as written
    int intervals = 0;      // of the only tier
};

// The main of a program that makes `count` runs, run i in a folder of its own inside the
// directory given as its one argument, holding the golden model pair, and writes there a
// manifest.tsv of one line per TextGrid for the reader check: path, tier count, end time and
// interval count, separated by tabs. Fails when a run fails.
int writeManifest(
    int argc, char** argv, std::size_t count,
    const std::function<ManifestRun(std::size_t i, const std::filesystem::path& dir)>& run);

}  // namespace tarvik::app_test
