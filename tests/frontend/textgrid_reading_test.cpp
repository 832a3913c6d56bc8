// Reading reference intervals from TextGrids through Signal::loadFile: what is accepted and what
// is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/bounded_read.h"
#include "frontend/chain.h"
#include "frontend/signal.h"
#include "tests/support/text_grid_fixture.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

using test_support::intervalTierItem;
using test_support::oneTierTextGrid;
using test_support::writeFile;
using test_support::writeWav;

const std::string HEAD =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = 1 \n"
    "tiers? <exists> \nsize = 1 \nitem []: \n    item [1]:\n        class = \"IntervalTier\" \n"
    "        name = \"words\" \n        xmin = 0 \n        xmax = 1 \n";

std::string interval(int n, const std::string& xmin, const std::string& xmax,
                     const std::string& text_line) {
    return "        intervals [" + std::to_string(n) + "]:\n            xmin = " + xmin +
           " \n            xmax = " + xmax + " \n" + text_line + "\n";
}

const std::string FIRST = interval(1, "0", "0.5", "            text = \"a\" ");
const std::string SECOND = interval(2, "0.5", "1", "            text = \"b\" ");

// A recording of 100 frames and a TextGrid of `text`; the result of loading both.
int loadWithTextGrid(Signal& signal, const std::string& name, const std::string& text) {
    writeWav(name + ".wav", std::vector<int16_t>(16000, 0));
    writeFile(name + ".TextGrid", text);
    const int result = signal.loadFile(name + ".wav", name + ".TextGrid", true);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    return result;
}

TEST(TextGridReadingTest, MalformedFilesAreRefusedAndTheRecordingStaysLoaded) {
    struct Case {
        const char* name;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"no_list", "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n"},
        {"point_tier_only",
         "item [1]:\n    class = \"TextTier\" \n    points: size = 1 \n    points [1]:\n"
         "        number = 0.5 \n        mark = \"x\" \n"},
        {"list_at_end", HEAD + "        intervals: size ="},
        {"count_negative", HEAD + "        intervals: size = -1 \n" + FIRST},
        {"count_not_a_number", HEAD + "        intervals: size = two \n" + FIRST + SECOND},
        {"count_with_letters", HEAD + "        intervals: size = 2x \n" + FIRST + SECOND},
        {"count_beyond_int", HEAD + "        intervals: size = 99999999999 \n" + FIRST},
        {"count_huge", HEAD + "        intervals: size = 2000000000 \n" + FIRST + SECOND},
        {"count_without_size", HEAD + "        intervals: 2 \n" + FIRST + SECOND},
        {"fewer_intervals", HEAD + "        intervals: size = 3 \n" + FIRST + SECOND},
        {"interval_cut_short",
         HEAD + "        intervals: size = 2 \n" + FIRST +
             "        intervals [2]:\n            xmin = 0.5 \n            xmax = 1 \n"},
        {"text_without_quotes", HEAD + "        intervals: size = 2 \n" + FIRST +
                                    interval(2, "0.5", "1", "            text = b ")},
        {"text_with_one_quote", HEAD + "        intervals: size = 2 \n" + FIRST +
                                    interval(2, "0.5", "1", "            text = \"b ")},
        {"time_not_finite", HEAD + "        intervals: size = 2 \n" + FIRST +
                                interval(2, "0.5", "inf", "            text = \"b\" ")},
        {"time_nan", HEAD + "        intervals: size = 2 \n" + FIRST +
                         interval(2, "nan", "1", "            text = \"b\" ")},
        {"time_beyond_int_ms", HEAD + "        intervals: size = 2 \n" + FIRST +
                                   interval(2, "0.5", "2147484", "            text = \"b\" ")},
        {"word_too_long", std::string(MAX_TOKEN_BYTES + 1, 'w') + "\n" + HEAD +
                              "        intervals: size = 2 \n" + FIRST + SECOND},
        {"line_too_long",
         HEAD + "        intervals: size = 2 \n" + FIRST +
             interval(2, "0.5", "1",
                      "            text = \"" + std::string(MAX_TOKEN_BYTES, 'b') + "\" ")},
        {"next_tier_taken_as_interval",
         HEAD + "        intervals: size = 2 \n" + FIRST +
             "    item [2]:\n        class = \"TextTier\" \n        name = \"p\" \n"
             "        xmin = 0 \n        xmax = 1 \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Signal signal;
        const std::string name = std::string("malformed_") + c.name;
        EXPECT_EQ(loadWithTextGrid(signal, name, c.text), Signal::LOAD_BAD_LABELS);
        EXPECT_EQ(signal.getSourceName(0), name + ".wav");
        EXPECT_EQ(signal.getFrameCount(0), 100);
        EXPECT_EQ(signal.getIntervalCount(0), 0);
        EXPECT_TRUE(signal.hasSourceWithoutIntervals());
        EXPECT_EQ(signal.firstInterval(), -1);
        int left = 0;
        EXPECT_EQ(signal.firstIntervalFrame(&left), nullptr);
        EXPECT_EQ(signal.checkLabels(), "");
    }
}

TEST(TextGridReadingTest, MissingTextGridLeavesTheRecordingWithoutIntervals) {
    for (const char* labels : {"no/such.TextGrid", "."}) {
        SCOPED_TRACE(labels);
        Signal signal;
        writeWav("missing_textgrid.wav", std::vector<int16_t>(16000, 0));
        EXPECT_EQ(signal.loadFile("missing_textgrid.wav", labels, true), Signal::LOAD_NO_LABELS);
        EXPECT_EQ(signal.getSourceName(0), "missing_textgrid.wav");
        EXPECT_EQ(signal.getIntervalCount(0), 0);
    }
}

TEST(TextGridReadingTest, AcceptedVariants) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> labels;
        std::vector<int> first_frames;  // global first frame of each interval
    };
    const std::string tiers_head =
        "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = 1 \n"
        "tiers? <exists> \nsize = 3 \nitem []: \n    item [1]:\n        class = \"TextTier\" \n"
        "        name = \"events\" \n        xmin = 0 \n        xmax = 1 \n"
        "        points: size = 1 \n        points [1]:\n            number = 0.25 \n"
        "            mark = \"click\" \n";
    const std::vector<Case> cases = {
        {"praat_layout",
         oneTierTextGrid("1", {{"0", "0.5", "a"}, {"0.5", "1", "b"}}),
         {"a", "b"},
         {0, 49}},
        {"point_tier_then_two_interval_tiers",
         tiers_head + intervalTierItem(2, "words", "1", {{"0", "0.3", "x"}, {"0.3", "1", "y"}}) +
             intervalTierItem(3, "other", "1", {{"0", "1", "z"}}),
         {"x", "y"},
         {0, 29}},
        {"crlf_lines",
         "intervals: size = 2\r\n  intervals [1]:\r\n  xmin = 0\r\n  xmax = 0.5\r\n"
         "  text = \"a\"\r\n  intervals [2]:\r\n  xmin = 0.5\r\n  xmax = 1\r\n  text = \"b\"\r\n",
         {"a", "b"},
         {0, 49}},
        {"quotes_inside_and_empty_label",
         HEAD + "        intervals: size = 2 \n" +
             interval(1, "0", "0.5", "            text = \"say \"\"hi\"\"\" ") +
             interval(2, "0.5", "1", "            text = \"\" "),
         {"say \"\"hi\"\"", ""},
         {0, 49}},
        {"time_line_without_equals_sign",
         HEAD + "        intervals: size = 2 \n" + FIRST +
             "        intervals [2]:\n            xmin 0.5\n            xmax = 1 \n"
             "            text = \"b\" \n",
         {"a", "b"},
         {0, 0}},
        {"no_newline_at_end",
         HEAD + "        intervals: size = 1 \n" +
             "        intervals [1]:\n            xmin = 0 \n            xmax = 1 \n"
             "            text = \"a\"",
         {"a"},
         {0}},
        {"negative_start", oneTierTextGrid("1", {{"-0.5", "1", "a"}}), {"a"}, {0}},
        {"empty_list", HEAD + "        intervals: size = 0 \n", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Signal signal;
        EXPECT_EQ(loadWithTextGrid(signal, std::string("accepted_") + c.name, c.text),
                  Signal::LOAD_OK);
        ASSERT_EQ(signal.getIntervalCount(0), static_cast<int>(c.labels.size()));
        std::vector<std::string> labels;
        std::vector<int> first_frames;
        for (int frame = signal.firstInterval(); frame >= 0; frame = signal.nextInterval()) {
            first_frames.push_back(frame);
            labels.push_back(signal.getLabel());
        }
        EXPECT_EQ(labels, c.labels);
        EXPECT_EQ(first_frames, c.first_frames);
        if (!c.labels.empty()) {
            EXPECT_EQ(signal.checkLabels(), "");
        }
    }
}

}  // namespace
}  // namespace tarvik
