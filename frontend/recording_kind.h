// Recognises the container formats of recordings by the magic at the start of a file.
#pragma once

#include <cstddef>
#include <string>

namespace tarvik {

// Bytes that recordingKind needs to see: the start of the file, or all of a shorter file.
inline constexpr std::size_t RECORDING_MAGIC_BYTES = 12;

// The kind of recording that `bytes` (the first `size` bytes of a file) begin with: "RIFF/WAVE",
// "big-endian (RIFX)", "RF64", "AIFF", "FLAC", "Ogg", "MP3 (ID3 tag)", "MPEG audio" or
// "AAC (ADTS)"; empty when the bytes begin with none of these.
std::string recordingKind(const unsigned char* bytes, std::size_t size);

}  // namespace tarvik
