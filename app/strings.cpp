#include "app/strings.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tarvik {

std::string boolToString(bool value) { return value ? "true" : "false"; }

int stringToInt(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

char* copyCString(const char* text) {
    const std::size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

int compareCStrings(const char* a, const char* b) {
    if (a == nullptr && b == nullptr) return 0;
    if (a == nullptr || b == nullptr) return 1;
    return std::strcmp(a, b);
}

double stringToDouble(const std::string& text) {
    std::istringstream stream(text);
    double value = 0.0;
    stream >> value;
    // A failed extraction stores 0, except on overflow, where the stream
    // stores the largest finite value of the sign read: keep that.
    return value;
}

std::string doubleToString(double value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

std::string intToString(int value) { return std::to_string(value); }

}  // namespace tarvik
