// A file written whole or not at all.
#pragma once

#include <fstream>
#include <string>

namespace tarvik {

// Writes `path` so that it holds either its previous contents or the whole new ones: a regular
// file (or a path where none exists yet) is written to a temporary file beside it, which replaces
// it only once complete and flushed to the disk. Any other file (a device, a pipe) is written
// directly. A symbolic link to a regular file keeps the link and replaces the file it names.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string& path);
    // Removes the temporary file unless commit succeeded.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool isOpen() const { return out.is_open(); }
    std::ofstream& stream() { return out; }

    // Closes the stream and, for a temporary file, syncs it and renames it over the target.
    // False when anything failed: the temporary is removed and the target left as it was.
    bool commit();

  private:
    void discard();

    std::string target;     // the file that is replaced
    std::string temporary;  // empty when writing `target` directly
    std::ofstream out;
};

}  // namespace tarvik
