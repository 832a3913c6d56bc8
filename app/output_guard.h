// Keeps the output path from destroying a file the user keeps.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

// The ERROR line for an output path that must not be written, empty when it may be: when it names
// the input recording or one of `model_paths` (the same file by device and inode), or an existing
// regular file that begins with the magic of a recording (recording_kind.h).
std::string outputRefusal(const std::string& output_path, const std::string& input_path,
                          const std::vector<std::string>& model_paths);

}  // namespace tarvik
