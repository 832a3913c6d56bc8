// The tarvik process end to end: console lines, exit status and TextGrid.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/process_samples.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using app_test::ProcessRun;
using test_support::readFile;

const std::string GOLDEN = std::string(TARVIK_TEST_DATA) + "/golden/";
const std::string USAGE = "./tarvik [input.wav] [output.TextGrid]\n";

// Runs `binary` (tarvik by default) with `args`, already quoted for the shell, in `dir`.
ProcessRun runTarvik(const fs::path& dir, const std::string& args,
                     const std::string& binary = TARVIK_BINARY) {
    return app_test::runProcess(dir, binary, args);
}

// A fresh working directory named after the test, holding the golden model pair.
fs::path workDir() { return app_test::testWorkDir("driver_"); }

std::string startLines(const std::string& in, const std::string& out) {
    return in + " -> " + out + "\nInitializing...\n";
}

TEST(Driver, WrongArgumentCountPrintsUsageOnly) {
    const fs::path dir = workDir();
    for (const std::string args : {"", "in.wav", "in.wav out.TextGrid extra"}) {
        const ProcessRun run = runTarvik(dir, args);
        EXPECT_EQ(run.output, USAGE) << args;
        EXPECT_EQ(run.status, 2) << args;
    }
}

TEST(Driver, GoldenRunPrintsEightLinesAndWritesTheTextGrid) {
    const fs::path dir = workDir();
    fs::copy_file(GOLDEN + "speech.wav", dir / "speech.wav");
    const ProcessRun run = runTarvik(dir, "speech.wav speech.TextGrid");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, readFile(GOLDEN + "console.txt"));
    EXPECT_EQ(readFile(dir / "speech.TextGrid"), readFile(GOLDEN + "speech.TextGrid"));
}

TEST(Driver, FramesToolWritesTheDecisionOfEveryFrame) {
    const fs::path dir = workDir();
    fs::copy_file(GOLDEN + "speech.wav", dir / "speech.wav");
    const ProcessRun run = runTarvik(dir, "speech.wav frames.tsv", TARVIK_FRAMES_TOOL);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir / "frames.tsv"), readFile(GOLDEN + "frames.tsv"));
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
    fs::copy_file(GOLDEN + "speech.wav", dir / "speech.wav");
    const ProcessRun run =
        runTarvik(dir, "--network-input inputs.f64 speech.wav frames.tsv", TARVIK_FRAMES_TOOL);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir / "frames.tsv"), readFile(GOLDEN + "frames.tsv"));

    const std::string bytes = readFile(dir / "inputs.f64");
    const std::vector<double> features = readNumbers(GOLDEN + "features.tsv");  // index + 39
    const std::vector<double> norm = readNumbers(GOLDEN + "media.norm");        // 39, means, sds
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

// The working directory's files broken in the ways a failure case needs.
void removeNorm(const fs::path& dir) { fs::remove(dir / "media.norm"); }
void removeModel(const fs::path& dir) { fs::remove(dir / "media.am"); }
void cutModel(const fs::path& dir) { fs::resize_file(dir / "media.am", 1000); }
void emptyNorm(const fs::path& dir) { fs::resize_file(dir / "media.norm", 0); }
void cutNorm(const fs::path& dir) { fs::resize_file(dir / "media.norm", 300); }
void makeInputDir(const fs::path& dir) { fs::create_directory(dir / "dir.wav"); }
void makeOutputDir(const fs::path& dir) { fs::create_directory(dir / "out.TextGrid"); }

// A network of 13 inputs: the model's first header field rewritten.
void modelOf13Inputs(const fs::path& dir) {
    std::string bytes = readFile(dir / "media.am");
    bytes.replace(0, 4, std::string("\x0d\0\0\0", 4));
    test_support::writeBytes((dir / "media.am").string(), {bytes.begin(), bytes.end()});
}

void writeWavOf(const fs::path& path, const test_support::WavFormat& format) {
    auto bytes = test_support::wavHeader(format, 4 * 4410);
    bytes.resize(bytes.size() + 4 * 4410, 0);
    test_support::writeBytes(path.string(), bytes);
}
void stereo44k(const fs::path& dir) { writeWavOf(dir / "in.wav", {1, 2, 44100, 16}); }
void eightBit(const fs::path& dir) { writeWavOf(dir / "in.wav", {1, 1, 16000, 8}); }

// 43 bytes that begin with "RIFF".
void riffCutShort(const fs::path& dir) {
    std::vector<unsigned char> bytes(43, 0);
    std::copy_n("RIFF", 4, bytes.begin());
    test_support::writeBytes((dir / "in.wav").string(), bytes);
}

// The golden speech four times over: a TextGrid of a few kilobytes.
void longSpeech(const fs::path& dir) {
    const std::string wav = readFile(GOLDEN + "speech.wav");
    std::string bytes = wav.substr(0, 40);
    const auto data_bytes = static_cast<std::uint32_t>(4 * (wav.size() - 44));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(data_bytes >> (8 * i)));
    for (int i = 0; i < 4; ++i) bytes += wav.substr(44);
    test_support::writeBytes((dir / "in.wav").string(), {bytes.begin(), bytes.end()});
}

TEST(Driver, FailuresSayWhyAndWriteNoTextGrid) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);  // runs after in.wav, one second, is written
        std::string input;
        std::string output;
        std::string tail;         // the lines after "<in> -> <out>" and "Initializing..."
        std::string before = "";  // shell commands run before tarvik
    };
    const std::string loaded = "+loaded media.norm\n+loaded media.am\n";
    const std::string loading = loaded + "Loading audio file: in.wav\n";
    // The writer's line, the reason and the driver's line.
    auto cannotSave = [&](const std::string& out, const std::string& reason) {
        return loading + "Processing...\nSaving TextGrid: " + out +
               "\nERROR: cannot save TextGrid to: " + out + "\nERROR: " + out + ": " + reason +
               "\nERROR: cannot save: " + out + "\n";
    };
    const std::vector<Case> cases = {
        {"no norm", removeNorm, "in.wav", "out.TextGrid",
         "ERROR: cannot load static normalization: media.norm\nERROR: media.norm: No such file or "
         "directory\nERROR: cannot load: media.norm\n"},
        {"empty norm", emptyNorm, "in.wav", "out.TextGrid",
         "ERROR: number of features differs in: media.norm\nERROR: media.norm: the file is "
         "empty\nERROR: cannot load: media.norm\n"},
        {"norm cut short", cutNorm, "in.wav", "out.TextGrid",
         "ERROR: incomplete or malformed static normalization: media.norm\n"
         "ERROR: cannot load: media.norm\n"},
        {"no model", removeModel, "in.wav", "out.TextGrid",
         "+loaded media.norm\nError loading BLSTM topology\nERROR: media.am: No such file or "
         "directory\nERROR: cannot load: media.am\n"},
        {"model cut short", cutModel, "in.wav", "out.TextGrid",
         "+loaded media.norm\nERROR: invalid model file media.am: 1000 bytes, the header needs "
         "15778\nERROR: cannot load: media.am\n"},
        {"model of 13 inputs", modelOf13Inputs, "in.wav", "out.TextGrid",
         "+loaded media.norm\nERROR: number of inputs differs in: media.am (13 inputs, 39 "
         "features)\nERROR: cannot load: media.am\n"},
        {"no input", nullptr, "missing.wav", "out.TextGrid",
         loaded + "Loading audio file: missing.wav\nERROR: missing.wav: No such file or "
                  "directory\nERROR: cannot load: missing.wav\n"},
        {"directory as input", makeInputDir, "dir.wav", "out.TextGrid",
         loaded + "Loading audio file: dir.wav\nERROR: dir.wav: a directory, not a regular "
                  "file\nERROR: cannot load: dir.wav\n"},
        {"stereo 44.1 kHz", stereo44k, "in.wav", "out.TextGrid",
         loading +
             "ERROR: in.wav: not 16 kHz mono 16-bit PCM: stereo, 44100 Hz\nERROR: cannot load: "
             "in.wav\n"},
        {"8-bit", eightBit, "in.wav", "out.TextGrid",
         loading +
             "ERROR: in.wav: not 16 kHz mono 16-bit PCM: 8-bit\nERROR: cannot load: in.wav\n"},
        {"RIFF header cut short", riffCutShort, "in.wav", "out.TextGrid",
         loading + "ERROR: in.wav: RIFF header cut short\nERROR: cannot load: in.wav\n"},
        {"missing output directory", nullptr, "in.wav", "nodir/out.TextGrid",
         cannotSave("nodir/out.TextGrid", "No such file or directory")},
        {"output is a directory", makeOutputDir, "in.wav", "out.TextGrid",
         cannotSave("out.TextGrid", "Is a directory")},
        {"full disk", nullptr, "in.wav", "/dev/full",
         cannotSave("/dev/full", "No space left on device")},
        // The file size limit stops the write part way: the file cut short is removed.
        {"write cut short", longSpeech, "in.wav", "out.TextGrid",
         cannotSave("out.TextGrid", "File too large"), "trap '' XFSZ && ulimit -f 1 &&"},
    };
    for (const Case& c : cases) {
        const fs::path dir = workDir();
        test_support::writeWav((dir / "in.wav").string(), std::vector<int16_t>(16000, 100));
        if (c.prepare != nullptr) c.prepare(dir);
        const ProcessRun run =
            app_test::runProcess(dir, TARVIK_BINARY, c.input + " " + c.output, c.before);
        EXPECT_EQ(run.output, startLines(c.input, c.output) + c.tail) << c.name;
        EXPECT_EQ(run.status, 1) << c.name;
        if (c.prepare == makeOutputDir) {
            EXPECT_TRUE(fs::is_empty(dir / "out.TextGrid")) << c.name;
        } else {
            EXPECT_FALSE(fs::exists(dir / "out.TextGrid")) << c.name;
        }
    }
}

// Recordings without a frame, of one, of two and of an odd length are read as
// the frame count says. The end time of the tier tells how many codes were
// collected: none for fewer than two frames.
TEST(Driver, ShortAndOddRecordingsAreWritten) {
    const fs::path dir = workDir();
    for (const auto& sample : app_test::recordingSamples()) {
        test_support::writeBytes((dir / "in.wav").string(), sample.bytes);
        fs::remove(dir / "out.TextGrid");
        const ProcessRun run = runTarvik(dir, "in.wav out.TextGrid");
        EXPECT_EQ(run.status, 0) << sample.name << "\n" << run.output;
        EXPECT_EQ(run.output, startLines("in.wav", "out.TextGrid") +
                                  "+loaded media.norm\n+loaded media.am\nLoading audio file: "
                                  "in.wav\nProcessing...\nSaving TextGrid: out.TextGrid\nDone!\n")
            << sample.name;
        const std::string grid = readFile(dir / "out.TextGrid");
        EXPECT_NE(grid.find("\nxmax = " + std::string(sample.xmax) + "\n"), std::string::npos)
            << sample.name << ":\n"
            << grid;
        EXPECT_NE(grid.find("\nintervals: size = " + std::to_string(sample.intervals) + "\n"),
                  std::string::npos)
            << sample.name << ":\n"
            << grid;
    }
}

}  // namespace
}  // namespace tarvik
