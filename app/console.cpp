#include "app/console.h"

namespace tarvik {

namespace {

std::FILE* console_stream = nullptr;  // null: standard output

}  // namespace

void printLine(const std::string& text) {
    std::FILE* out = console_stream != nullptr ? console_stream : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

void logLine(int /*channel*/, const std::string& text) { printLine(text); }

void setConsoleStream(std::FILE* stream) { console_stream = stream; }

}  // namespace tarvik
