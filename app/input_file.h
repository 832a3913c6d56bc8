// Outside files opened for reading by path, saying why they could not be opened or read.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace tarvik {

// The system's text for an error number, as strerror gives it: "No such file or directory".
std::string systemError(int error_number);

// A file's kind by its mode (st_mode), for messages: "a regular file", "a directory", "a
// character device", "a block device", "a pipe", "a socket" or "a symbolic link".
std::string fileKind(unsigned mode);

// One file read through the system's read(2), so that a failed read is seen and said instead of
// being thrown (std::ifstream throws from its buffer) or taken for the end of the file.
class InputFile {
  public:
    InputFile();
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `path` for reading; a directory is refused, and with `regular_only` anything but a
    // regular file as well (a device, a pipe, a socket). Opening never waits for a writer
    // of a pipe. False, with failure() saying why ("No such file or directory", "a
    // directory, not a regular file").
    bool open(const std::string& path, bool regular_only);

    // The file's length in bytes: a regular file's size, or how far another file can be seeked
    // (0 for /dev/null); -1, with failure() set, when it cannot be seeked (a pipe).
    std::int64_t size();

    // Reads the open file. Seeking works where the file can be seeked. A failed read ends the
    // stream (it then reports the end of the file, and read() leaves it failed) and sets
    // readFailed() and failure() ("read error: Input/output error").
    std::istream& stream();

    bool readFailed() const;
    // Why open or size failed, or why a read failed; empty otherwise.
    std::string failure() const;

  private:
    class Buffer;
    std::unique_ptr<Buffer> buffer;
    std::istream in;
    std::string open_failure;
};

}  // namespace tarvik
