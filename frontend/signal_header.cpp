#include "frontend/signal_header.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frontend/recording_kind.h"
#include "frontend/signal.h"

namespace tarvik {

namespace {

constexpr std::streamoff HEADER_BYTES = 44;
constexpr std::streamoff CHUNK_HEADER_BYTES = 8;
constexpr std::size_t FORMAT_BYTES = 16;
constexpr std::size_t EXTENSIBLE_FORMAT_BYTES = 40;
constexpr unsigned FORMAT_PCM = 1;
constexpr unsigned FORMAT_FLOAT = 3;
constexpr unsigned FORMAT_EXTENSIBLE = 0xFFFE;
// The sub-format GUID of the extensible format after its first four bytes, the format code.
constexpr unsigned char SUBFORMAT_TAIL[] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                            0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The data size that sox writes when it cannot know the length (its output is a pipe); 0 and
// 0xFFFFFFFF are what other streaming tools write.
constexpr std::uint32_t SOX_UNKNOWN_LENGTH = 0x7FFFF000;
const char* const NOT_PCM = "not 16 kHz mono 16-bit PCM: ";
const char* const NOT_WAVE = "not a RIFF/WAVE file: ";

unsigned readU16(const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); }

std::uint32_t readU32(const unsigned char* bytes) {
    return readU16(bytes) | (static_cast<std::uint32_t>(readU16(bytes + 2)) << 16);
}

SampleLayout refuse(int result, std::string reason) { return {result, std::move(reason), 0, 0}; }

// A chunk id as text, with bytes that are not printable shown as '?'.
std::string chunkName(const unsigned char* id) {
    std::string name(reinterpret_cast<const char*>(id), 4);
    for (char& c : name)
        if (c < 0x20 || c > 0x7E) c = '?';
    return "\"" + name + "\"";
}

bool readAt(std::istream& file, std::streamoff at, unsigned char* out, std::size_t count) {
    file.clear();
    file.seekg(at, std::ios::beg);
    file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return file.gcount() == static_cast<std::streamsize>(count);
}

// What is not 16 kHz mono 16-bit PCM about a "fmt " chunk, comma-separated; empty when nothing.
std::string formatProblems(const std::vector<unsigned char>& fmt) {
    if (fmt.size() < FORMAT_BYTES) {
        return "fmt chunk of " + std::to_string(fmt.size()) + " bytes, needs 16";
    }
    std::vector<std::string> problems;
    unsigned tag = readU16(&fmt[0]);
    if (tag == FORMAT_EXTENSIBLE) {
        if (fmt.size() < EXTENSIBLE_FORMAT_BYTES) {
            return "extensible fmt chunk of " + std::to_string(fmt.size()) + " bytes, needs 40";
        }
        const std::uint32_t code = readU32(&fmt[24]);
        const bool known = std::memcmp(&fmt[28], SUBFORMAT_TAIL, sizeof SUBFORMAT_TAIL) == 0;
        if (!known || code > 0xFFFF) {
            problems.push_back("unknown sub-format of the extensible format");
        }
        tag = known ? code : FORMAT_PCM;
    }
    if (tag == FORMAT_FLOAT) {
        problems.push_back("IEEE float");
    } else if (tag != FORMAT_PCM && tag <= 0xFFFF) {
        char text[32];
        std::snprintf(text, sizeof text, "compressed (format 0x%04X)", tag);
        problems.push_back(text);
    }
    const unsigned channels = readU16(&fmt[2]);
    if (channels == 2) {
        problems.push_back("stereo");
    } else if (channels != 1) {
        problems.push_back(std::to_string(channels) + " channels");
    }
    const std::uint32_t rate = readU32(&fmt[4]);
    if (rate != static_cast<std::uint32_t>(Signal::SAMP_FREQ)) {
        problems.push_back(std::to_string(rate) + " Hz");
    }
    // Only PCM says how wide its samples are.
    const unsigned bits = readU16(&fmt[14]);
    if (tag == FORMAT_PCM && bits != 16) problems.push_back(std::to_string(bits) + "-bit");
    std::string text;
    for (const std::string& problem : problems) text += (text.empty() ? "" : ", ") + problem;
    return text.empty() ? text : NOT_PCM + text;
}

// Walks the chunks of a RIFF/WAVE file of `size` bytes, at least 44, from byte 12 on.
SampleLayout walkChunks(std::istream& file, std::streamoff size) {
    bool have_format = false;
    for (std::streamoff at = 12;;) {
        if (at >= size) {
            return refuse(Signal::LOAD_BAD_FORMAT, have_format ? "no data chunk" : "no fmt chunk");
        }
        unsigned char header[CHUNK_HEADER_BYTES];
        if (size - at < CHUNK_HEADER_BYTES || !readAt(file, at, header, sizeof header)) {
            return refuse(Signal::LOAD_SHORT_HEADER,
                          "chunk header cut short at byte " + std::to_string(at));
        }
        const std::streamoff body = at + CHUNK_HEADER_BYTES;
        const std::uint32_t length = readU32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            if (!have_format) return refuse(Signal::LOAD_BAD_FORMAT, "no fmt chunk before data");
            std::streamoff bytes = length;
            if (length == 0 || length == 0xFFFFFFFF ||
                (length == SOX_UNKNOWN_LENGTH && bytes > size - body)) {
                bytes = size - body;
            } else if (bytes > size - body) {
                return refuse(Signal::LOAD_SHORT_HEADER,
                              "data chunk cut short: " + std::to_string(size - body) + " of " +
                                  std::to_string(bytes) + " bytes");
            }
            return {Signal::LOAD_OK, "", body, bytes / 2};
        }
        if (length > size - body) {
            return refuse(Signal::LOAD_SHORT_HEADER, chunkName(header) + " chunk cut short");
        }
        if (std::memcmp(header, "fmt ", 4) == 0 && !have_format) {
            std::vector<unsigned char> fmt(std::min<std::size_t>(length, EXTENSIBLE_FORMAT_BYTES));
            if (!readAt(file, body, fmt.data(), fmt.size())) {
                return refuse(Signal::LOAD_CANNOT_OPEN,
                              Signal::loadResultText(Signal::LOAD_CANNOT_OPEN));
            }
            std::string problems = formatProblems(fmt);
            if (!problems.empty()) return refuse(Signal::LOAD_BAD_FORMAT, std::move(problems));
            have_format = true;
        }
        at = body + length + (length & 1);  // odd sizes are padded to even
    }
}

}  // namespace

SampleLayout findSamples(std::istream& file, std::streamoff size, bool has_header) {
    if (!has_header) return {Signal::LOAD_OK, "", 0, size / 2};
    unsigned char start[HEADER_BYTES];
    const auto available = static_cast<std::size_t>(std::min(size, HEADER_BYTES));
    if (!readAt(file, 0, start, available)) {
        return refuse(Signal::LOAD_CANNOT_OPEN, Signal::loadResultText(Signal::LOAD_CANNOT_OPEN));
    }
    const std::string kind = id3TagBytes(start, available) != 0 ? recordingKindOf(file)
                                                                : recordingKind(start, available);
    if (available >= 4 && std::memcmp(start, "RIFF", 4) == 0) {
        if (size < HEADER_BYTES) {
            return refuse(Signal::LOAD_SHORT_HEADER,
                          Signal::loadResultText(Signal::LOAD_SHORT_HEADER));
        }
        if (kind != "RIFF/WAVE") {
            return refuse(Signal::LOAD_BAD_FORMAT,
                          NOT_WAVE + ("RIFF form " + chunkName(start + 8)));
        }
        return walkChunks(file, size);
    }
    if (!kind.empty()) return refuse(Signal::LOAD_BAD_FORMAT, NOT_WAVE + kind);
    // Any other header is skipped unread; a file shorter than it gives a negative count.
    return {Signal::LOAD_OK, "", HEADER_BYTES, size / 2 - HEADER_BYTES / 2};
}

}  // namespace tarvik
