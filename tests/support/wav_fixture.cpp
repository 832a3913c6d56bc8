#include "tests/support/wav_fixture.h"

namespace tarvik::test_support {

namespace {

void put(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putTag(std::vector<unsigned char>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

}  // namespace

std::vector<unsigned char> wavHeader(const WavFormat& format, uint32_t sample_bytes) {
    std::vector<unsigned char> out;
    out.reserve(44);
    const uint16_t block_align = format.channels * format.bits / 8;
    putTag(out, "RIFF");
    put(out, 36 + sample_bytes, 4);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put(out, 16, 4);
    put(out, format.format_tag, 2);
    put(out, format.channels, 2);
    put(out, format.rate, 4);
    put(out, format.rate * block_align, 4);
    put(out, block_align, 2);
    put(out, format.bits, 2);
    putTag(out, "data");
    put(out, sample_bytes, 4);
    return out;
}

std::vector<unsigned char> sampleBytes(const std::vector<int16_t>& samples) {
    std::vector<unsigned char> out;
    for (int16_t sample : samples) put(out, static_cast<uint16_t>(sample), 2);
    return out;
}

void writeWav(const std::string& path, const std::vector<int16_t>& samples) {
    auto bytes = wavHeader(WavFormat{}, static_cast<uint32_t>(2 * samples.size()));
    const auto data = sampleBytes(samples);
    bytes.insert(bytes.end(), data.begin(), data.end());
    writeBytes(path, bytes);
}

}  // namespace tarvik::test_support
