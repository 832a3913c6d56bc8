// Files and scratch names for the tests: whole-file reads and writes, and names of the running
// test's own, for tests that run side by side in one working directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::test_support {

// The bytes of the file at `path`; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes `bytes` to `path`, replacing the file.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

// `text` (ASCII) as UTF-16 of either byte order, after its byte-order mark.
std::string utf16(const std::string& text, bool little_endian);

// The name of the running GoogleTest test.
std::string testName();

// The running test's name followed by `suffix`: a file of its own in the working directory.
std::string scratchFile(const std::string& suffix);

// An empty folder `prefix` + the running test's name in the working directory, made afresh; the
// path returned is relative to the working directory.
std::filesystem::path scratchDir(const std::string& prefix);

}  // namespace tarvik::test_support
