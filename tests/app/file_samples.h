// Runs of the tarvik process on the files users hand it: the recordings and outputs that must
// give the golden TextGrid. Shared by the end-to-end tests and the Praat check of their TextGrids.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/process_samples.h"

namespace tarvik::app_test {

using Bytes = std::string;

Bytes u16(unsigned value);
Bytes u32(unsigned long value);
// A RIFF chunk: id, size and body, padded to an even length.
Bytes chunk(const char* id, const Bytes& body);
// The body of a "fmt " chunk of PCM (or another format tag).
Bytes fmtBody(unsigned tag = 1, unsigned channels = 1, unsigned long rate = 16000,
              unsigned bits = 16);
// The body of an extensible "fmt " chunk whose sub-format has the format code `code`.
Bytes extensibleBody(unsigned code, unsigned channels = 1, unsigned long rate = 16000,
                     unsigned bits = 16);
// "RIFF", the size, "WAVE" and the chunks.
Bytes riff(const Bytes& chunks);
// The samples of the golden recording, 8 s of speech.
const Bytes& goldenSamples();
// The golden samples as a canonical RIFF/WAVE file.
Bytes canonical();

// A run that must succeed and write the golden TextGrid.
struct GoldenRun {
    const char* name;
    void (*prepare)(const std::filesystem::path& dir);  // writes in.wav and what else it needs
    std::string output = "out.TextGrid";                // the second argument
    std::string written = "out.TextGrid";               // where the TextGrid lands
    bool closed_output = false;  // standard output a pipe whose reader has gone
};

const std::vector<GoldenRun>& goldenRuns();

// Runs tarvik for `run` in `dir`, which holds the model pair.
ProcessRun runGolden(const std::filesystem::path& dir, const GoldenRun& run);

// The eight lines of a successful run of in.wav.
std::string goldenConsole(const std::string& output);

}  // namespace tarvik::app_test
