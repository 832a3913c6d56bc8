// Scratch files and seed-corpus replay for the fuzz targets. The readers under test take paths,
// so each input is written to a file in a directory that only the running process uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvik::fuzz {

// A directory of this process's own under $TMPDIR (else /tmp), made on the first call and removed
// at exit; ends with '/'.
const std::string& scratchDir();

// Writes `size` bytes to scratchDir() + `name`, replacing the file; returns its path.
std::string writeInput(const std::string& name, const std::uint8_t* data, std::size_t size);

}  // namespace tarvik::fuzz

// The entry point every target defines (libFuzzer's).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
