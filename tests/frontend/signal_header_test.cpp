// Where the samples of a recording lie, on bytes in memory: the chunk walk of RIFF/WAVE files,
// the data sizes that streaming tools write, and what is refused with which reason.
#include "frontend/signal_header.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "frontend/signal.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

using Bytes = std::string;

Bytes u16(unsigned value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

Bytes u32(unsigned long value) { return u16(value & 0xFFFF) + u16((value >> 16) & 0xFFFF); }

Bytes chunk(const char* id, const Bytes& body) {
    Bytes bytes = Bytes(id, 4) + u32(body.size()) + body;
    if (body.size() % 2 != 0) bytes.push_back('\0');
    return bytes;
}

Bytes fmtBody(unsigned tag = 1, unsigned channels = 1, unsigned long rate = 16000,
              unsigned bits = 16) {
    const unsigned align = channels * bits / 8;
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * align) + u16(align) + u16(bits);
}

Bytes riff(const Bytes& chunks) { return "RIFF" + u32(4 + chunks.size()) + "WAVE" + chunks; }

const Bytes FMT = chunk("fmt ", fmtBody());
const Bytes SAMPLES(3200, '\x11');  // 1600 samples

// A data chunk whose size field says `size`, followed by SAMPLES.
Bytes streamed(unsigned long size) { return riff(FMT + "data" + u32(size) + SAMPLES); }

SampleLayout layoutOf(const Bytes& file, bool has_header = true) {
    std::istringstream in(file);
    return findSamples(in, static_cast<std::streamoff>(file.size()), has_header);
}

TEST(SignalHeader, SamplesAreFoundWhereTheChunksSay) {
    struct Case {
        const char* name;
        Bytes file;
        std::streamoff offset;
        long long count;
    };
    // 44 bytes of UTF-16LE text: the start of a TextGrid that Praat saved so.
    const Bytes text = test_support::utf16("File type = \"ooTextFi", true);
    const std::vector<Case> cases = {
        {"canonical", riff(FMT + chunk("data", SAMPLES)), 44, 1600},
        {"chunks before fmt, odd one padded",
         riff(chunk("JUNK", Bytes(28, '\0')) + chunk("odd ", "seven..") + FMT +
              chunk("data", SAMPLES)),
         44 + 36 + 16, 1600},
        {"chunk after data", riff(FMT + chunk("data", SAMPLES) + chunk("LIST", Bytes(94, 'i'))), 44,
         1600},
        {"odd data size: the last byte is no sample", riff(FMT + chunk("data", SAMPLES + "x")), 44,
         1600},
        {"data size 0: to the end", streamed(0), 44, 1600},
        {"data size 0xFFFFFFFF: to the end", streamed(0xFFFFFFFF), 44, 1600},
        {"sox's 0x7FFFF000, claiming more than the file: to the end", streamed(0x7FFFF000), 44,
         1600},
        {"sox's 0x7FFFF000 after more than it: to the end", streamed(0x7FFFF000) + "xy", 44, 1601},
        {"a data size that fits is taken", streamed(1000), 44, 500},
        {"no RIFF: 44 bytes skipped", Bytes(44, 'x') + SAMPLES, 44, 1600},
        {"no RIFF, shorter than 44 bytes", Bytes(10, 'x'), 44, 5 - 22},
        {"UTF-16 text is no recording: 44 bytes skipped", text + SAMPLES, 44, 1600},
    };
    for (const Case& c : cases) {
        const SampleLayout layout = layoutOf(c.file);
        EXPECT_EQ(layout.result, Signal::LOAD_OK) << c.name << ": " << layout.reason;
        EXPECT_EQ(layout.reason, "") << c.name;
        EXPECT_EQ(layout.offset, c.offset) << c.name;
        EXPECT_EQ(layout.count, c.count) << c.name;
    }
}

TEST(SignalHeader, WithoutTheHeaderTheWholeFileIsSamples) {
    const SampleLayout layout = layoutOf(streamed(0x7FFFF002), false);
    EXPECT_EQ(layout.result, Signal::LOAD_OK);
    EXPECT_EQ(layout.offset, 0);
    EXPECT_EQ(layout.count, (44 + 3200) / 2);
}

TEST(SignalHeader, WhatCannotBeReadIsRefusedWithTheReason) {
    struct Case {
        const char* name;
        Bytes file;
        int result;
        std::string reason;
    };
    const std::string not_pcm = "not 16 kHz mono 16-bit PCM: ";
    const std::string not_wave = "not a RIFF/WAVE file: ";
    const Bytes wav = riff(FMT + chunk("data", SAMPLES));
    const Bytes tag = Bytes("ID3\4\0\0\0\0\0\x10", 10) + Bytes(16, '\0');
    const std::vector<Case> cases = {
        {"data cut short", streamed(6400), Signal::LOAD_SHORT_HEADER,
         "data chunk cut short: 3200 of 6400 bytes"},
        {"a size one above sox's, cut short", streamed(0x7FFFF001), Signal::LOAD_SHORT_HEADER,
         "data chunk cut short: 3200 of 2147479553 bytes"},
        {"a size one below sox's, cut short", streamed(0x7FFFEFFF), Signal::LOAD_SHORT_HEADER,
         "data chunk cut short: 3200 of 2147479551 bytes"},
        {"a chunk before data cut short", riff("JUNK" + u32(1000) + Bytes(28, '\0')),
         Signal::LOAD_SHORT_HEADER, "\"JUNK\" chunk cut short"},
        {"sox's size on a chunk other than data", riff("LIST" + u32(0x7FFFF000) + Bytes(28, '\0')),
         Signal::LOAD_SHORT_HEADER, "\"LIST\" chunk cut short"},
        {"RIFF shorter than 44 bytes", wav.substr(0, 43), Signal::LOAD_SHORT_HEADER,
         "RIFF header cut short"},
        {"no data chunk", riff(FMT + chunk("LIST", Bytes(40, 'i'))), Signal::LOAD_BAD_FORMAT,
         "no data chunk"},
        {"data before fmt", riff(chunk("data", SAMPLES) + FMT), Signal::LOAD_BAD_FORMAT,
         "no fmt chunk before data"},
        {"stereo", riff(chunk("fmt ", fmtBody(1, 2)) + chunk("data", SAMPLES)),
         Signal::LOAD_BAD_FORMAT, not_pcm + "stereo"},
        {"FLAC", Bytes("fLaC\0\0\0\x22", 8) + SAMPLES, Signal::LOAD_BAD_FORMAT, not_wave + "FLAC"},
        {"MP3 with an ID3 tag", Bytes("ID3\4\0\0", 6) + SAMPLES, Signal::LOAD_BAD_FORMAT,
         not_wave + "MP3 (ID3 tag)"},
        {"WAV behind an ID3 tag", tag + wav, Signal::LOAD_BAD_FORMAT,
         not_wave + "RIFF/WAVE behind an ID3 tag"},
        {"MPEG frames", "\xFF\xFB\x90\x64" + SAMPLES, Signal::LOAD_BAD_FORMAT,
         not_wave + "MPEG audio"},
    };
    for (const Case& c : cases) {
        const SampleLayout layout = layoutOf(c.file);
        EXPECT_EQ(layout.result, c.result) << c.name;
        EXPECT_EQ(layout.reason, c.reason) << c.name;
    }
}

}  // namespace
}  // namespace tarvik
