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

// A printable ASCII character, a tab, a line feed or a carriage return.
bool asciiText(unsigned unit) {
    return (unit >= 0x20 && unit < 0x7F) || unit == '\t' || unit == '\n' || unit == '\r';
}

// The little-endian UTF-16 byte-order mark FF FE, then only whole code units of ASCII text (as
// far as `size` goes): how a TextGrid that Praat saves in UTF-16 begins ("File type = ...").
bool utf16Text(const unsigned char* b, std::size_t size) {
    if (size < 2 || b[0] != 0xFF || b[1] != 0xFE) return false;
    for (std::size_t i = 2; i + 1 < size; i += 2) {
        if (!asciiText(b[i] | (b[i + 1] << 8))) return false;
    }
    return true;
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
    if (utf16Text(bytes, size)) return {};
    if (mpegFrame(bytes, size)) return "MPEG audio";
    if (adtsFrame(bytes, size)) return "AAC (ADTS)";
    return {};
}

// The ID3v2 header: "ID3", a major version of 2 to 4, a revision below 0xFF, the flags, and the
// size of the body in four bytes of seven bits each; a footer of 10 bytes when flag 0x10 is set.
std::uint64_t id3TagBytes(const unsigned char* bytes, std::size_t size) {
    constexpr std::size_t HEADER = 10;
    if (size < HEADER || !startsWith(bytes, size, 0, "ID3")) return 0;
    if (bytes[3] < 2 || bytes[3] > 4 || bytes[4] == 0xFF) return 0;
    std::uint64_t body = 0;
    for (std::size_t i = 6; i < HEADER; ++i) {
        if (bytes[i] >= 0x80) return 0;
        body = (body << 7) | bytes[i];
    }
    const bool footer = bytes[3] == 4 && (bytes[5] & 0x10) != 0;
    return HEADER + body + (footer ? HEADER : 0);
}

std::string kindBehindId3Tag(const unsigned char* bytes, std::size_t size) {
    const std::string kind = recordingKind(bytes, size);
    if (kind.empty() || kind == "MPEG audio" || kind == "MP3 (ID3 tag)") return "MP3 (ID3 tag)";
    return kind + " behind an ID3 tag";
}

std::string recordingKindOf(std::istream& in) {
    unsigned char start[RECORDING_MAGIC_BYTES];
    auto readAt = [&in](std::uint64_t at, unsigned char* out) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at), std::ios::beg);
        in.read(reinterpret_cast<char*>(out), RECORDING_MAGIC_BYTES);
        const auto got = static_cast<std::size_t>(in.gcount());
        in.clear();
        return got;
    };
    const std::size_t size = readAt(0, start);
    std::string kind = recordingKind(start, size);
    const std::uint64_t tag = id3TagBytes(start, size);
    if (tag == 0) return kind;
    unsigned char after[RECORDING_MAGIC_BYTES];
    return kindBehindId3Tag(after, readAt(tag, after));
}

}  // namespace tarvik
