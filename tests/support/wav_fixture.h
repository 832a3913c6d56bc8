// Recordings written byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace tarvik::test_support {

struct WavFormat {
    uint16_t format_tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 16000;
    uint16_t bits = 16;
};

// A canonical 44-byte RIFF/WAVE header for `sample_bytes` bytes of data.
std::vector<unsigned char> wavHeader(const WavFormat& format, uint32_t sample_bytes);

// Little-endian 16-bit bytes of `samples`.
std::vector<unsigned char> sampleBytes(const std::vector<int16_t>& samples);

// Writes a 16 kHz mono 16-bit recording with a canonical header.
void writeWav(const std::string& path, const std::vector<int16_t>& samples);

}  // namespace tarvik::test_support
