// Small text conversions shared by the subsystems.
#pragma once

#include <string>

namespace tarvik {

// "true" or "false".
std::string boolToString(bool value);

// The base-10 number at the start of `text` as strtol reads it (leading blanks
// skipped, one sign); 0 when the text does not begin with a number. Values
// beyond the range of an int saturate at INT_MIN or INT_MAX.
int stringToInt(const std::string& text);

// A copy of `text` (never null) in a new array that the caller releases with delete[].
char* copyCString(const char* text);

// 0 when both are null, 1 when exactly one is, otherwise strcmp(a, b).
int compareCStrings(const char* a, const char* b);

// The double that stream extraction reads from the start of `text`; 0 when the
// text does not begin with a number (an empty or blank text included).
double stringToDouble(const std::string& text);

// The value in the stream's default format: %g with 6 significant digits.
std::string doubleToString(double value);

// Decimal digits with a leading '-' for negative values.
std::string intToString(int value);

}  // namespace tarvik
