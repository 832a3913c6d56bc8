// Which output paths tarvik and its tools must not write, and what they say about them.
#include "app/output_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using test_support::writeFile;
using Bytes = std::string;
using test_support::utf16;

const Bytes GRID = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n";
const Bytes WAVE = Bytes("RIFF\x24\0\0\0WAVEfmt ", 16) + Bytes(40, '\0');

TEST(OutputGuard, OutputsThatWouldDestroyAFileAreRefused) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);  // after in.wav, media.norm and media.am
        std::string output;
        std::string refusal;  // empty: may be written
    };
    const std::string held = "ERROR: output holds a recording (";
    const std::vector<Case> cases = {
        {"a new file", nullptr, "out.TextGrid", ""},
        {"the input", nullptr, "in.wav", "ERROR: output is the input recording: in.wav"},
        {"the input, spelled otherwise", nullptr, "./in.wav",
         "ERROR: output is the input recording: ./in.wav"},
        {"a hard link to the input",
         [](const fs::path& d) { fs::create_hard_link(d / "in.wav", d / "hard"); }, "hard",
         "ERROR: output is the input recording: hard"},
        {"a symbolic link to the input",
         [](const fs::path& d) { fs::create_symlink("in.wav", d / "soft.TextGrid"); },
         "soft.TextGrid", "ERROR: output is the input recording: soft.TextGrid"},
        {"a model file", nullptr, "media.norm",
         "ERROR: output is the model file media.norm: media.norm"},
        {"the other model file", nullptr, "./media.am",
         "ERROR: output is the model file media.am: ./media.am"},
        {"another recording", [](const fs::path& d) { writeFile(d / "b.wav", WAVE); }, "b.wav",
         held + "RIFF/WAVE), not replaced: b.wav"},
        {"a recording behind an ID3 tag",
         [](const fs::path& d) { writeFile(d / "t.wav", Bytes("ID3\3\0\0\0\0\0\2xy", 12) + WAVE); },
         "t.wav", held + "RIFF/WAVE behind an ID3 tag), not replaced: t.wav"},
        {"an MP3 with a tag",
         [](const fs::path& d) {
             writeFile(d / "s.mp3", Bytes("ID3\3\0\0\0\0\0\0", 10) + "\xFF\xFB\x90\x64");
         },
         "s.mp3", held + "MP3 (ID3 tag)), not replaced: s.mp3"},
        {"an MPEG frame", [](const fs::path& d) { writeFile(d / "f", "\xFF\xFB\x90\x64"); }, "f",
         held + "MPEG audio), not replaced: f"},
        {"a TextGrid", [](const fs::path& d) { writeFile(d / "o", GRID); }, "o", ""},
        {"a TextGrid in UTF-8 with its mark",
         [](const fs::path& d) { writeFile(d / "o", "\xEF\xBB\xBF" + GRID); }, "o", ""},
        {"a TextGrid in UTF-16LE", [](const fs::path& d) { writeFile(d / "o", utf16(GRID, true)); },
         "o", ""},
        {"a TextGrid in UTF-16BE",
         [](const fs::path& d) { writeFile(d / "o", utf16(GRID, false)); }, "o", ""},
        {"FF FE 46 00: one UTF-16 character",
         [](const fs::path& d) {
             writeFile(d / "o", Bytes("\xFF\xFE"
                                      "F\0",
                                      4));
         },
         "o", ""},
        {"an empty file", [](const fs::path& d) { writeFile(d / "o", ""); }, "o", ""},
        {"a directory, whose save fails on its own",
         [](const fs::path& d) { fs::create_directory(d / "o"); }, "o", ""},
        {"a link to a recording",
         [](const fs::path& d) {
             writeFile(d / "b.wav", WAVE);
             fs::create_symlink("b.wav", d / "link");
         },
         "link", held + "RIFF/WAVE), not replaced: link"},
        {"a device", nullptr, "/dev/null", ""},
    };
    const fs::path start = fs::current_path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = fs::absolute(test_support::scratchDir("guard_"));
        fs::current_path(dir);
        writeFile("in.wav", WAVE);
        writeFile("media.norm", "39");
        writeFile("media.am", "model");
        if (c.prepare != nullptr) c.prepare(dir);
        EXPECT_EQ(outputRefusal(c.output, "in.wav", {"media.norm", "media.am"}), c.refusal);
        fs::current_path(start);
    }
}

}  // namespace
}  // namespace tarvik
