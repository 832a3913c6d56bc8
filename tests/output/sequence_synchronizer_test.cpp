#include "output/sequence_synchronizer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/output/session_samples.h"
#include "tests/output/text_grid_samples.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

using output_test::addCodes;
using test_support::readFile;

struct Interval {
    std::string xmin, xmax, text;
    bool operator==(const Interval&) const = default;
};

struct Tier {
    std::string item, name, xmax, declared;  // declared: its "intervals: size" value
    std::vector<Interval> intervals;
};

struct Grid {
    std::string xmax, size;
    std::vector<Tier> tiers;
};

// Reads the values of a TextGrid as the writer lays it out; every interval
// count line must match the intervals that follow it.
Grid parseGrid(const std::string& text) {
    std::istringstream lines(text);
    std::string line, rest;
    const auto take = [&line, &rest](const std::string& prefix) {
        if (line.rfind(prefix, 0) != 0) return false;
        rest = line.substr(prefix.size());
        return true;
    };
    const auto unquoted = [&rest] { return rest.substr(1, rest.size() - 2); };
    Grid grid;
    while (std::getline(lines, line)) {
        if (grid.tiers.empty() && take("xmax = ")) {
            grid.xmax = rest;
        } else if (take("size = ")) {
            grid.size = rest;
        } else if (line != "item []:" && take("item [")) {
            grid.tiers.push_back({rest.substr(0, rest.size() - 2), "", "", "", {}});
        } else if (take("name = ")) {
            grid.tiers.back().name = unquoted();
        } else if (take("xmax = ")) {
            grid.tiers.back().xmax = rest;
        } else if (take("intervals: size = ")) {
            grid.tiers.back().declared = rest;
        } else if (take("\tintervals [")) {
            grid.tiers.back().intervals.push_back({});
        } else if (take("\t\txmin = ")) {
            grid.tiers.back().intervals.back().xmin = rest;
        } else if (take("\t\txmax = ")) {
            grid.tiers.back().intervals.back().xmax = rest;
        } else if (take("\t\ttext = ")) {
            grid.tiers.back().intervals.back().text = unquoted();
        }
    }
    for (const Tier& tier : grid.tiers) {
        EXPECT_FALSE(tier.intervals.empty()) << tier.name;
        EXPECT_EQ(tier.declared, std::to_string(tier.intervals.size())) << tier.name;
    }
    return grid;
}

std::vector<std::string> intervalCounts(const Grid& grid) {
    std::vector<std::string> counts;
    for (const Tier& tier : grid.tiers) counts.push_back(std::to_string(tier.intervals.size()));
    return counts;
}

// The label of every frame 0 to n - 1: frame j opens at 0 (j = 0) or at
// j * 0.01 + 0.0075, and lies in the last interval that starts by then.
std::vector<std::string> frameLabels(const Tier& tier, std::size_t n) {
    std::vector<std::string> labels;
    for (std::size_t j = 0; j < n; ++j) {
        const double opens = j == 0 ? 0.0 : static_cast<double>(j) * 0.01 + 0.0075;
        std::string label;
        for (const Interval& interval : tier.intervals)
            if (std::stod(interval.xmin) <= opens + 0.001) label = interval.text;
        labels.push_back(label);
    }
    return labels;
}

class TextGridTest : public ::testing::Test {
  protected:
    void SetUp() override {
        output_test::initMapsOnce();
        write_text_grid = true;
        write_hypo_tiers = false;
        nbest_num = 0;
        synchronizer.reset();
    }

    // Writes to `path` and returns the console lines it printed.
    std::string build(const std::string& path, bool final, bool expected = true) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(synchronizer.buildTextGrid(path, final), expected) << path;
        return ::testing::internal::GetCapturedStdout();
    }

    // Tests run in parallel in one directory: each writes a file of its own name.
    static std::string scratchPath() { return test_support::scratchFile(".TextGrid"); }

    Grid buildAndParse(bool final) {
        EXPECT_EQ(build(scratchPath(), final), "");
        return parseGrid(readFile(scratchPath()));
    }

    output_test::SettingsGuard settings;
    SequenceSynchronizer synchronizer{0, 37};
};

TEST(SpeechDet, CodesPackTheThreeFlags) {
    const struct {
        bool post_ge_half, is_speech, kept;
        int code;
    } cases[] = {
        {false, false, true, 1},  {true, false, true, 2},    {false, true, true, 3},
        {true, true, true, 6},    {false, false, false, -1}, {true, false, false, -2},
        {false, true, false, -3}, {true, true, false, -6},
    };
    SequenceSynchronizer synchronizer(0, 37);
    synchronizer.reset();
    for (const auto& c : cases) synchronizer.addSpeechDet(c.post_ge_half, c.is_speech, c.kept);
    ASSERT_EQ(synchronizer.speechDetVec().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(synchronizer.speechDetVec()[i], cases[i].code) << i;
}

TEST_F(TextGridTest, WorkedExampleOnTheCommandLineRoad) {
    addCodes(synchronizer, output_test::workedExampleCodes());
    EXPECT_EQ(build("worked.TextGrid", true), "");
    EXPECT_EQ(readFile("worked.TextGrid"),
              "File type =\"ooTextFile\"\n"
              "Object class = \"TextGrid\"\n"
              "\n"
              "xmin = 0\n"
              "xmax = 0.0775\n"
              "tiers? <exists>\n"
              "size = 1\n"
              "item []:\n"
              "item [2]:\n"
              "class = \"IntervalTier\"\n"
              "name = \"norm\"\n"
              "xmin = 0\n"
              "xmax = 0.0775\n"
              "intervals: size = 3\n"
              "\tintervals [1]:\n"
              "\t\txmin = 0\n"
              "\t\txmax = 0.0375\n"
              "\t\ttext = \"sil\"\n"
              "\tintervals [2]:\n"
              "\t\txmin = 0.0375\n"
              "\t\txmax = 0.0675\n"
              "\t\ttext = \"spc\"\n"
              "\tintervals [3]:\n"
              "\t\txmin = 0.0675\n"
              "\t\txmax = 0.0775\n"
              "\t\ttext = \"sil\"\n");
}

TEST_F(TextGridTest, WorkedExampleInThreeTiers) {
    addCodes(synchronizer, output_test::workedExampleCodes());
    const Grid grid = buildAndParse(false);
    EXPECT_EQ(grid.size, "3");
    ASSERT_EQ(grid.tiers.size(), 3u);
    const std::vector<Interval> post = {{"0", "0.0275", "sil"},
                                        {"0.0275", "0.0575", "spc"},
                                        {"0.0575", "0.0775", "sil"},
                                        {"0.0775", "0.0775", "spc"}};
    const std::vector<Interval> norm = {
        {"0", "0.0375", "sil"}, {"0.0375", "0.0675", "spc"}, {"0.0675", "0.0775", "sil"}};
    const std::vector<Interval> margins = {{"0", "0.0675", "spc"}, {"0.0675", "0.0775", "cut"}};
    EXPECT_EQ(grid.tiers[0].item, "1");
    EXPECT_EQ(grid.tiers[0].name, "post");
    EXPECT_EQ(grid.tiers[0].intervals, post);
    EXPECT_EQ(grid.tiers[1].item, "2");
    EXPECT_EQ(grid.tiers[1].name, "norm");
    EXPECT_EQ(grid.tiers[1].intervals, norm);
    EXPECT_EQ(grid.tiers[2].item, "3");
    EXPECT_EQ(grid.tiers[2].name, "margins");
    EXPECT_EQ(grid.tiers[2].intervals, margins);
}

TEST_F(TextGridTest, EachTierReadsItsFlagFromTheCode) {
    addCodes(synchronizer, {1, 2, 3, 6, -1, -2, -3, -6});
    const Grid grid = buildAndParse(false);
    ASSERT_EQ(grid.tiers.size(), 3u);
    using Labels = std::vector<std::string>;
    EXPECT_EQ(frameLabels(grid.tiers[0], 8),
              (Labels{"sil", "spc", "sil", "spc", "sil", "spc", "sil", "spc"}));
    EXPECT_EQ(frameLabels(grid.tiers[1], 8),
              (Labels{"sil", "sil", "spc", "spc", "sil", "sil", "spc", "spc"}));
    EXPECT_EQ(frameLabels(grid.tiers[2], 8),
              (Labels{"spc", "spc", "spc", "spc", "cut", "cut", "cut", "cut"}));
}

TEST_F(TextGridTest, SamplesHoldTheirTiersIntervalsAndEndTime) {
    for (const auto& sample : output_test::textGridSamples()) {
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(output_test::writeSample(sample, sample.file_name));
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << sample.file_name;
        const Grid grid = parseGrid(readFile(sample.file_name));
        EXPECT_EQ(grid.size, std::to_string(sample.tiers)) << sample.file_name;
        EXPECT_EQ(grid.xmax, sample.end_time) << sample.file_name;
        std::string counts;
        for (const std::string& count : intervalCounts(grid))
            counts += (counts.empty() ? "" : " ") + count;
        EXPECT_EQ(counts, sample.interval_counts) << sample.file_name;
        for (const Tier& tier : grid.tiers) {
            EXPECT_EQ(tier.xmax, sample.end_time) << sample.file_name << " " << tier.name;
            EXPECT_EQ(tier.intervals.front().xmin, "0") << sample.file_name << " " << tier.name;
            EXPECT_EQ(tier.intervals.back().xmax, sample.end_time) << sample.file_name;
            for (std::size_t i = 1; i < tier.intervals.size(); ++i)
                EXPECT_EQ(tier.intervals[i].xmin, tier.intervals[i - 1].xmax) << sample.file_name;
        }
    }
}

TEST_F(TextGridTest, NCodesInGiveNFramesOut) {
    const std::vector<std::int8_t> pattern = {1, 3, 3, 6, -1, 2, -3, 6, 6, 6, 1, -2};
    const struct {
        std::size_t n;
        const char* end_time;
    } cases[] = {{1, "0.0075"}, {2, "0.0175"}, {3, "0.0275"}, {250, "2.4975"}};
    for (const auto& c : cases) {
        synchronizer.reset();
        std::vector<std::int8_t> codes;
        std::vector<std::string> expected;
        for (std::size_t j = 0; j < c.n; ++j) {
            codes.push_back(pattern[j % pattern.size()]);
            expected.push_back(std::abs(codes.back()) % 3 == 0 ? "spc" : "sil");
        }
        addCodes(synchronizer, codes);
        EXPECT_EQ(synchronizer.speechDetVec(), codes);
        const Grid grid = buildAndParse(true);
        ASSERT_EQ(grid.tiers.size(), 1u);
        EXPECT_EQ(grid.xmax, c.end_time);
        EXPECT_EQ(frameLabels(grid.tiers[0], c.n), expected) << c.n;
    }
}

TEST_F(TextGridTest, NoCodesGiveOneSilentIntervalOfNoLength) {
    for (const bool final : {true, false}) {
        const Grid grid = buildAndParse(final);
        EXPECT_EQ(grid.xmax, "0");
        ASSERT_EQ(grid.tiers.size(), final ? 1u : 3u);
        for (const Tier& tier : grid.tiers) {
            EXPECT_EQ(tier.xmax, "0") << tier.name;
            EXPECT_EQ(tier.intervals, (std::vector<Interval>{{"0", "0", "sil"}})) << tier.name;
        }
    }
}

TEST_F(TextGridTest, LongRecordingsUseSixSignificantDigits) {
    addCodes(synchronizer, std::vector<std::int8_t>(12345, 1));
    addCodes(synchronizer, {3});
    Grid grid = buildAndParse(true);
    ASSERT_EQ(grid.tiers.size(), 1u);
    EXPECT_EQ(grid.tiers[0].intervals,
              (std::vector<Interval>{{"0", "123.457", "sil"}, {"123.457", "123.457", "spc"}}));

    synchronizer.reset();
    addCodes(synchronizer, std::vector<std::int8_t>(360000, -6));
    grid = buildAndParse(true);
    EXPECT_EQ(grid.xmax, "3600");
    EXPECT_EQ(grid.tiers[0].intervals, (std::vector<Interval>{{"0", "3600", "spc"}}));
}

TEST_F(TextGridTest, SettingsChooseTheTiers) {
    const struct {
        bool write_text_grid, write_hypo_tiers, final;
        int nbest_num;
        std::vector<std::string> items, names;
    } cases[] = {
        {true, false, true, 0, {"2"}, {"norm"}},
        {true, true, true, 2, {"2"}, {"norm"}},
        {true, false, false, 2, {"1", "2", "3"}, {"post", "norm", "margins"}},
        {true, true, false, 0, {"1", "2", "3"}, {"post", "norm", "margins"}},
        {true,
         true,
         false,
         2,
         {"1", "2", "3", "4", "5"},
         {"post", "norm", "margins", "hypo 2", "hypo 3"}},
        {false, true, false, 1, {"4"}, {"hypo 2"}},
        {false, true, true, 1, {}, {}},
    };
    for (const auto& c : cases) {
        write_text_grid = c.write_text_grid;
        write_hypo_tiers = c.write_hypo_tiers;
        nbest_num = c.nbest_num;
        synchronizer.reset();
        synchronizer.addNBest(std::vector<NBestString>(c.nbest_num));
        addCodes(synchronizer, {1, 6});
        const Grid grid = buildAndParse(c.final);
        std::vector<std::string> items, names;
        for (const Tier& tier : grid.tiers) {
            items.push_back(tier.item);
            names.push_back(tier.name);
        }
        EXPECT_EQ(grid.size, std::to_string(c.items.size()));
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(names, c.names);
    }
}

TEST_F(TextGridTest, NeitherSettingLeavesTheFileAlone) {
    write_text_grid = false;
    write_hypo_tiers = false;
    std::ofstream("untouched.TextGrid") << "old";
    addCodes(synchronizer, {1});
    EXPECT_EQ(build("untouched.TextGrid", true), "");
    EXPECT_EQ(build("untouched.TextGrid", false), "");
    EXPECT_EQ(readFile("untouched.TextGrid"), "old");
    EXPECT_EQ(build("no_such_dir/untouched.TextGrid", false), "");
}

TEST_F(TextGridTest, HypothesisTierShowsOneSymbolPerHandedBackFrame) {
    write_hypo_tiers = true;
    nbest_num = 1;
    synchronizer.addNBest({{0, 1, 2}});
    addCodes(synchronizer, {2, -1, 6, 6, 1});
    const Grid grid = buildAndParse(false);
    ASSERT_EQ(grid.tiers.size(), 4u);
    EXPECT_EQ(frameLabels(grid.tiers[3], 5),
              (std::vector<std::string>{"i", "cut", "I", "e", "cut"}));
    EXPECT_EQ(synchronizer.nbestStrVec(), (std::vector<NBestString>{{0, 1, 2, 'c', 'c'}}));
    const std::string first = readFile(scratchPath());
    EXPECT_EQ(build(scratchPath(), false), "");
    EXPECT_EQ(readFile(scratchPath()), first);
}

TEST_F(TextGridTest, PaddingShowsAsBlk) {
    write_hypo_tiers = true;
    nbest_num = 2;
    synchronizer.padNBest(0);
    synchronizer.padNBest(-1);
    EXPECT_TRUE(synchronizer.nbestStrVec().empty());
    synchronizer.padNBest(2);
    synchronizer.addNBest({{1}, {}});
    EXPECT_EQ(synchronizer.nbestStrVec(), (std::vector<NBestString>{{'$', '$', 1}, {'$', '$'}}));
    addCodes(synchronizer, {6, 6, 6});
    const Grid grid = buildAndParse(false);
    ASSERT_EQ(grid.tiers.size(), 5u);
    using Labels = std::vector<std::string>;
    EXPECT_EQ(frameLabels(grid.tiers[3], 3), (Labels{"blk", "blk", "I"}));
    EXPECT_EQ(frameLabels(grid.tiers[4], 3), (Labels{"blk", "blk", "cut"}));
}

TEST_F(TextGridTest, PaddingWithoutHypothesesChangesNothing) {
    nbest_num = 0;
    synchronizer.padNBest(3);
    EXPECT_TRUE(synchronizer.nbestStrVec().empty());
}

TEST_F(TextGridTest, MissingHypothesesShowAsCut) {
    write_hypo_tiers = true;
    nbest_num = 1;
    addCodes(synchronizer, {1, 6});
    const Grid grid = buildAndParse(false);
    ASSERT_EQ(grid.tiers.size(), 4u);
    EXPECT_EQ(grid.tiers[3].intervals, (std::vector<Interval>{{"0", "0.0175", "cut"}}));
}

TEST_F(TextGridTest, HypothesisLongerThanTheCodesIsRefused) {
    write_hypo_tiers = true;
    nbest_num = 2;
    synchronizer.addNBest({{0}, {0, 0, 0}});
    addCodes(synchronizer, {2, 2});
    { std::ofstream("long.TextGrid") << "the previous file"; }
    EXPECT_EQ(build("long.TextGrid", false, false),
              "ERROR: path_len < k in SequenceSynchronizer::buildTextGrid()\n");
    EXPECT_EQ(readFile("long.TextGrid"), "the previous file");
    EXPECT_EQ(synchronizer.nbestStrVec(), (std::vector<NBestString>{{0, 'c'}, {0, 0, 0}}));

    synchronizer.addSpeechDet(true, true, true);
    EXPECT_EQ(build("long.TextGrid", false), "");
    EXPECT_EQ(synchronizer.nbestStrVec(), (std::vector<NBestString>{{0, 'c', 'c'}, {0, 0, 0}}));
}

TEST_F(TextGridTest, ResetRemovesCodesAndHypotheses) {
    nbest_num = 1;
    synchronizer.addNBest({{0, 1}});
    addCodes(synchronizer, {1, 2});
    synchronizer.reset();
    EXPECT_TRUE(synchronizer.speechDetVec().empty());
    EXPECT_TRUE(synchronizer.nbestStrVec().empty());
    nbest_num = 0;
    addCodes(synchronizer, {3});
    const Grid grid = buildAndParse(true);
    EXPECT_EQ(grid.tiers[0].intervals, (std::vector<Interval>{{"0", "0.0075", "spc"}}));
}

TEST_F(TextGridTest, UnwritablePathsAreReported) {
    addCodes(synchronizer, output_test::workedExampleCodes());
    EXPECT_EQ(build("no_such_dir/out.TextGrid", true, false),
              "ERROR: cannot save TextGrid to: no_such_dir/out.TextGrid\n");
    EXPECT_FALSE(std::filesystem::exists("no_such_dir"));
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(build("/dev/full", true, false), "ERROR: cannot save TextGrid to: /dev/full\n");
    EXPECT_EQ(build("/dev/full", false, false), "ERROR: cannot save TextGrid to: /dev/full\n");
}

TEST_F(TextGridTest, GoldenRunGivesTheGoldenFile) {
    std::ifstream frames(std::string(TARVIK_TEST_DATA) + "/golden/frames.tsv");
    ASSERT_TRUE(frames.is_open());
    std::string line;
    std::getline(frames, line);  // column names
    std::size_t count = 0;
    while (std::getline(frames, line)) {
        std::istringstream fields(line);
        std::string index, post;
        int is_speech = 0, kept = 0;
        fields >> index >> post >> is_speech >> kept;
        ASSERT_TRUE(fields) << line;
        ASSERT_EQ(index, std::to_string(count++));
        synchronizer.addSpeechDet(std::strtod(post.c_str(), nullptr) >= 0.5, is_speech != 0,
                                  kept != 0);
    }
    EXPECT_EQ(count, 800u);
    EXPECT_EQ(build("speech.TextGrid", true), "");
    EXPECT_EQ(readFile("speech.TextGrid"),
              readFile(std::string(TARVIK_TEST_DATA) + "/golden/speech.TextGrid"));
}

}  // namespace
}  // namespace tarvik
