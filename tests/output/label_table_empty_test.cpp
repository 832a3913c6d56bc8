// The table before it is filled; a process of its own, as the table is process-wide.
#include <gtest/gtest.h>

#include "output/label_table.h"

namespace tarvik {
namespace {

TEST(LabelTableBeforeFilling, LookupsFailWithAMessage) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(codeToStr(97), "ERROR");
    EXPECT_EQ(strToCode("sil"), -1);
    EXPECT_EQ(strToSpeechCode("sil"), SIL_CODE);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "ERROR: maps need to be initialized first\n"
              "ERROR: maps need to be initialized first\n");

    ::testing::internal::CaptureStdout();
    initMaps();
    EXPECT_EQ(codeToStr(97), "sil");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace tarvik
