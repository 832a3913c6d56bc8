#include "tests/app/file_samples.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/files.h"

namespace tarvik::app_test {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::utf16;
using test_support::writeFile;

Bytes u16(unsigned value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

Bytes u32(unsigned long value) { return u16(value & 0xFFFF) + u16((value >> 16) & 0xFFFF); }

Bytes chunk(const char* id, const Bytes& body) {
    Bytes bytes = Bytes(id, 4) + u32(body.size()) + body;
    if (body.size() % 2 != 0) bytes.push_back('\0');
    return bytes;
}

Bytes fmtBody(unsigned tag, unsigned channels, unsigned long rate, unsigned bits) {
    const unsigned align = channels * bits / 8;
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * align) + u16(align) + u16(bits);
}

Bytes extensibleBody(unsigned code, unsigned channels, unsigned long rate, unsigned bits) {
    const Bytes guid_tail("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    return fmtBody(0xFFFE, channels, rate, bits) + u16(22) + u16(bits) + u32(4) + u32(code) +
           guid_tail;
}

Bytes riff(const Bytes& chunks) { return "RIFF" + u32(4 + chunks.size()) + "WAVE" + chunks; }

const Bytes& goldenSamples() {
    static const Bytes samples =
        readFile(std::string(TARVIK_TEST_DATA) + "/golden/speech.wav").substr(44);
    return samples;
}

Bytes canonical() { return riff(chunk("fmt ", fmtBody()) + chunk("data", goldenSamples())); }

namespace {

void writeInput(const fs::path& dir, const Bytes& bytes) { writeFile(dir / "in.wav", bytes); }

// The start of a TextGrid that an earlier run, or Praat, wrote.
const Bytes EARLIER_TEXT_GRID =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 1\n";

// The longest name a file may have (NAME_MAX): "b" x 246 and ".TextGrid".
const std::string LONGEST_NAME = std::string(246, 'b') + ".TextGrid";

// A data chunk whose size field says `size`, followed by the golden samples.
Bytes streamed(unsigned long size) {
    return riff(chunk("fmt ", fmtBody()) + "data" + u32(size) + goldenSamples());
}

const std::vector<GoldenRun>& runs() {
    static const std::vector<GoldenRun> list = {
        {"canonical", [](const fs::path& d) { writeInput(d, canonical()); }},
        {"extensible format, PCM sub-format",
         [](const fs::path& d) {
             writeInput(d, riff(chunk("fmt ", extensibleBody(1)) + chunk("data", goldenSamples())));
         }},
        {"fmt chunk of 18 bytes",
         [](const fs::path& d) {
             writeInput(d,
                        riff(chunk("fmt ", fmtBody() + u16(0)) + chunk("data", goldenSamples())));
         }},
        {"JUNK and bext before fmt",
         [](const fs::path& d) {
             writeInput(d, riff(chunk("JUNK", Bytes(28, '\0')) + chunk("bext", Bytes(602, 'b')) +
                                chunk("fmt ", fmtBody()) + chunk("data", goldenSamples())));
         }},
        {"odd-sized chunk before fmt, padded",
         [](const fs::path& d) {
             writeInput(d, riff(chunk("odd ", "seven..") + chunk("fmt ", fmtBody()) +
                                chunk("data", goldenSamples())));
         }},
        {"LIST of 102 bytes after data",
         [](const fs::path& d) { writeInput(d, canonical() + chunk("LIST", Bytes(94, 'i'))); }},
        {"200 KB chunk after data",
         [](const fs::path& d) { writeInput(d, canonical() + chunk("id3 ", Bytes(200000, 'U'))); }},
        {"data size 0", [](const fs::path& d) { writeInput(d, streamed(0)); }},
        {"data size 0xFFFFFFFF", [](const fs::path& d) { writeInput(d, streamed(0xFFFFFFFF)); }},
        {"data size 0x7FFFF000, as sox writes to a pipe",
         [](const fs::path& d) { writeInput(d, streamed(0x7FFFF000)); }},
        {"no RIFF header: 44 bytes skipped",
         [](const fs::path& d) { writeInput(d, Bytes(44, 'x') + goldenSamples()); }},
        {"existing TextGrid replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             writeFile(d / "out.TextGrid", "an older TextGrid");
         }},
        {"earlier TextGrid in UTF-16, little-endian, replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             writeFile(d / "out.TextGrid", utf16(EARLIER_TEXT_GRID, true));
         }},
        {"earlier TextGrid in UTF-16, big-endian, replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             writeFile(d / "out.TextGrid", utf16(EARLIER_TEXT_GRID, false));
         }},
        {"earlier TextGrid in UTF-8 with its byte-order mark, replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             writeFile(d / "out.TextGrid", "\xEF\xBB\xBF" + EARLIER_TEXT_GRID);
         }},
        {"the four bytes FF FE 46 00 (UTF-16 text) replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             writeFile(d / "out.TextGrid", Bytes("\xFF\xFE"
                                                 "F\0",
                                                 4));
         }},
        {"a name of 255 bytes", [](const fs::path& d) { writeInput(d, canonical()); }, LONGEST_NAME,
         LONGEST_NAME},
        {"symbolic link to a TextGrid: the file it names replaced",
         [](const fs::path& d) {
             writeInput(d, canonical());
             fs::create_directory(d / "grids");
             writeFile(d / "grids" / "real.TextGrid", "an older TextGrid");
             fs::create_symlink("grids/real.TextGrid", d / "link.TextGrid");
         },
         "link.TextGrid", "grids/real.TextGrid"},
        {"closed standard output", [](const fs::path& d) { writeInput(d, canonical()); },
         "out.TextGrid", "out.TextGrid", true},
    };
    return list;
}

// Runs `binary` in.wav `output` in `dir` with its standard output the write end of a pipe whose
// read end is closed, as under `| head -1` once head has gone.
ProcessRun runWithClosedOutput(const fs::path& dir, const std::string& binary,
                               const std::string& output) {
    ProcessRun run;
    int ends[2];
    if (pipe(ends) != 0) return run;
    close(ends[0]);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        const int null = open("/dev/null", O_RDWR);
        if (chdir(dir.c_str()) != 0 || dup2(ends[1], 1) < 0 || dup2(null, 0) < 0 ||
            dup2(null, 2) < 0) {
            _exit(127);
        }
        execl(binary.c_str(), binary.c_str(), "in.wav", output.c_str(), nullptr);
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

const std::vector<GoldenRun>& goldenRuns() { return runs(); }

ProcessRun runGolden(const fs::path& dir, const GoldenRun& run) {
    if (run.closed_output) return runWithClosedOutput(dir, TARVIK_BINARY, run.output);
    return runProcess(dir, TARVIK_BINARY, "in.wav " + run.output);
}

std::string goldenConsole(const std::string& output) {
    return "in.wav -> " + output +
           "\nInitializing...\n+loaded media.norm\n+loaded media.am\nLoading audio file: "
           "in.wav\nProcessing...\nSaving TextGrid: " +
           output + "\nDone!\n";
}

}  // namespace tarvik::app_test
