#include "app/console.h"

#include <gtest/gtest.h>

#include "app/settings.h"

namespace tarvik {
namespace {

TEST(Console, LinesAreWrittenVerbatimWhateverTheChannel) {
    testing::internal::CaptureStdout();
    logLine(0, "a line");
    logLine(7, "a line");
    printLine("");
    printLine("two\nlines");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a line\na line\n\ntwo\nlines\n");
}

TEST(Settings, DefaultsKeepTheOptionalFacilitiesOff) {
    EXPECT_EQ(log_channel, 0);
    EXPECT_EQ(signal_frame_len, 0);
    EXPECT_EQ(sync_features_num, 0);
    EXPECT_EQ(nbest_num, 0);
    EXPECT_TRUE(out_prefix.empty());
    EXPECT_TRUE(ses_num_dir.empty());
    EXPECT_FALSE(write_praat_script);
    EXPECT_FALSE(write_hypo_tiers);
    EXPECT_FALSE(write_text_grid);
}

}  // namespace
}  // namespace tarvik
