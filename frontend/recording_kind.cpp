#include "frontend/recording_kind.h"

#include <cstring>

namespace tarvik {

namespace {

bool startsWith(const unsigned char* bytes, std::size_t size, std::size_t at, const char* tag) {
    const std::size_t length = std::strlen(tag);
    return size >= at + length && std::memcmp(bytes + at, tag, length) == 0;
}

// An MPEG audio frame header: 11 sync bits, then no reserved version, layer, bit rate or
// sampling rate, so that samples of a raw recording rarely pass for one.
bool mpegFrame(const unsigned char* b, std::size_t size) {
    if (size < 3 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
    const int version = (b[1] >> 3) & 3;
    const int layer = (b[1] >> 1) & 3;
    const int bitrate = b[2] >> 4;
    const int rate = (b[2] >> 2) & 3;
    return version != 1 && layer != 0 && bitrate != 15 && rate != 3;
}

// An ADTS header of AAC: 12 sync bits, MPEG-4 or -2, layer 0, a sampling index below 13.
bool adtsFrame(const unsigned char* b, std::size_t size) {
    return size >= 3 && b[0] == 0xFF && (b[1] & 0xF6) == 0xF0 && ((b[2] >> 2) & 0xF) < 13;
}

}  // namespace

std::string recordingKind(const unsigned char* bytes, std::size_t size) {
    if (startsWith(bytes, size, 0, "RIFF") && startsWith(bytes, size, 8, "WAVE")) {
        return "RIFF/WAVE";
    }
    if (startsWith(bytes, size, 0, "RIFX")) return "big-endian (RIFX)";
    if (startsWith(bytes, size, 0, "RF64")) return "RF64";
    if (startsWith(bytes, size, 0, "FORM") &&
        (startsWith(bytes, size, 8, "AIFF") || startsWith(bytes, size, 8, "AIFC"))) {
        return "AIFF";
    }
    if (startsWith(bytes, size, 0, "fLaC")) return "FLAC";
    if (startsWith(bytes, size, 0, "OggS")) return "Ogg";
    if (startsWith(bytes, size, 0, "ID3")) return "MP3 (ID3 tag)";
    if (mpegFrame(bytes, size)) return "MPEG audio";
    if (adtsFrame(bytes, size)) return "AAC (ADTS)";
    return {};
}

}  // namespace tarvik
