// What the start of a file says it holds, on bytes in memory: the containers of recordings,
// what an ID3 tag hides, and text that only looks like a frame of MPEG audio.
#include "frontend/recording_kind.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace tarvik {
namespace {

using Bytes = std::string;
using test_support::utf16;

std::string kindOf(const Bytes& bytes) {
    return recordingKind(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// An ID3v2 tag of version `major` with a body of `body` bytes (a footer when `footer`).
Bytes id3Tag(unsigned major, std::size_t body, bool footer = false) {
    Bytes tag = "ID3";
    tag += static_cast<char>(major);
    tag += '\0';
    tag += static_cast<char>(footer ? 0x10 : 0x00);
    for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((body >> shift) & 0x7F);
    tag += Bytes(body, '\0');
    if (footer) tag += "3DI" + tag.substr(3, 7);
    return tag;
}

const Bytes WAVE = Bytes("RIFF\x24\0\0\0WAVEfmt ", 16);

TEST(RecordingKind, TheStartOfAFileNamesItsContainer) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string kind;
    };
    const std::vector<Case> cases = {
        {"RIFF/WAVE", WAVE, "RIFF/WAVE"},
        {"RIFF of another form", Bytes("RIFF\0\0\0\0AVI ", 12), ""},
        {"RIFX", Bytes("RIFX\0\0\0\x24WAVE", 12), "big-endian (RIFX)"},
        {"RF64", "RF64\xFF\xFF\xFF\xFFWAVE", "RF64"},
        {"AIFF", Bytes("FORM\0\0\1\0AIFF", 12), "AIFF"},
        {"AIFC", Bytes("FORM\0\0\1\0AIFC", 12), "AIFF"},
        {"FORM of another kind", Bytes("FORM\0\0\1\0ILBM", 12), ""},
        {"FLAC", Bytes("fLaC\0\0\0\x22", 8), "FLAC"},
        {"Ogg", Bytes("OggS\0\2", 6), "Ogg"},
        {"MP3 with a tag", Bytes("ID3\4\0\0", 6), "MP3 (ID3 tag)"},
        {"MPEG-1 Layer III frame", "\xFF\xFB\x90\x64", "MPEG audio"},
        {"MPEG-1 Layer I frame with a CRC", "\xFF\xFE\x90\x64", "MPEG audio"},
        {"MPEG frame of a reserved version", "\xFF\xEB\x90\x64", ""},
        {"MPEG frame of the bad bit rate 15", "\xFF\xFB\xF0\x64", ""},
        {"AAC frame", "\xFF\xF1\x50\x80", "AAC (ADTS)"},
        {"UTF-16LE TextGrid", utf16("File type = \"ooTextFile\"", true).substr(0, 12), ""},
        {"UTF-16LE text of one character",
         Bytes("\xFF\xFE"
               "F\0",
               4),
         ""},
        {"UTF-16LE, lines", utf16("\r\n\tx", true), ""},
        {"UTF-16BE TextGrid", utf16("File type", false).substr(0, 12), ""},
        {"UTF-8 TextGrid with its mark",
         "\xEF\xBB\xBF"
         "File type",
         ""},
        {"UTF-8 TextGrid", "File type = \"ooTextFile\"", ""},
        {"UTF-16LE mark before text that is not ASCII", Bytes("\xFF\xFE\x90\x64", 4), "MPEG audio"},
        {"empty", "", ""},
        {"one byte of a frame", "\xFF", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kindOf(c.bytes), c.kind) << c.name;
    }
}

TEST(RecordingKind, AnId3TagIsMeasuredFromItsHeader) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::uint64_t length;
    };
    const std::vector<Case> cases = {
        {"version 3, empty body", id3Tag(3, 0), 10},
        {"version 4, 300 bytes", id3Tag(4, 300), 310},
        {"version 4 with a footer", id3Tag(4, 5, true), 25},
        {"version 2", id3Tag(2, 1), 11},
        {"seven bits a byte", Bytes("ID3\3\0\0\x01\x02\x03\x04", 10),
         10 + ((1u << 21) | (2u << 14) | (3u << 7) | 4u)},
        {"a size byte above 0x7F", Bytes("ID3\3\0\0\0\0\x80\0", 10), 0},
        {"version 5", Bytes("ID3\5\0\0\0\0\0\0", 10), 0},
        {"revision 0xFF", Bytes("ID3\3\xFF\0\0\0\0\0", 10), 0},
        {"header cut short", Bytes("ID3\4\0\0", 6), 0},
        {"no tag", WAVE, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            id3TagBytes(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()),
            c.length)
            << c.name;
    }
}

TEST(RecordingKind, WhatFollowsAnId3TagIsNamed) {
    struct Case {
        const char* name;
        Bytes file;
        std::string kind;
    };
    const std::vector<Case> cases = {
        {"WAV behind a tag", id3Tag(3, 20) + WAVE, "RIFF/WAVE behind an ID3 tag"},
        {"WAV behind a tag with a footer", id3Tag(4, 7, true) + WAVE,
         "RIFF/WAVE behind an ID3 tag"},
        {"FLAC behind a tag", id3Tag(3, 4) + Bytes("fLaC\0\0\0\x22", 8), "FLAC behind an ID3 tag"},
        {"AAC behind a tag", id3Tag(4, 100) + "\xFF\xF1\x50\x80", "AAC (ADTS) behind an ID3 tag"},
        {"MP3 behind a tag", id3Tag(3, 50) + "\xFF\xFB\x90\x64", "MP3 (ID3 tag)"},
        {"two tags", id3Tag(3, 2) + id3Tag(4, 2) + "\xFF\xFB\x90\x64", "MP3 (ID3 tag)"},
        {"nothing known behind a tag", id3Tag(3, 10) + "plain text", "MP3 (ID3 tag)"},
        {"a tag and nothing else", id3Tag(3, 10), "MP3 (ID3 tag)"},
        {"a tag that claims more than the file", id3Tag(3, 10).substr(0, 12), "MP3 (ID3 tag)"},
        {"an ID3 magic without a valid header", Bytes("ID3\4\0\0", 6) + WAVE, "MP3 (ID3 tag)"},
        {"no tag", WAVE, "RIFF/WAVE"},
        {"text", "File type = \"ooTextFile\"\n", ""},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.file);
        EXPECT_EQ(recordingKindOf(in), c.kind) << c.name;
        EXPECT_TRUE(in.good()) << c.name;
    }
}

}  // namespace
}  // namespace tarvik
