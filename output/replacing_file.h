// A file written whole or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace tarvik {

// Writes a path so that it holds either its previous contents or the whole new ones.
//
// A regular file, or a path where none exists yet, is written to a temporary file beside it
// (".tarvik-" and six letters or digits, whatever the target's name), which replaces it only once
// complete and flushed to the disk; the replaced file keeps its permissions, and its owner and
// group where the process may give them (as root). A symbolic link keeps the link and replaces
// the file it names. An existing file that the process could not write in place is refused, as a
// plain write would refuse it. While a temporary file exists, the signals that end a run
// (SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
// SIGVTALRM, SIGPROF, unless ignored) remove it first; the rename itself is not interrupted.
//
// Written directly, never replaced: the descriptor paths /dev/stdin, /dev/stdout, /dev/stderr,
// /dev/fd/N and /proc/self/fd/N (the descriptor itself is written, at its position); any path
// that is the file open on standard output or standard error (written through that descriptor,
// so a log appended to stays whole); and every other file that is not a regular file (a device,
// a pipe).
//
// Failures are said by failure(): a short text, the system's reason included where one caused it
// ("No space left on device", "Is a directory", "cannot create a temporary file beside it:
// Permission denied").
class ReplacingFile {
  public:
    ReplacingFile() = default;
    // Removes the temporary file unless commit succeeded.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Opens `path` for writing as described above. False, with failure() set, when it cannot be.
    bool open(const std::string& path);
    // Writes the open descriptor `fd` directly (standard output for a tool's "-").
    bool openDescriptor(int fd);

    bool isOpen() const { return fd >= 0; }
    // True when writing a temporary file that commit renames over the target.
    bool replaces() const { return !temporary.empty(); }

    // Appends bytes, buffered. False once a write has failed (failure() says why); what follows
    // is dropped.
    bool write(const void* data, std::size_t size);
    bool write(std::string_view text) { return write(text.data(), text.size()); }

    // Writes out what is buffered and, for a temporary file, syncs it and renames it over the
    // target. False when anything failed: the temporary file is removed and the target left as
    // it was (a file written directly holds what was written).
    bool commit();

    // Removes the temporary file, if any, leaving the target as it was; closes the file.
    void discard();

    // Why open, write or commit failed; empty when nothing failed.
    const std::string& failure() const { return failure_text; }

  private:
    bool fail(std::string reason);
    bool openDirect(int descriptor, bool owned);
    bool openTemporary(const std::string& target, const struct stat* existing);
    bool writeOut(const char* data, std::size_t size);
    bool flushBuffer();
    void removeTemporary();

    int fd = -1;
    bool owned = false;       // fd was opened here (not a duplicate of a descriptor path's)
    int folder = -1;          // the target's folder, for the temporary file and the rename
    std::string target_name;  // the target's name within `folder`
    std::string temporary;    // the temporary file's name within `folder`; empty: direct
    int slot = -1;            // the temporary file's entry among those signals remove
    std::vector<char> buffer;
    bool failed = false;
    std::string failure_text;
};

}  // namespace tarvik
