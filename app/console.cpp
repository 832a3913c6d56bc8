#include "app/console.h"

#include <cstdio>

namespace tarvik {

void printLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void logLine(int /*channel*/, const std::string& text) { printLine(text); }

}  // namespace tarvik
