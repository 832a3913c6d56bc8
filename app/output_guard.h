// Keeps the output path from destroying a file the user keeps.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

// The ERROR line for an output path that must not be written, empty when it may be: when it names
// the input recording or one of `model_paths` (the same file by device and inode), or an existing
// regular file that begins with the magic of a recording (recording_kind.h; an ID3 tag looked
// behind). Text is no recording: a TextGrid in UTF-8, with or without its byte-order mark, or in
// UTF-16 of either byte order is replaced like any other file.
std::string outputRefusal(const std::string& output_path, const std::string& input_path,
                          const std::vector<std::string>& model_paths);

}  // namespace tarvik
