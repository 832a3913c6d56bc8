// Runs of the tarvik process in a scratch folder, and the recordings it must
// read: shared by the end-to-end tests and the Praat check of their TextGrids.
#pragma once

#include <filesystem>
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

}  // namespace tarvik::app_test
