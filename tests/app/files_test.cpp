// The files a user hands tarvik, through the real process: recordings that are read, refused
// and what is said about them, outputs that must not be written, saves that fail, model files
// whose values break the computation.
#include "tests/support/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/bounded_read.h"
#include "tests/app/file_samples.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace app_test;
using test_support::readFile;
using test_support::utf16;
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
        {"WAV behind an ID3 tag", "a.wav out.TextGrid",
         held + "RIFF/WAVE behind an ID3 tag), not replaced: out.TextGrid", nullptr,
         Bytes("ID3\3\0\0\0\0\0\4", 10) + "tags" + canonical().substr(0, 44)},
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
        {"WAV behind an ID3 tag", Bytes("ID3\3\0\0\0\0\0\4", 10) + "tags" + pcm(fmtBody()),
         not_wave + "RIFF/WAVE behind an ID3 tag"},
        {"MP3 frames", "\xFF\xFB\x90\x64" + samples, not_wave + "MPEG audio"},
        {"AAC frames", "\xFF\xF1\x50\x80" + samples, not_wave + "AAC (ADTS)"},
        {"RIFF of another form", "RIFF" + u32(4 + 24) + "AVI " + Bytes(40, '\0'),
         not_wave + "RIFF form \"AVI \""},
        {"no data chunk", riff(fmt + chunk("LIST", Bytes(40, 'i'))), "no data chunk"},
        {"no fmt chunk", riff(chunk("LIST", Bytes(40, 'i'))), "no fmt chunk"},
        {"data before fmt", riff(chunk("data", samples) + fmt), "no fmt chunk before data"},
        {"data chunk cut short", riff(fmt + "data" + u32(64000) + samples),
         "data chunk cut short: 32000 of 64000 bytes"},
        {"data chunk cut short, a size next to sox's placeholder",
         riff(fmt + "data" + u32(0x7FFFF001) + samples),
         "data chunk cut short: 32000 of 2147479553 bytes"},
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
    EXPECT_NE(
        run.output.find("\nERROR: cannot save TextGrid to: out.TextGrid\nERROR: out.TextGrid: "
                        "File too large\nERROR: cannot save: out.TextGrid\n"),
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

// Token `index` of media.norm, counted as replaceNormToken counts them.
std::string normToken(const fs::path& dir, std::size_t index) {
    std::istringstream in(readFile(dir / "media.norm"));
    std::string token;
    for (std::size_t i = 0; i <= index; ++i) in >> token;
    return token;
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
             writeFile(d / "media.norm", std::string(MAX_TOKEN_BYTES + 1, '1'));
         },
         "ERROR: number of features differs in: media.norm\nERROR: media.norm: the first token is "
         "longer than 65536 bytes\n" +
             norm},
        {"norm written for 40 features, its count 39",
         [](const fs::path& d) {
             replaceNormToken(d, 40, "1.5 " + normToken(d, 40));
             replaceNormToken(d, 79, normToken(d, 79) + " 2.5");
         },
         "ERROR: more values than the count says (39 features, 78 values): media.norm\n" + norm},
        {"NaN weight",
         [](const fs::path& d) { replaceWeight(d, 0, std::numeric_limits<double>::quiet_NaN()); },
         invalid + "parameter 1 (fwd_weights[0]) at byte 26 is nan, not finite\n" + am},
        {"infinite weight",
         [](const fs::path& d) { replaceWeight(d, 1, -std::numeric_limits<double>::infinity()); },
         invalid + "parameter 2 (fwd_weights[1]) at byte 34 is -inf, not finite\n" + am},
        {"finite weights that overflow",
         [](const fs::path& d) {
             Bytes bytes = readFile(d / "media.am");
             const double huge = 1e308;
             for (std::size_t at = 26; at + 8 <= bytes.size(); at += 8) {
                 std::memcpy(bytes.data() + at, &huge, sizeof huge);
             }
             writeFile(d / "media.am", bytes);
         },
         LOADED +
             "Loading audio file: in.wav\nProcessing...\nERROR: media.am: the network's posterior "
             "is not a number in 800 of 800 frames\n"},
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

// The program at `binary`, quoted for the shell.
std::string quoted(const std::string& binary) { return "'" + binary + "'"; }

// Runs `command` through the shell in `dir`; its exit status, or 128 + the signal that ended it.
int runShell(const fs::path& dir, const std::string& command) {
    const int status = std::system(("cd '" + dir.string() + "' && " + command).c_str());
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// The console of a successful run of in.wav into `output`, with `grid` written between the
// "Saving TextGrid: " line and "Done!", as where the output is the console's own file.
std::string consoleWithGrid(const std::string& output, const std::string& grid) {
    std::string console = goldenConsole(output);
    console.insert(console.size() - std::string("Done!\n").size(), grid);
    return console;
}

// A tmpfs mounted on `dir` while it lives, for a file system that is full, has no inode left
// or is read-only. Mounting needs root (CI runs as root); `mounted` is false where it is not
// permitted, and the test skips.
class SmallFileSystem {
  public:
    SmallFileSystem(const fs::path& dir, const char* options) : dir(dir) {
        fs::create_directories(dir);
        mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
        error = errno;
    }
    ~SmallFileSystem() {
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool makeReadOnly() const {
        return ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Fills the free space with one file.
    void fill() const {
        const int fd = ::open((dir / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }

    fs::path dir;
    bool mounted = false;
    int error = 0;
};

// A model file put in place of the one at `file`: a directory, a device, a pipe without a writer,
// a file whose read fails.
void asDirectory(const fs::path& file) {
    fs::remove(file);
    fs::create_directory(file);
}
void asDevice(const fs::path& file) {
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
}
void asPipe(const fs::path& file) {
    fs::remove(file);
    ::mkfifo(file.c_str(), 0644);
}
void asUnreadable(const fs::path& file) {
    fs::remove(file);
    fs::create_symlink("/proc/self/mem", file);  // its byte 0 is never mapped: EIO
}

// The golden media.norm as text of another encoding or with other separators.
void asUtf16Little(const fs::path& file) {
    writeFile(file, utf16(readFile(GOLDEN + "media.norm"), true));
}
void asUtf16Big(const fs::path& file) {
    writeFile(file, utf16(readFile(GOLDEN + "media.norm"), false));
}
void behindUtf8Mark(const fs::path& file) {
    writeFile(file, "\xEF\xBB\xBF" + readFile(GOLDEN + "media.norm"));
}
void separatedByNul(const fs::path& file) {
    std::string text = readFile(GOLDEN + "media.norm");
    for (char& c : text) {
        if (c == ' ' || c == '\t' || c == '\n') c = '\0';
    }
    writeFile(file, text);
}

TEST(Files, ModelFilesThatAreNoRegularFileOrCannotBeReadAreRefusedWithTheReason) {
    struct Case {
        const char* name;
        const char* file;  // media.norm or media.am
        void (*prepare)(const fs::path& file);
        std::string tail;  // after the two start lines
    };
    const std::string norm = "ERROR: cannot load: media.norm\n";
    const std::string am = "ERROR: cannot load: media.am\n";
    const std::string cannot_norm = "ERROR: cannot load static normalization: media.norm\n";
    const std::string counted = "ERROR: number of features differs in: media.norm\n";
    const std::string cannot_am = "+loaded media.norm\nError loading BLSTM topology\n";
    const std::string norm_is = "ERROR: media.norm: ";
    const std::string am_is = "ERROR: media.am: ";
    std::vector<Case> cases = {
        {"missing", "media.norm", [](const fs::path& f) { fs::remove(f); },
         cannot_norm + norm_is + "No such file or directory\n" + norm},
        {"a directory", "media.norm", asDirectory,
         cannot_norm + norm_is + "a directory, not a regular file\n" + norm},
        {"a device", "media.norm", asDevice,
         cannot_norm + norm_is + "a character device, not a regular file\n" + norm},
        {"a pipe", "media.norm", asPipe,
         cannot_norm + norm_is + "a pipe, not a regular file\n" + norm},
        {"a read that fails", "media.norm", asUnreadable,
         cannot_norm + norm_is + "read error: Input/output error\n" + norm},
        {"UTF-16, little-endian", "media.norm", asUtf16Little,
         counted + norm_is + "UTF-16 text, not ASCII\n" + norm},
        {"UTF-16, big-endian", "media.norm", asUtf16Big,
         counted + norm_is + "UTF-16 text, not ASCII\n" + norm},
        {"behind a UTF-8 byte-order mark", "media.norm", behindUtf8Mark,
         counted + norm_is + "a UTF-8 byte-order mark before the count\n" + norm},
        {"separated by NUL bytes", "media.norm", separatedByNul,
         counted + norm_is +
             "a NUL byte at byte 2: not ASCII text with values separated by white space\n" + norm},
        {"13 features", "media.norm",
         [](const fs::path& f) { replaceNormToken(f.parent_path(), 0, "13"); },
         counted + norm_is + "the count is 13, not 39\n" + norm},
        {"a count that is not whole", "media.norm",
         [](const fs::path& f) { replaceNormToken(f.parent_path(), 0, "39.0"); },
         counted + norm_is + "the count \"39.0\" is not a whole number\n" + norm},
        {"white space only", "media.norm", [](const fs::path& f) { writeFile(f, " \n\t\n"); },
         counted + norm_is + "no count: only white space\n" + norm},
        {"a directory", "media.am", asDirectory,
         cannot_am + am_is + "a directory, not a regular file\n" + am},
        {"a pipe", "media.am", asPipe, cannot_am + am_is + "a pipe, not a regular file\n" + am},
        {"a read that fails", "media.am", asUnreadable,
         cannot_am + am_is + "read error: Input/output error\n" + am},
    };
    if (::geteuid() != 0) {
        cases.push_back({"not readable by this user", "media.norm",
                         [](const fs::path& f) { fs::permissions(f, fs::perms(0)); },
                         cannot_norm + norm_is + "Permission denied\n" + norm});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        c.prepare(dir / c.file);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, startLines("in.wav out.TextGrid") + c.tail);
        EXPECT_FALSE(fs::exists(dir / "out.TextGrid"));
    }
}

// The lines of a run of in.wav whose save of `output` failed for `reason`.
std::string failedSave(const std::string& output, const std::string& reason) {
    return startLines("in.wav " + output) + LOADED +
           "Loading audio file: in.wav\nProcessing...\nSaving TextGrid: " + output +
           "\nERROR: cannot save TextGrid to: " + output + "\nERROR: " + output + ": " + reason +
           "\nERROR: cannot save: " + output + "\n";
}

TEST(Files, FailedSavesSayWhyAndLeaveThePreviousFile) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);  // after in.wav and out.TextGrid
        std::string output;
        std::string reason;
    };
    std::vector<Case> cases = {
        {"a directory", [](const fs::path& d) { fs::create_directory(d / "grids"); }, "grids",
         "Is a directory"},
        {"a missing folder", nullptr, "nodir/out.TextGrid", "No such file or directory"},
        {"a file as its folder", [](const fs::path& d) { writeFile(d / "note.txt", "a note"); },
         "note.txt/out.TextGrid", "Not a directory"},
        {"a name of 256 bytes", nullptr, std::string(256, 'n'), "File name too long"},
        {"a loop of links",
         [](const fs::path& d) {
             fs::create_symlink("loop.b", d / "loop.a");
             fs::create_symlink("loop.a", d / "loop.b");
         },
         "loop.a", "Too many levels of symbolic links"},
        {"a full device", nullptr, "/dev/full", "No space left on device"},
    };
    if (::geteuid() != 0) {
        cases.push_back(
            {"a file that this user may not write",
             [](const fs::path& d) { fs::permissions(d / "out.TextGrid", fs::perms(0444)); },
             "out.TextGrid", "Permission denied"});
        cases.push_back({"a folder that this user may not write",
                         [](const fs::path& d) {
                             fs::create_directory(d / "locked");
                             writeFile(d / "locked" / "out.TextGrid", "the previous TextGrid");
                             fs::permissions(d / "locked", fs::perms(0555));
                         },
                         "locked/out.TextGrid",
                         "cannot create a temporary file beside it: Permission denied"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        writeFile(dir / "out.TextGrid", "the previous TextGrid");
        if (c.prepare != nullptr) c.prepare(dir);
        const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav " + c.output);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, failedSave(c.output, c.reason));
        EXPECT_EQ(readFile(dir / "out.TextGrid"), "the previous TextGrid");
        EXPECT_FALSE(hasTemporaries(dir));
        if (fs::exists(dir / "locked")) fs::permissions(dir / "locked", fs::perms(0755));
    }
}

TEST(Files, SavesOnAFullOrReadOnlyFileSystemSayWhyAndLeaveThePreviousFile) {
    struct Case {
        const char* name;
        const char* options;
        void (*prepare)(const SmallFileSystem& m);  // after m/out.TextGrid is written
        std::string program;                        // "": tarvik
        std::string output;                         // inside m/
        std::string lines;  // after the program's own lines; "@" stands for m/<output>
    };
    const std::string features = TARVIK_FEATURES_TOOL;
    const std::vector<Case> cases = {
        {"no space left", "size=16k", [](const SmallFileSystem& m) { m.fill(); }, "",
         "out.TextGrid", "No space left on device"},
        {"no inode left", "nr_inodes=2", nullptr, "", "out.TextGrid",
         "cannot create a temporary file beside it: No space left on device"},
        {"a read-only file system", "size=64k",
         [](const SmallFileSystem& m) { ASSERT_TRUE(m.makeReadOnly()); }, "", "out.TextGrid",
         "Read-only file system"},
        {"a new file on a read-only file system", "size=64k",
         [](const SmallFileSystem& m) { ASSERT_TRUE(m.makeReadOnly()); }, "", "new.TextGrid",
         "cannot create a temporary file beside it: Read-only file system"},
        {"tarvik_features on a 16 KB file system", "size=16k", nullptr, features, "out.TextGrid",
         "ERROR: @: No space left on device\nERROR: cannot write: @\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        const SmallFileSystem m(dir / "m", c.options);
        if (!m.mounted) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(m.error);
        writeFile(dir / "m" / "out.TextGrid", "the previous TextGrid");
        if (c.prepare != nullptr) c.prepare(m);
        const std::string output = "m/" + c.output;
        const ProcessRun run =
            runProcess(dir, c.program.empty() ? TARVIK_BINARY : c.program, "in.wav " + output);
        EXPECT_EQ(run.status, 1);
        if (c.program.empty()) {
            EXPECT_EQ(run.output, failedSave(output, c.lines));
        } else {
            std::string lines = c.lines;
            for (auto at = lines.find('@'); at != std::string::npos; at = lines.find('@')) {
                lines.replace(at, 1, output);
            }
            EXPECT_EQ(run.output, lines);
        }
        EXPECT_EQ(readFile(dir / "m" / "out.TextGrid"), "the previous TextGrid");
        EXPECT_FALSE(fs::exists(dir / "m" / "new.TextGrid"));
        EXPECT_FALSE(hasTemporaries(dir / "m"));
    }
}

TEST(Files, TheFileOnStandardOutputOrErrorIsWrittenWhereItStandsNeverReplaced) {
    struct Case {
        const char* name;
        std::string command;  // "T" stands for tarvik; run after log.txt is "earlier"
        std::string file;     // the file that must hold what `expected` says
        std::string expected;
    };
    const std::string grid = readFile(GOLDEN + "speech.TextGrid");
    const std::vector<Case> cases = {
        {"/dev/stdout appended to a log", "T in.wav /dev/stdout >> log.txt 2>&1", "log.txt",
         "earlier\n" + consoleWithGrid("/dev/stdout", grid)},
        {"/dev/stdout written over a log", "T in.wav /dev/stdout > log.txt 2>&1", "log.txt",
         consoleWithGrid("/dev/stdout", grid)},
        {"/dev/stderr appended to a log", "T in.wav /dev/stderr 2>> log.txt > console.txt",
         "log.txt", "earlier\n" + grid},
        {"/dev/fd/3", "T in.wav /dev/fd/3 3>> log.txt > console.txt", "log.txt",
         "earlier\n" + grid},
        {"/proc/self/fd/1", "T in.wav /proc/self/fd/1 >> log.txt 2>&1", "log.txt",
         "earlier\n" + consoleWithGrid("/proc/self/fd/1", grid)},
        {"the name of the log on standard output", "T in.wav log.txt >> log.txt 2>&1", "log.txt",
         "earlier\n" + consoleWithGrid("log.txt", grid)},
        {"a link to the log on standard output",
         "ln -s log.txt link.txt && T in.wav link.txt >> log.txt 2>&1", "log.txt",
         "earlier\n" + consoleWithGrid("link.txt", grid)},
        {"the name of the log on standard error", "T in.wav log.txt 2>> log.txt > console.txt",
         "log.txt", "earlier\n" + grid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        writeFile(dir / "log.txt", "earlier\n");
        std::string command = c.command;
        command.replace(command.find('T'), 1, quoted(TARVIK_BINARY));
        EXPECT_EQ(runShell(dir, command + " < /dev/null"), 0);
        EXPECT_EQ(readFile(dir / c.file), c.expected);
        EXPECT_FALSE(hasTemporaries(dir));
    }
}

TEST(Files, AsRootAReplacedTextGridKeepsItsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    const fs::path dir = testWorkDir("files_");
    writeFile(dir / "in.wav", canonical());
    writeFile(dir / "out.TextGrid", "the previous TextGrid");
    ASSERT_EQ(::chown((dir / "out.TextGrid").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod((dir / "out.TextGrid").c_str(), 0600), 0);
    const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav out.TextGrid");
    EXPECT_EQ(run.status, 0) << run.output;
    struct stat info {};
    ASSERT_EQ(::stat((dir / "out.TextGrid").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(dir / "out.TextGrid"), readFile(GOLDEN + "speech.TextGrid"));
}

TEST(Files, OutputPathsToTheLongestThatLinuxTakesAreWritten) {
    // 4095 bytes, the longest path that PATH_MAX (4096 with its zero) allows, of which the name is
    // 8 bytes: shorter than the temporary file's name, whose path would not fit beside it.
    const fs::path dir = testWorkDir("files_");
    writeFile(dir / "in.wav", canonical());
    const std::string name = "/out.grd";
    std::string folder = "d";
    while (4095 - name.size() - folder.size() > 202) folder += "/" + std::string(200, 'd');
    folder += "/" + std::string(4095 - name.size() - folder.size() - 1, 'd');
    // Made from inside the run's folder: its path from the root would be too long.
    const fs::path start = fs::current_path();
    fs::current_path(dir);
    fs::create_directories(folder);
    fs::current_path(start);
    const std::string output = folder + name;
    ASSERT_EQ(output.size(), 4095u);
    const ProcessRun run = runProcess(dir, TARVIK_BINARY, "in.wav " + output);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, goldenConsole(output));
    fs::current_path(dir);
    EXPECT_EQ(readFile(output), readFile(GOLDEN + "speech.TextGrid"));
    EXPECT_FALSE(hasTemporaries("d"));
    fs::current_path(start);
}

// Whether strace runs here, with the delay of a system call that it injects (strace 5.3 on).
bool straceRuns() {
    return std::system(
               "strace -o /dev/null -e trace=getpid -e inject=getpid:delay_enter=1 "
               "true > /dev/null 2>&1") == 0;
}

// The pid in `file` once it holds one; -1 after 30 s.
pid_t waitForPid(const fs::path& file) {
    for (int i = 0; i < 30000; ++i) {
        const std::string text = readFile(file);
        if (!text.empty() && text.back() == '\n') return std::stoi(text);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

// Waits until a temporary file exists in `dir`; false after 30 s.
bool waitForTemporary(const fs::path& dir) {
    for (int i = 0; i < 30000; ++i) {
        if (hasTemporaries(dir)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// 128 + the signal that ended the child `pid`, or its exit status.
int endOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// A child that runs `argv` in `dir` with the three signals at their default, its standard output
// `out` (or the console file), its standard error the console file.
pid_t startIn(const fs::path& dir, const std::vector<std::string>& argv, int out = -1) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child != 0) return child;
    for (int number : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) ::signal(number, SIG_DFL);
    const int console = ::open((dir / "console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDONLY);
    if (::chdir(dir.c_str()) != 0 || console < 0 || null < 0 || ::dup2(null, 0) < 0 ||
        ::dup2(out >= 0 ? out : console, 1) < 0 || ::dup2(console, 2) < 0) {
        ::_exit(126);
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
}

TEST(Files, ASignalDuringTheSaveLeavesThePreviousTextGridAndNoTemporaryFile) {
    if (!straceRuns()) GTEST_SKIP() << "no strace that can delay a system call";
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(number));
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", canonical());
        writeFile(dir / "out.TextGrid", "the previous TextGrid");
        // The save's fsync waits 5 s: long enough to find its temporary file and signal tarvik.
        const std::string tarvik = quoted(TARVIK_BINARY);
        const pid_t strace =
            startIn(dir, {"strace", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                          "inject=fsync:delay_enter=5000000", "--", "sh", "-c",
                          "echo $$ > tarvik.pid; exec " + tarvik + " in.wav out.TextGrid"});
        const pid_t pid = waitForPid(dir / "tarvik.pid");
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitForTemporary(dir));
        ASSERT_EQ(::kill(pid, number), 0);
        EXPECT_EQ(endOf(strace), 128 + number);
        EXPECT_EQ(readFile(dir / "out.TextGrid"), "the previous TextGrid");
        EXPECT_FALSE(hasTemporaries(dir));
        const std::string console = readFile(dir / "console.txt");
        EXPECT_NE(console.find("Saving TextGrid: out.TextGrid\n"), std::string::npos) << console;
        EXPECT_EQ(console.find("Done!"), std::string::npos) << console;
    }
}

// The golden samples `times` over, as one canonical recording.
Bytes repeatedSpeech(int times) {
    Bytes samples;
    for (int i = 0; i < times; ++i) samples += goldenSamples();
    return riff(chunk("fmt ", fmtBody()) + chunk("data", samples));
}

TEST(Files, ASignalDuringAToolsRunLeavesItsOutputsAsTheyWere) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(number));
        const fs::path dir = testWorkDir("files_");
        writeFile(dir / "in.wav", repeatedSpeech(10));
        writeFile(dir / "inputs.f64", "the previous inputs");
        // Its frames go to a pipe that nobody reads: once the pipe is full the tool waits, its
        // network inputs half written to their temporary file.
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t tool = startIn(
            dir, {TARVIK_FRAMES_TOOL, "--network-input", "inputs.f64", "in.wav", "-"}, ends[1]);
        ::close(ends[1]);
        // A first 64 KB of frames in the pipe: the tool has written as many inputs.
        int waiting = 0;
        for (int i = 0; i < 3000 && waiting < 60000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::ioctl(ends[0], FIONREAD, &waiting);
        }
        EXPECT_GE(waiting, 60000);
        EXPECT_TRUE(hasTemporaries(dir));
        ASSERT_EQ(::kill(tool, number), 0);
        EXPECT_EQ(endOf(tool), 128 + number);
        ::close(ends[0]);
        EXPECT_EQ(readFile(dir / "inputs.f64"), "the previous inputs");
        EXPECT_FALSE(hasTemporaries(dir));
    }
}

TEST(Files, ToolsRefuseTheOutputsThatTarvikRefuses) {
    struct Case {
        const char* tool;
        std::string args;
        std::string line;
    };
    const std::string held = "ERROR: output holds a recording (RIFF/WAVE), not replaced: ";
    const std::vector<Case> cases = {
        {TARVIK_FEATURES_TOOL, "a.wav a.wav", "ERROR: output is the input recording: a.wav"},
        {TARVIK_FEATURES_TOOL, "--raw a.wav ./a.wav",
         "ERROR: output is the input recording: ./a.wav"},
        {TARVIK_FEATURES_TOOL, "a.wav b.wav", held + "b.wav"},
        {TARVIK_FEATURES_TOOL, "out.tsv a.wav", held + "a.wav"},
        {TARVIK_FEATURES_TOOL, "a.wav media.norm",
         "ERROR: output is the model file media.norm: media.norm"},
        {TARVIK_FRAMES_TOOL, "a.wav media.norm",
         "ERROR: output is the model file media.norm: media.norm"},
        {TARVIK_FRAMES_TOOL, "a.wav a.wav", "ERROR: output is the input recording: a.wav"},
        {TARVIK_FRAMES_TOOL, "a.wav b.wav", held + "b.wav"},
        {TARVIK_FRAMES_TOOL, "--network-input media.am a.wav out.tsv",
         "ERROR: output is the model file media.am: media.am"},
        {TARVIK_FRAMES_TOOL, "--network-input b.wav a.wav out.tsv", held + "b.wav"},
        {TARVIK_FRAMES_TOOL, "--network-input x.f64 a.wav ./x.f64",
         "ERROR: both outputs are the same file: ./x.f64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.args);
        const fs::path dir = testWorkDir("files_");
        twoRecordings(dir);
        writeFile(dir / "out.tsv", "an older table");
        const auto before = snapshot(dir);
        const ProcessRun run = runProcess(dir, c.tool, c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, c.line + "\n");
        EXPECT_EQ(snapshot(dir), before);
    }
}

TEST(Files, ToolsReplaceTheirOutputsOnlyWhenWhole) {
    const fs::path dir = testWorkDir("files_");
    writeFile(dir / "in.wav", canonical());
    writeFile(dir / "old.tsv", "the previous table");
    fs::permissions(dir / "old.tsv", fs::perms(0640));
    const std::string features = quoted(TARVIK_FEATURES_TOOL);
    const std::string frames = quoted(TARVIK_FRAMES_TOOL);
    const std::string limit = "trap '' XFSZ && ulimit -f 16 && ";
    // Cut short by the file size limit: the previous file stays, and nothing else.
    EXPECT_EQ(runShell(dir, "(" + limit + features + " in.wav old.tsv) 2> console.txt"), 1);
    EXPECT_EQ(readFile(dir / "console.txt"),
              "ERROR: old.tsv: File too large\nERROR: cannot write: old.tsv\n");
    EXPECT_EQ(runShell(dir, "(" + limit + frames +
                                " --network-input old.tsv in.wav f.tsv) 2> console.txt"),
              1);
    EXPECT_EQ(readFile(dir / "console.txt"),
              LOADED +
                  "ERROR: f.tsv: File too large\nERROR: cannot write: f.tsv\nERROR: old.tsv: File "
                  "too large\nERROR: cannot write: old.tsv\n");
    EXPECT_FALSE(fs::exists(dir / "f.tsv"));
    EXPECT_EQ(readFile(dir / "old.tsv"), "the previous table");
    EXPECT_FALSE(hasTemporaries(dir));
    // Whole: replaced, its permissions kept.
    EXPECT_EQ(runShell(dir, features + " in.wav old.tsv 2> console.txt"), 0);
    EXPECT_EQ(runShell(dir, features + " in.wav - > new.tsv 2> console.txt"), 0);
    EXPECT_EQ(readFile(dir / "old.tsv"), readFile(dir / "new.tsv"));
    EXPECT_EQ(fs::status(dir / "old.tsv").permissions(), fs::perms(0640));
    // Standard output that is a log: appended to, never renamed over.
    writeFile(dir / "log.txt", "earlier\n");
    EXPECT_EQ(runShell(dir, frames + " in.wav /dev/stdout >> log.txt 2> console.txt"), 0);
    EXPECT_EQ(readFile(dir / "log.txt"), "earlier\n" + readFile(GOLDEN + "frames.tsv"));
    EXPECT_FALSE(hasTemporaries(dir));
}

}  // namespace
}  // namespace tarvik
