#include "output/label_table.h"

#include <map>

#include "app/console.h"
#include "app/strings.h"

namespace tarvik {
namespace {

struct LabelPair {
    const char* label;
    LabelCode code;
};

// In insertion order.
constexpr LabelPair LABEL_PAIRS[] = {
    {"i", 0},     {"I", 1},     {"e", 2},     {"a", 3},     {"o", 4},     {"u", 5},
    {"p", 6},     {"b", 7},     {"t", 8},     {"d", 9},     {"k", 10},    {"g", 11},
    {"f", 12},    {"v", 13},    {"s", 14},    {"z", 15},    {"S", 16},    {"Z", 17},
    {"x", 18},    {"m", 19},    {"n", 20},    {"l", 21},    {"r", 22},    {"w", 23},
    {"j", 24},    {"e~", 25},   {"o~", 26},   {"s'", 27},   {"z'", 28},   {"ts", 29},
    {"tS", 30},   {"dz", 31},   {"dZ", 32},   {"n'", 33},   {"ts'", 34},  {"dz'", 35},
    {"blk", 36},  {"sbl", 37},  {"ton", 96},  {"sil", 97},  {"spc", 98},  {"cut", 99},
    {"gr1", 101}, {"gr2", 102}, {"gr3", 103}, {"gr4", 104}, {"gr5", 105}, {"gr6", 106},
    {"gr7", 107}, {"gr8", 108}, {"gr9", 109},
};

std::map<std::string, LabelCode> label_to_code;
std::map<signed char, std::string> code_to_label;
bool maps_initialized = false;

const char* const NOT_INITIALIZED = "ERROR: maps need to be initialized first";

}  // namespace

void initMaps() {
    if (maps_initialized) {
        printLine("ERROR: maps already initialized");
        return;
    }
    for (const LabelPair& pair : LABEL_PAIRS) label_to_code.emplace(pair.label, pair.code);
    for (const LabelPair& pair : LABEL_PAIRS) {
        code_to_label.emplace(static_cast<signed char>(pair.code), pair.label);
    }
    maps_initialized = true;
}

int strToCode(const std::string& label) {
    if (!maps_initialized) {
        printLine(NOT_INITIALIZED);
        return -1;
    }
    const auto found = label_to_code.find(label);
    if (found != label_to_code.end()) return static_cast<unsigned char>(found->second);
    printLine("ERROR: strToCode(), cannot find string: " + label);
    return -1;
}

std::string codeToStr(LabelCode code) {
    if (!maps_initialized) {
        printLine(NOT_INITIALIZED);
        return "ERROR";
    }
    const signed char key = static_cast<signed char>(code);
    const auto found = code_to_label.find(key);
    if (found != code_to_label.end()) return found->second;
    const std::string number = intToString(key);
    printLine("ERROR: codeToStr(), cannot find code: " + number);
    return "ERROR_" + number;
}

LabelCode strToSpeechCode(const std::string& label) {
    if (label == "ton" || label == "sil" || label == "pau" || label == "h#" || label == "h\\# ") {
        return SIL_CODE;
    }
    return SPC_CODE;
}

}  // namespace tarvik
