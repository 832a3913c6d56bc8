#include "tests/support/text_grid_fixture.h"

namespace tarvik::test_support {

std::string intervalTierItem(int item, const std::string& name, const std::string& xmax,
                             const std::vector<TextGridInterval>& intervals) {
    std::string out = "    item [" + std::to_string(item) + "]:\n";
    out += "        class = \"IntervalTier\" \n";
    out += "        name = \"" + name + "\" \n";
    out += "        xmin = 0 \n";
    out += "        xmax = " + xmax + " \n";
    out += "        intervals: size = " + std::to_string(intervals.size()) + " \n";
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        out += "        intervals [" + std::to_string(i + 1) + "]:\n";
        out += "            xmin = " + intervals[i].xmin + " \n";
        out += "            xmax = " + intervals[i].xmax + " \n";
        out += "            text = \"" + intervals[i].text + "\" \n";
    }
    return out;
}

std::string oneTierTextGrid(const std::string& xmax,
                            const std::vector<TextGridInterval>& intervals) {
    return "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = " + xmax +
           " \ntiers? <exists> \nsize = 1 \nitem []: \n" +
           intervalTierItem(1, "words", xmax, intervals);
}

}  // namespace tarvik::test_support
