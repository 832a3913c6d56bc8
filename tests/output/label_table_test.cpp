#include "output/label_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/output/text_grid_samples.h"

namespace tarvik {
namespace {

struct Pair {
    const char* label;
    int code;
};

const Pair TABLE[] = {
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

class LabelTable : public ::testing::Test {
  protected:
    void SetUp() override { output_test::initMapsOnce(); }
};

TEST_F(LabelTable, EveryPairConvertsBothWaysSilently) {
    ASSERT_EQ(std::size(TABLE), 51u);
    ::testing::internal::CaptureStdout();
    for (const Pair& pair : TABLE) {
        EXPECT_EQ(strToCode(pair.label), pair.code) << pair.label;
        EXPECT_EQ(codeToStr(static_cast<LabelCode>(pair.code)), pair.label) << pair.code;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(LabelTable, EveryOtherCodeIsReportedWithItsSignedValue) {
    std::set<int> known;
    for (const Pair& pair : TABLE) known.insert(pair.code);
    for (int value = -128; value <= 127; ++value) {
        if (known.count(value) != 0) continue;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(codeToStr(static_cast<LabelCode>(value)), "ERROR_" + std::to_string(value));
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "ERROR: codeToStr(), cannot find code: " + std::to_string(value) + "\n");
    }
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(codeToStr(static_cast<LabelCode>(200)), "ERROR_-56");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "ERROR: codeToStr(), cannot find code: -56\n");
}

TEST_F(LabelTable, UnknownLabelsGiveMinusOneWithAMessage) {
    for (const std::string label : {"SIL", "", "sil ", "pau", "h#", "Sil"}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(strToCode(label), -1) << '"' << label << '"';
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "ERROR: strToCode(), cannot find string: " + label + "\n");
    }
}

TEST_F(LabelTable, SecondFillIsRefusedAndChangesNothing) {
    ::testing::internal::CaptureStdout();
    initMaps();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR: maps already initialized\n");
    EXPECT_EQ(strToCode("sil"), 97);
    EXPECT_EQ(codeToStr(109), "gr9");
}

TEST(LabelTableSpeechCode, SilenceLabelsExactlyAsWritten) {
    const struct {
        const char* label;
        LabelCode code;
    } cases[] = {
        {"ton", SIL_CODE},   {"sil", SIL_CODE},  {"pau", SIL_CODE}, {"h#", SIL_CODE},
        {"h\\# ", SIL_CODE}, {"h\\#", SPC_CODE}, {"spc", SPC_CODE}, {"cut", SPC_CODE},
        {"SIL", SPC_CODE},   {"sil ", SPC_CODE}, {"", SPC_CODE},    {"a", SPC_CODE},
    };
    for (const auto& c : cases) EXPECT_EQ(strToSpeechCode(c.label), c.code) << c.label;
}

}  // namespace
}  // namespace tarvik
