// The files a user hands tarvik, through the real process: recordings that are read, refused
// and what is said about them, outputs that must not be written, saves that fail, model files
// whose values break the computation.
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/bounded_read.h"
#include "tests/app/file_samples.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace app_test;
using test_support::readFile;
using test_support::writeFile;

const std::string GOLDEN = std::string(TARVIK_TEST_DATA) + "/golden/";
const std::string LOADED = "+loaded media.norm\n+loaded media.am\n";

std::string startLines(const std::string& args) {
    const std::size_t blank = args.find(' ');
    return args.substr(0, blank) + " -> " + args.substr(blank + 1) + "\nInitializing...\n";
}

// Every file under `dir` with its contents (a link as its target), to see that nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).string();
        if (entry.is_symlink()) {
            files[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            files[name] = readFile(entry.path());
        } else {
            files[name] = "(other)";
        }
    }
    return files;
}

bool hasTemporaries(const fs::path& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().filename().string().front() == '.') return true;
    }
    return false;
}

TEST(Files, ValidRecordingsAndOutputsGiveTheGoldenTextGrid) {
    const std::string golden = readFile(GOLDEN + "speech.TextGrid");
    for (const GoldenRun& run : goldenRuns()) {
        SCOPED_TRACE(run.name);
        const fs::path dir = testWorkDir("files_");
        run.prepare(dir);
        const ProcessRun result = runGolden(dir, run);
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.output, run.closed_output ? "" : goldenConsole(run.output));
        EXPECT_EQ(readFile(dir / run.written), golden);
        EXPECT_FALSE(hasTemporaries(dir));
        if (run.output != run.written) {
            EXPECT_TRUE(fs::is_symlink(dir / run.output));
        }
    }
}

void twoRecordings(const fs::path& dir) {
    writeFile(dir / "a.wav", canonical());
    fs::copy_file(dir / "a.wav", dir / "b.wav");
}

TEST(Files, OutputsThatWouldDestroyAFileAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        std::string args;
        std::string line;
        void (*prepare)(const fs::path& dir) = nullptr;  // after a.wav and b.wav
        Bytes output_bytes = "";                         // when not empty, out.TextGrid holds them
    };
    const std::string held = "ERROR: output holds a recording (";
    const std::vector<Case> cases = {
        {"the input", "a.wav a.wav", "ERROR: output is the input recording: a.wav"},
        {"the input, spelled otherwise", "a.wav ./a.wav",
         "ERROR: output is the input recording: ./a.wav"},
        {"a hard link to the input", "a.wav link.wav",
         "ERROR: output is the input recording: link.wav",
         [](const fs::path& d) { fs::create_hard_link(d / "a.wav", d / "link.wav"); }},
        {"a symbolic link to the input", "a.wav alias.TextGrid",
         "ERROR: output is the input recording: alias.TextGrid",
         [](const fs::path& d) { fs::create_symlink("a.wav", d / "alias.TextGrid"); }},
        {"tarvik *.wav", "a.wav b.wav", held + "RIFF/WAVE), not replaced: b.wav"},
        {"swapped arguments", "out.TextGrid a.wav", held + "RIFF/WAVE), not replaced: a.wav",
         [](const fs::path& d) { writeFile(d / "out.TextGrid", "an older TextGrid"); }},
        {"the normalisation", "a.wav media.norm",
         "ERROR: output is the model file media.norm: media.norm"},
        {"the network", "a.wav ./media.am", "ERROR: output is the model file media.am: ./media.am"},
        {"RIFX", "a.wav out.TextGrid", held + "big-endian (RIFX)), not replaced: out.TextGrid",
         nullptr, "RIFX\0\0\0\x24WAVEfmt "},
        {"RF64", "a.wav out.TextGrid", held + "RF64), not replaced: out.TextGrid", nullptr,
         "RF64\xFF\xFF\xFF\xFFWAVEds64"},
        {"AIFF", "a.wav out.TextGrid", held + "AIFF), not replaced: out.TextGrid", nullptr,
         Bytes("FORM\0\0\1\0AIFFCOMM", 16)},
        {"FLAC", "a.wav out.TextGrid", held + "FLAC), not replaced: out.TextGrid", nullptr,
         Bytes("fLaC\0\0\0\x22", 8)},
        {"Ogg", "a.wav out.TextGrid", held + "Ogg), not replaced: out.TextGrid", nullptr,
         Bytes("OggS\0\2", 6)},
        {"MP3 with a tag", "a.wav out.TextGrid",
         held + "MP3 (ID3 tag)), not replaced: out.TextGrid", nullptr, Bytes("ID3\4\0\0", 6)},
        {"MP3 frame", "a.wav out.TextGrid", held + "MPEG audio), not replaced: out.TextGrid",
         nullptr, "\xFF\xFB\x90\x64"},
        {"AAC frame", "a.wav out.TextGrid", held + "AAC (ADTS)), not replaced: out.TextGrid",
         nullptr, "\xFF\xF1\x50\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        twoRecordings(dir);
        if (c.prepare != nullptr) c.prepare(dir);
        if (!c.output_bytes.empty()) writeFile(dir / "out.TextGrid", c.output_bytes);
        const auto before = snapshot(dir);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, startLines(c.args) + c.line + "\n");
        EXPECT_EQ(snapshot(dir), before);
    }
}

Bytes pcm(const Bytes& fmt_body) {
    return riff(chunk("fmt ", fmt_body) + chunk("data", goldenSamples().substr(0, 32000)));
}

TEST(Files, WhatIsNotA16kMono16BitRecordingIsRefusedWithTheReason) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string reason;
    };
    const std::string not_pcm = "not 16 kHz mono 16-bit PCM: ";
    const std::string not_wave = "not a RIFF/WAVE file: ";
    const Bytes samples = goldenSamples().substr(0, 32000);
    const Bytes fmt = chunk("fmt ", fmtBody());
    const std::vector<Case> cases = {
        {"stereo", pcm(fmtBody(1, 2)), not_pcm + "stereo"},
        {"44.1 kHz", pcm(fmtBody(1, 1, 44100)), not_pcm + "44100 Hz"},
        {"stereo 48 kHz", pcm(fmtBody(1, 2, 48000)), not_pcm + "stereo, 48000 Hz"},
        {"three channels", pcm(fmtBody(1, 3)), not_pcm + "3 channels"},
        {"8-bit", pcm(fmtBody(1, 1, 16000, 8)), not_pcm + "8-bit"},
        {"24-bit", pcm(fmtBody(1, 1, 16000, 24)), not_pcm + "24-bit"},
        {"IEEE float", pcm(fmtBody(3, 1, 16000, 32)), not_pcm + "IEEE float"},
        {"extensible IEEE float", pcm(extensibleBody(3, 1, 16000, 32)), not_pcm + "IEEE float"},
        {"extensible 8-bit PCM", pcm(extensibleBody(1, 1, 16000, 8)), not_pcm + "8-bit"},
        {"MP3 in WAV", pcm(fmtBody(0x55, 1, 16000, 0)), not_pcm + "compressed (format 0x0055)"},
        {"extensible A-law", pcm(extensibleBody(6, 1, 16000, 8)),
         not_pcm + "compressed (format 0x0006)"},
        {"extensible, unknown sub-format",
         pcm(fmtBody(0xFFFE) + u16(22) + u16(16) + u32(4) + Bytes(16, '\x07')),
         not_pcm + "unknown sub-format of the extensible format"},
        {"extensible fmt chunk of 18 bytes", pcm(fmtBody(0xFFFE) + u16(0)),
         "extensible fmt chunk of 18 bytes, needs 40"},
        {"fmt chunk of 14 bytes", pcm(fmtBody().substr(0, 14)), "fmt chunk of 14 bytes, needs 16"},
        {"RIFX", "RIFX" + riff(fmt + chunk("data", samples)).substr(4),
         not_wave + "big-endian (RIFX)"},
        {"RF64", "RF64" + riff(fmt + chunk("data", samples)).substr(4), not_wave + "RF64"},
        {"AIFF",
         Bytes("FORM\0\0\x7D\x2E"
               "AIFFCOMM",
               16) +
             samples,
         not_wave + "AIFF"},
        {"FLAC", Bytes("fLaC\0\0\0\x22", 8) + samples, not_wave + "FLAC"},
        {"Ogg", Bytes("OggS\0\2", 6) + samples, not_wave + "Ogg"},
        {"MP3 with an ID3 tag", Bytes("ID3\4\0\0", 6) + samples, not_wave + "MP3 (ID3 tag)"},
        {"MP3 frames", "\xFF\xFB\x90\x64" + samples, not_wave + "MPEG audio"},
        {"AAC frames", "\xFF\xF1\x50\x80" + samples, not_wave + "AAC (ADTS)"},
        {"RIFF of another form", "RIFF" + u32(4 + 24) + "AVI " + Bytes(40, '\0'),
         not_wave + "RIFF form \"AVI \""},
        {"no data chunk", riff(fmt + chunk("LIST", Bytes(40, 'i'))), "no data chunk"},
        {"no fmt chunk", riff(chunk("LIST", Bytes(40, 'i'))), "no fmt chunk"},
        {"data before fmt", riff(chunk("data", samples) + fmt), "no fmt chunk before data"},
        {"data chunk cut short", riff(fmt + "data" + u32(64000) + samples),
         "data chunk cut short: 32000 of 64000 bytes"},
        {"chunk before fmt cut short", riff("JUNK" + u32(1000) + Bytes(28, '\0')),
         "\"JUNK\" chunk cut short"},
        {"chunk header cut short", riff(fmt + chunk("JUNK", "ab") + "data"),
         "chunk header cut short at byte 46"},
        {"RIFF shorter than 44 bytes", riff(fmt).substr(0, 43), "RIFF header cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", c.bytes);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, startLines("in.wav out.TextGrid") + LOADED +
                                  "Loading audio file: in.wav\nERROR: in.wav: " + c.reason +
                                  "\nERROR: cannot load: in.wav\n");
        EXPECT_FALSE(fs::exists(dir / "out.TextGrid"));
    }
}

TEST(Files, RecordingTooLongForTheMemoryIsALoadFailure) {
    const fs::path dir = testWorkDir("files_");
    writeFile(dir / "big.wav", riff(chunk("fmt ", fmtBody())) + "data" + u32(0xFFFFFFFF));
    fs::resize_file(dir / "big.wav", (1ULL << 30) + 44);  // sparse: 4 GiB of samples as doubles
#ifdef TARVIK_SANITIZED
    const std::string limit =
        "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024";
#else
    const std::string limit = "ulimit -v 1048576 &&";
#endif
    ProcessRun run = runProcess(dir, TARVIK_BINARY, "big.wav out.TextGrid", limit);
#ifdef TARVIK_SANITIZED
    // The sanitizer's own note of the allocation it refused.
    const std::size_t note = run.output.find("==");
    if (note != std::string::npos) {
        run.output.erase(note, run.output.find('\n', note) + 1 - note);
    }
#endif
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, startLines("big.wav out.TextGrid") + LOADED +
                              "Loading audio file: big.wav\nERROR: big.wav: too long for the "
                              "memory available\nERROR: cannot load: big.wav\n");
    fs::remove(dir / "big.wav");
}

TEST(Files, FailedSaveLeavesThePreviousFile) {
    const fs::path dir = testWorkDir("files_");
    // The golden speech four times over: a TextGrid larger than the file size limit.
    Bytes samples;
    for (int i = 0; i < 4; ++i) samples += goldenSamples();
    writeFile(dir / "in.wav", riff(chunk("fmt ", fmtBody()) + chunk("data", samples)));
    writeFile(dir / "out.TextGrid", "the previous TextGrid");
    const ProcessRun run =
        runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid", "trap '' XFSZ && ulimit -f 1 &&");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("\nERROR: cannot save TextGrid to: out.TextGrid\nERROR: cannot save: "
                              "out.TextGrid\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(dir / "out.TextGrid"), "the previous TextGrid");
    EXPECT_FALSE(hasTemporaries(dir));
}

TEST(Files, ReplacedOutputKeepsItsPermissionsAndDevicesAreWrittenDirectly) {
    const fs::path dir = testWorkDir("files_");
    writeFile(dir / "in.wav", canonical());
    writeFile(dir / "out.TextGrid", "the previous TextGrid");
    fs::permissions(dir / "out.TextGrid", fs::perms(0640));
    const std::string golden = readFile(GOLDEN + "speech.TextGrid");
    EXPECT_EQ(runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid").status, 0);
    EXPECT_EQ(fs::status(dir / "out.TextGrid").permissions(), fs::perms(0640));
    EXPECT_EQ(readFile(dir / "out.TextGrid"), golden);

    EXPECT_EQ(runProcess(dir, TARVIK_BINARY, "in.wav /dev/null").status, 0);
    // Standard output is a pipe: the TextGrid comes between the last two lines.
    const ProcessRun piped = runProcess(dir, TARVIK_BINARY, "in.wav /dev/stdout");
    EXPECT_EQ(piped.status, 0);
    EXPECT_NE(piped.output.find("Saving TextGrid: /dev/stdout\n" + golden + "Done!\n"),
              std::string::npos)
        << piped.output;
    EXPECT_FALSE(hasTemporaries(dir));
}

// media.norm with its token `index` (0: the count; then the means, then the deviations) replaced.
void replaceNormToken(const fs::path& dir, std::size_t index, const std::string& token) {
    std::istringstream in(readFile(dir / "media.norm"));
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    tokens.at(index) = token;
    std::string text;
    for (const std::string& t : tokens) text += t + " ";
    writeFile(dir / "media.norm", text);
}

// media.am with its parameter `index` (from 0, in file order) replaced.
void replaceWeight(const fs::path& dir, std::size_t index, double value) {
    Bytes bytes = readFile(dir / "media.am");
    std::memcpy(bytes.data() + 26 + 8 * index, &value, sizeof value);
    writeFile(dir / "media.am", bytes);
}

TEST(Files, ModelValuesThatBreakTheComputationAreRefused) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);
        std::string tail;  // after the two start lines
    };
    const std::string norm = "ERROR: cannot load: media.norm\n";
    const std::string am = "ERROR: cannot load: media.am\n";
    const std::string invalid = "+loaded media.norm\nERROR: invalid model file media.am: ";
    const std::vector<Case> cases = {
        {"deviation 0", [](const fs::path& d) { replaceNormToken(d, 40 + 5, "0"); },
         "ERROR: standard deviation of value 5 is 0, not positive: media.norm\n" + norm},
        {"deviation -2", [](const fs::path& d) { replaceNormToken(d, 40 + 38, "-2"); },
         "ERROR: standard deviation of value 38 is -2, not positive: media.norm\n" + norm},
        {"deviation 1e-300", [](const fs::path& d) { replaceNormToken(d, 40, "1e-300"); },
         "ERROR: standard deviation of value 0 is 1e-300, too small to divide a feature by: "
         "media.norm\n" +
             norm},
        {"mean beyond a double", [](const fs::path& d) { replaceNormToken(d, 1, "1e999"); },
         "ERROR: incomplete or malformed static normalization: media.norm\n" + norm},
        {"over-long token",
         [](const fs::path& d) { replaceNormToken(d, 2, std::string(MAX_TOKEN_BYTES + 1, '1')); },
         "ERROR: incomplete or malformed static normalization: media.norm\n" + norm},
        {"norm without white space",
         [](const fs::path& d) {
             fs::remove(d / "media.norm");
             fs::create_symlink("/dev/zero", d / "media.norm");
         },
         "ERROR: number of features differs in: media.norm\n" + norm},
        {"NaN weight",
         [](const fs::path& d) { replaceWeight(d, 0, std::numeric_limits<double>::quiet_NaN()); },
         invalid + "parameter 1 (fwd_weights[0]) at byte 26 is nan, not finite\n" + am},
        {"infinite weight",
         [](const fs::path& d) { replaceWeight(d, 1, -std::numeric_limits<double>::infinity()); },
         invalid + "parameter 2 (fwd_weights[1]) at byte 34 is -inf, not finite\n" + am},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        c.prepare(dir);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, startLines("in.wav out.TextGrid") + c.tail);
        EXPECT_FALSE(fs::exists(dir / "out.TextGrid"));
    }
}

}  // namespace
}  // namespace tarvik
