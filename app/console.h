// Console output: every message of the system is one line on standard output (or on the stream
// that setConsoleStream chose).
#pragma once

#include <cstdio>
#include <string>

namespace tarvik {

// Prints `text` and a newline to the console, then flushes. `channel` is
// carried for the callers' sake and has no effect on what is printed.
void logLine(int channel, const std::string& text);

// Prints `text` and a newline to the console, then flushes.
void printLine(const std::string& text);

// Sends every later line to `stream` instead of standard output: the tools that write their data
// to standard output keep their console on standard error.
void setConsoleStream(std::FILE* stream);

}  // namespace tarvik
