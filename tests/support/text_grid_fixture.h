// TextGrids in Praat's long text format, written as text for the reader's tests.
#pragma once

#include <string>
#include <vector>

namespace tarvik::test_support {

struct TextGridInterval {
    std::string xmin;  // as written after "xmin = "
    std::string xmax;
    std::string text;  // written between double quotes
};

// The lines of one interval tier item, as Praat writes them, for a file of several tiers.
std::string intervalTierItem(int item, const std::string& name, const std::string& xmax,
                             const std::vector<TextGridInterval>& intervals);

// A whole TextGrid of one interval tier "words" running from 0 to `xmax`.
std::string oneTierTextGrid(const std::string& xmax,
                            const std::vector<TextGridInterval>& intervals);

}  // namespace tarvik::test_support
