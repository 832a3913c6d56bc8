// Where the samples of a recording file lie: behind its RIFF/WAVE header, or behind 44 bytes of
// any other header. Used by Signal::loadFile.
#pragma once

#include <istream>
#include <string>

namespace tarvik {

struct SampleLayout {
    int result = 0;             // Signal::LOAD_OK, or why the file is refused
    std::string reason;         // the refusal in words, e.g. "not 16 kHz mono 16-bit PCM: stereo"
    std::streamoff offset = 0;  // of the first sample byte
    long long count = 0;        // 16-bit samples; negative for a file shorter than its header
};

// Examines the open `file` of `size` bytes. With `has_header`, a file that begins with "RIFF"
// must be a RIFF/WAVE file whose chunks lie within the file (shorter than 44 bytes or a chunk
// cut short: LOAD_SHORT_HEADER) with a "fmt " chunk of PCM, or of the extensible format with
// the PCM sub-format, 1 channel, 16000 Hz, 16 bits before its "data" chunk; the samples are the
// data chunk's, to the end of the file when its size is 0 or 0xFFFFFFFF, or when it is sox's
// placeholder 0x7FFFF000 and claims more than the file holds (any other data chunk cut short is
// LOAD_SHORT_HEADER, with its byte counts). Other known containers (recording_kind.h, an ID3v2
// tag looked behind) are refused with LOAD_BAD_FORMAT; any other file is samples behind 44
// bytes. Without `has_header` the whole file is samples. A read that fails gives
// LOAD_CANNOT_OPEN.
SampleLayout findSamples(std::istream& file, std::streamoff size, bool has_header);

}  // namespace tarvik
