// Reads the first interval tier of a TextGrid in Praat's long text format.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

// The intervals of one tier in file order: times in whole milliseconds (seconds x 1000, truncated
// toward zero) and the text between the first and the last double quote of each text line.
struct TextGridIntervals {
    std::vector<std::string> labels;
    std::vector<int> starts;
    std::vector<int> ends;
};

enum class TextGridRead { OK, CANNOT_OPEN, MALFORMED };

// Skips words up to the first "intervals:", takes the count after the two words that follow it
// ("size ="), then reads four lines per interval: a header (not examined), xmin, xmax and text.
// MALFORMED, with `out` emptied, when there is no "intervals:", the count is not a whole number
// from 0 to INT_MAX, the file ends before the announced intervals, a text line lacks two double
// quotes, a time in milliseconds is not finite or does not fit an int, or a word or line is
// longer than MAX_TOKEN_BYTES (app/bounded_read.h). Memory grows with the
// intervals actually read, never with the announced count. A directory cannot be opened.
TextGridRead readTextGridIntervals(const std::string& path, TextGridIntervals& out);

}  // namespace tarvik
