// Readers of tokens and lines from outside files that never grow without bound. A read that fails
// (a stream buffer that throws, as std::filebuf does on an I/O error) leaves the stream bad and
// the reader false; nothing is thrown.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace tarvik {

// The longest token or line that a reader of outside files takes; a longer one is malformed.
inline constexpr std::size_t MAX_TOKEN_BYTES = 1 << 16;

// Skips white space (blank, tab, line break, vertical tab, form feed, carriage return), then reads
// the characters up to the next white space or the end into `token`. False, with the stream
// failed, when there is no token or it is longer than MAX_TOKEN_BYTES.
bool readToken(std::istream& in, std::string& token);

// Reads up to the next line feed (taken, not stored) or the end into `line`, as std::getline
// does. False, with the stream failed, at the end of the input or for a line longer than
// MAX_TOKEN_BYTES.
bool readLine(std::istream& in, std::string& line);

}  // namespace tarvik
