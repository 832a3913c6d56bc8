#include "frontend/textgrid_reader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>

#include "app/bounded_read.h"

namespace tarvik {

namespace {

// The interval count: a whole decimal number that fits an int.
bool parseCount(const std::string& word, int& count) {
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, count);
    return error == std::errc() && stop == end && count >= 0;
}

// The time of an "xmin = 0.5" line in whole milliseconds: the number that begins two characters
// after the first equals sign, as strtod reads it (0 when there is none, nor an equals sign).
bool parseMilliseconds(const std::string& line, int& ms) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
        ms = 0;
        return true;
    }
    const std::string rest = line.substr(std::min(equals + 2, line.size()));
    const double product = std::strtod(rest.c_str(), nullptr) * 1000.0;
    // Also false for NaN.
    if (!(product > INT_MIN - 1.0 && product < INT_MAX + 1.0)) return false;
    ms = static_cast<int>(product);
    return true;
}

// The text between the first and the last double quote; false without two of them.
bool parseLabel(const std::string& line, std::string& label) {
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (open == std::string::npos || close == open) return false;
    label = line.substr(open + 1, close - open - 1);
    return true;
}

// Reads `count` intervals of four lines each into `out`.
bool readIntervals(std::istream& in, int count, TextGridIntervals& out) {
    std::string header;
    std::string xmin;
    std::string xmax;
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (!readLine(in, header) || !readLine(in, xmin) || !readLine(in, xmax) ||
            !readLine(in, text)) {
            return false;
        }
        int start = 0;
        int end = 0;
        std::string label;
        if (!parseMilliseconds(xmin, start) || !parseMilliseconds(xmax, end) ||
            !parseLabel(text, label)) {
            return false;
        }
        out.starts.push_back(start);
        out.ends.push_back(end);
        out.labels.push_back(std::move(label));
    }
    return true;
}

// Positions `in` after the line that announces the first interval list and gives its count.
bool readCount(std::istream& in, int& count) {
    std::string word;
    while (readToken(in, word)) {
        if (word != "intervals:") continue;
        std::string size_word;
        std::string equals_word;
        if (!readToken(in, size_word) || !readToken(in, equals_word) || !readToken(in, word) ||
            !parseCount(word, count)) {
            return false;
        }
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        return true;
    }
    return false;
}

}  // namespace

TextGridRead readTextGridIntervals(const std::string& path, TextGridIntervals& out) {
    out = TextGridIntervals();
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return TextGridRead::CANNOT_OPEN;
    std::ifstream in(path);
    if (!in) return TextGridRead::CANNOT_OPEN;
    int count = 0;
    if (!readCount(in, count) || !readIntervals(in, count, out)) {
        out = TextGridIntervals();
        return TextGridRead::MALFORMED;
    }
    return TextGridRead::OK;
}

}  // namespace tarvik
