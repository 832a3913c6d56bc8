// The helper programs beside tarvik: data apart from the console, failures reported as tarvik
// reports them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/app/process_samples.h"
#include "tests/support/files.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using test_support::readFile;

const std::string GOLDEN = std::string(TARVIK_TEST_DATA) + "/golden/";

// Runs `command` in `dir` through the shell; its exit status, -1 when it did not exit.
int runIn(const fs::path& dir, const std::string& command) {
    const int status = std::system(("cd '" + dir.string() + "' && " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path workDir() { return app_test::testWorkDir("tools_"); }

TEST(Tools, FramesToStandardOutputCarryNoConsoleLine) {
    const fs::path dir = workDir();
    fs::copy_file(GOLDEN + "speech.wav", dir / "speech.wav");
    const std::string tool = TARVIK_FRAMES_TOOL;
    ASSERT_EQ(runIn(dir, "'" + tool + "' speech.wav - > frames.tsv 2> console.txt"), 0);
    EXPECT_EQ(readFile(dir / "frames.tsv"), readFile(GOLDEN + "frames.tsv"));
    EXPECT_EQ(readFile(dir / "console.txt"), "+loaded media.norm\n+loaded media.am\n");
}

// The same error lines and exit status from tarvik (on standard output, after its start-up
// lines) and from both tools (on standard error, the frames tool's after its model lines).
TEST(Tools, AFailedLoadIsReportedAsTarvikReportsIt) {
    const std::string loaded = "+loaded media.norm\n+loaded media.am\n";
    struct Program {
        std::string binary;
        bool console_on_stdout;
        std::string before;  // printed before the error lines; "@" stands for the input
    };
    const Program programs[] = {
        {TARVIK_BINARY, true,
         "@ -> out.txt\nInitializing...\n" + loaded + "Loading audio file: @\n"},
        {TARVIK_FRAMES_TOOL, false, loaded},
        {TARVIK_FEATURES_TOOL, false, ""},
    };
    struct Case {
        std::string input;
        std::string lines;
    };
    const Case cases[] = {
        {"missing.wav",
         "ERROR: missing.wav: No such file or directory\nERROR: cannot load: missing.wav\n"},
        {"stereo.wav",
         "ERROR: stereo.wav: not 16 kHz mono 16-bit PCM: stereo, 44100 Hz\nERROR: cannot load: "
         "stereo.wav\n"},
    };
    const fs::path dir = workDir();
    test_support::writeBytes(dir / "stereo.wav", test_support::wavHeader({1, 2, 44100, 16}, 0));
    for (const Program& program : programs) {
        for (const Case& c : cases) {
            const std::string command =
                "'" + program.binary + "' " + c.input + " out.txt > stdout.txt 2> stderr.txt";
            EXPECT_EQ(runIn(dir, command), 1) << command;
            std::string before = program.before;
            for (auto at = before.find('@'); at != std::string::npos; at = before.find('@')) {
                before.replace(at, 1, c.input);
            }
            const std::string console = program.console_on_stdout ? "stdout.txt" : "stderr.txt";
            const std::string other = program.console_on_stdout ? "stderr.txt" : "stdout.txt";
            EXPECT_EQ(readFile(dir / console), before + c.lines) << command;
            EXPECT_EQ(readFile(dir / other), "") << command;
            EXPECT_FALSE(fs::exists(dir / "out.txt")) << command;
        }
    }
}

TEST(Tools, WrongUsageExitsAsTarvikDoes) {
    const fs::path dir = workDir();
    for (const char* binary : {TARVIK_BINARY, TARVIK_FRAMES_TOOL, TARVIK_FEATURES_TOOL}) {
        std::string command = "'";  // built piece by piece: GCC 12 warns falsely at -O3
        command += binary;
        command += "' a > /dev/null 2>&1";
        EXPECT_EQ(runIn(dir, command), 2) << binary;
    }
}

}  // namespace
}  // namespace tarvik
