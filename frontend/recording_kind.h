// Recognises the container formats of recordings by the magic at the start of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

namespace tarvik {

// Bytes that recordingKind needs to see: the start of the file, or all of a shorter file.
inline constexpr std::size_t RECORDING_MAGIC_BYTES = 12;

// The kind of recording that `bytes` (the first `size` bytes of a file) begin with: "RIFF/WAVE",
// "big-endian (RIFX)", "RF64", "AIFF", "FLAC", "Ogg", "MP3 (ID3 tag)", "MPEG audio" or
// "AAC (ADTS)"; empty when the bytes begin with none of these. Text in UTF-16 behind its
// little-endian byte-order mark (FF FE, which is also how an MPEG-1 Layer I frame with a CRC
// begins) is text: a TextGrid that Praat wrote in UTF-16 is no recording.
std::string recordingKind(const unsigned char* bytes, std::size_t size);

// The length of the ID3v2 tag that `bytes` begin with (its 10-byte header, its body and its
// footer); 0 when they begin with none, or with less than the 10 bytes of a valid tag header.
std::uint64_t id3TagBytes(const unsigned char* bytes, std::size_t size);

// What a file holds whose ID3v2 tag is followed by `bytes` (the first `size` bytes after the
// tag): "MP3 (ID3 tag)" when MPEG audio or nothing known follows, else the kind that follows
// "behind an ID3 tag" ("RIFF/WAVE behind an ID3 tag", "FLAC behind an ID3 tag", ...).
std::string kindBehindId3Tag(const unsigned char* bytes, std::size_t size);

// recordingKind of the file that `in` reads (from its start), with what follows an ID3v2 tag
// named by kindBehindId3Tag. Leaves the stream's state cleared.
std::string recordingKindOf(std::istream& in);

}  // namespace tarvik
