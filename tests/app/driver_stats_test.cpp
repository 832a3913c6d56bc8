#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/driver.h"

namespace tarvik {
namespace {

TEST(DriverStats, RunningStatisticsAreThoseOfTheFramesSeen) {
    std::vector<std::vector<double>> frames(5, std::vector<double>(FEATURES_NUM));
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; i < FEATURES_NUM; ++i) frames[k][i] = (k + 1) * (i - 19) + 0.25 * k * k;
    }
    stats_count = 0;
    stats_mean.fill(0.0);
    stats_m2.fill(0.0);
    stats_stddev.fill(0.0);
    for (const auto& frame : frames) updateStats(frame.data());

    EXPECT_EQ(stats_count, 5);
    for (int i = 0; i < FEATURES_NUM; ++i) {
        double mean = 0.0;
        for (const auto& frame : frames) mean += frame[i] / 5;
        double m2 = 0.0;
        for (const auto& frame : frames) m2 += (frame[i] - mean) * (frame[i] - mean);
        EXPECT_NEAR(stats_mean[i], mean, 1e-12) << i;
        EXPECT_NEAR(stats_m2[i], m2, 1e-9) << i;
        EXPECT_NEAR(stats_stddev[i], std::sqrt(m2 / 5), 1e-12) << i;
    }
}

}  // namespace
}  // namespace tarvik
