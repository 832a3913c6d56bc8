// The tarvik process end to end: console lines, exit status and TextGrid.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/frontend/wav_fixture.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const std::string kGolden = std::string(TARVIK_TEST_DATA) + "/golden/";
const std::string kUsage = "./tarvik [input.wav] [output.TextGrid]\n";

struct ProcessRun {
    std::string output;
    int status = -1;
};

// Runs `binary` (tarvik by default) with `args`, already quoted for the shell, in `dir`.
ProcessRun runTarvik(const fs::path& dir, const std::string& args,
                     const std::string& binary = TARVIK_BINARY) {
    const std::string command =
        "cd '" + dir.string() + "' && '" + binary + "' " + args + " 2>&1 </dev/null";
    ProcessRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh working directory named after the test, holding the golden model pair.
fs::path workDir(bool with_norm = true, bool with_am = true) {
    const fs::path dir =
        fs::current_path() /
        ("driver_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (with_norm) fs::copy_file(kGolden + "media.norm", dir / "media.norm");
    if (with_am) fs::copy_file(kGolden + "media.am", dir / "media.am");
    return dir;
}

std::string startLines(const std::string& in, const std::string& out) {
    return in + " -> " + out + "\nInitializing...\n";
}

TEST(Driver, WrongArgumentCountPrintsUsageOnly) {
    const fs::path dir = workDir();
    for (const std::string args : {"", "in.wav", "in.wav out.TextGrid extra"}) {
        const ProcessRun run = runTarvik(dir, args);
        EXPECT_EQ(run.output, kUsage) << args;
        EXPECT_EQ(run.status, 2) << args;
    }
}

TEST(Driver, GoldenRunPrintsEightLinesAndWritesTheTextGrid) {
    const fs::path dir = workDir();
    fs::copy_file(kGolden + "speech.wav", dir / "speech.wav");
    const ProcessRun run = runTarvik(dir, "speech.wav speech.TextGrid");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, readFile(kGolden + "console.txt"));
    EXPECT_EQ(readFile(dir / "speech.TextGrid"), readFile(kGolden + "speech.TextGrid"));
}

TEST(Driver, FramesToolWritesTheDecisionOfEveryFrame) {
    const fs::path dir = workDir();
    fs::copy_file(kGolden + "speech.wav", dir / "speech.wav");
    const ProcessRun run = runTarvik(dir, "speech.wav frames.tsv", TARVIK_FRAMES_TOOL);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir / "frames.tsv"), readFile(kGolden + "frames.tsv"));
}

// Reads whitespace-separated numbers.
std::vector<double> readNumbers(const fs::path& path) {
    std::ifstream in(path);
    std::vector<double> numbers;
    for (double value = 0.0; in >> value;) numbers.push_back(value);
    return numbers;
}

TEST(Driver, FramesToolWritesTheNetworkInput) {
    const fs::path dir = workDir();
    fs::copy_file(kGolden + "speech.wav", dir / "speech.wav");
    const ProcessRun run =
        runTarvik(dir, "--network-input inputs.f64 speech.wav frames.tsv", TARVIK_FRAMES_TOOL);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir / "frames.tsv"), readFile(kGolden + "frames.tsv"));

    const std::string bytes = readFile(dir / "inputs.f64");
    const std::vector<double> features = readNumbers(kGolden + "features.tsv");  // index + 39
    const std::vector<double> norm = readNumbers(kGolden + "media.norm");        // 39, means, sds
    ASSERT_EQ(bytes.size(), features.size() / 40 * 39 * sizeof(double));
    std::vector<double> inputs(bytes.size() / sizeof(double));
    std::memcpy(inputs.data(), bytes.data(), bytes.size());
    // No frame is handed back before the 40th is pushed: these use the static values alone.
    for (std::size_t frame = 0; frame < 40; ++frame) {
        for (std::size_t v = 0; v < 39; ++v) {
            const double raw = features[frame * 40 + 1 + v];
            ASSERT_EQ(inputs[frame * 39 + v], (raw - norm[1 + v]) / norm[40 + v]) << frame;
        }
    }
    EXPECT_EQ(runTarvik(dir, "--network-input inputs.f64 speech.wav", TARVIK_FRAMES_TOOL).status,
              2);
    EXPECT_EQ(
        runTarvik(dir, "--network-input no/dir.f64 speech.wav f.tsv", TARVIK_FRAMES_TOOL).status,
        1);
}

TEST(Driver, FailuresSayWhyAndWriteNoTextGrid) {
    struct Case {
        const char* name;
        bool with_norm;
        bool with_am;
        std::string input;  // written as a 16 kHz recording unless it names a special case
        std::string output;
        std::string tail;  // the lines after "<in> -> <out>" and "Initializing..."
    };
    const std::string loaded = "+loaded media.norm\n+loaded media.am\n";
    const std::vector<Case> cases = {
        {"no norm", false, true, "in.wav", "out.TextGrid",
         "ERROR: cannot load static normalization: media.norm\nERROR: cannot load: media.norm\n"},
        {"no model", true, false, "in.wav", "out.TextGrid",
         "+loaded media.norm\nError loading BLSTM topology\nERROR: cannot load: media.am\n"},
        {"no input", true, true, "missing.wav", "out.TextGrid",
         loaded + "Loading audio file: missing.wav\nERROR: cannot load: missing.wav\n"},
        {"stereo 44.1 kHz", true, true, "stereo.wav", "out.TextGrid",
         loaded + "Loading audio file: stereo.wav\nERROR: stereo.wav: not 16 kHz mono 16-bit PCM\n"
                  "ERROR: cannot load: stereo.wav\n"},
        {"missing output directory", true, true, "in.wav", "nodir/out.TextGrid",
         loaded + "Loading audio file: in.wav\nProcessing...\nSaving TextGrid: nodir/out.TextGrid\n"
                  "ERROR: cannot save TextGrid to: nodir/out.TextGrid\n"
                  "ERROR: cannot save: nodir/out.TextGrid\n"},
        {"full disk", true, true, "in.wav", "/dev/full",
         loaded + "Loading audio file: in.wav\nProcessing...\nSaving TextGrid: /dev/full\n"
                  "ERROR: cannot save TextGrid to: /dev/full\nERROR: cannot save: /dev/full\n"},
    };
    for (const Case& c : cases) {
        const fs::path dir = workDir(c.with_norm, c.with_am);
        if (c.input == "in.wav")
            testing::writeWav((dir / c.input).string(), std::vector<int16_t>(16000, 100));
        if (c.input == "stereo.wav") {
            auto bytes = testing::wavHeader({1, 2, 44100, 16}, 4 * 4410);
            bytes.resize(bytes.size() + 4 * 4410, 0);
            testing::writeBytes((dir / c.input).string(), bytes);
        }
        const ProcessRun run = runTarvik(dir, c.input + " " + c.output);
        EXPECT_EQ(run.output, startLines(c.input, c.output) + c.tail) << c.name;
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_FALSE(fs::exists(dir / "out.TextGrid")) << c.name;
    }
}

// The end time of the tier tells how many codes were collected.
TEST(Driver, EveryFrameGetsOneCode) {
    const struct {
        int samples;
        const char* xmax;
    } cases[] = {
        {0, "0"}, {159, "0"}, {319, "0"}, {320, "0.0175"}, {399, "0.0175"}, {16000, "0.9975"},
    };
    const fs::path dir = workDir();
    for (const auto& c : cases) {
        testing::writeWav((dir / "in.wav").string(), std::vector<int16_t>(c.samples, 250));
        const ProcessRun run = runTarvik(dir, "in.wav out.TextGrid");
        EXPECT_EQ(run.status, 0) << c.samples << "\n" << run.output;
        const std::string grid = readFile(dir / "out.TextGrid");
        EXPECT_NE(grid.find("\nxmax = " + std::string(c.xmax) + "\n"), std::string::npos)
            << c.samples << " samples:\n"
            << grid;
    }
}

}  // namespace
}  // namespace tarvik
