#include "decision/feature_normalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/decision/normalizer_files.h"

namespace tarvik {
namespace {

using test_support::writeFile;

TEST(FeatureNormalizer, StartsWithZeroMeansAndUnitDeviations) {
    FeatureNormalizer normalizer(3, 4);
    EXPECT_EQ(inUse(normalizer.means, 3), std::vector<double>(3, 0.0));
    EXPECT_EQ(inUse(normalizer.stddevs, 3), std::vector<double>(3, 1.0));
}

TEST(FeatureNormalizer, StaticFileReadsTheSameWhateverTheWhiteSpace) {
    const std::vector<std::string> layouts = {
        "3\n1.5 -2 3e2\n0.25 4 5\n",
        "3 1.5 -2 3e2 0.25 4 5",
        "3\n1.5\n-2\n3e2\n0.25\n4\n5",
        " \t3\t\t1.5\n\n-2 \t 3e2\r\n0.25\t4\t5\tanything after the values is not read",
    };
    for (const std::string& text : layouts) {
        SCOPED_TRACE(text);
        FeatureNormalizer normalizer(3, 4);
        loadFrom(normalizer, text);
        EXPECT_EQ(inUse(normalizer.means, 3), (std::vector<double>{1.5, -2.0, 300.0}));
        EXPECT_EQ(inUse(normalizer.stddevs, 3), (std::vector<double>{0.25, 4.0, 5.0}));
    }
}

TEST(FeatureNormalizer, GoldenStaticFileIsReadWithFullPrecision) {
    FeatureNormalizer normalizer(39, 12000);
    ASSERT_TRUE(normalizer.loadStaticNormalization(TARVIK_TEST_DATA "/golden/media.norm"));
    EXPECT_EQ(normalizer.means[0], -17.792330926940352);
    EXPECT_EQ(normalizer.means[12], 76.00457929739962);
}

TEST(FeatureNormalizer, RefusedStaticFilesLogOneLineAndChangeNothing) {
    struct Case {
        std::string name;
        const char* text;  // null: no file at all
        std::string line;
    };
    const std::string counted = "ERROR: number of features differs in: ";
    const std::string malformed = "ERROR: incomplete or malformed static normalization: ";
    const std::vector<Case> cases = {
        {"missing.norm", nullptr, "ERROR: cannot load static normalization: "},
        {"empty.norm", "", counted},
        {"count13.norm", "13 1 2 3 4 5 6", counted},
        {"count_not_integer.norm", "3.0 1 2 3 4 5 6", counted},
        {"count_word.norm", "three 1 2 3 4 5 6", counted},
        {"short.norm", "3 1 2 3 4 5", malformed},
        {"only_count.norm", "3\n", malformed},
        {"word.norm", "3 1 2 x 4 5 6", malformed},
        {"trailing_letters.norm", "3 1 2 3 4 5 6x", malformed},
        {"nan.norm", "3 1 2 3 nan 5 6", malformed},
        {"overflow.norm", "3 1 2 3 1e999 5 6", malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FeatureNormalizer normalizer(3, 4);
        loadFrom(normalizer, "3 7 8 9 10 11 12");
        std::remove(c.name.c_str());
        if (c.text != nullptr) writeFile(c.name, c.text);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(normalizer.loadStaticNormalization(c.name));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line + c.name + "\n");
        EXPECT_EQ(inUse(normalizer.means, 3), (std::vector<double>{7, 8, 9}));
        EXPECT_EQ(inUse(normalizer.stddevs, 3), (std::vector<double>{10, 11, 12}));
        normalizer.reset();
        EXPECT_EQ(inUse(normalizer.means, 3), (std::vector<double>{7, 8, 9}));
    }
}

TEST(FeatureNormalizer, FirstUpdateBlendsOneFrameIntoTheStaticValues) {
    FeatureNormalizer normalizer(1, 12000);
    loadFrom(normalizer, "1 0.3 2.5");
    normalizer.reset();
    const double x = 7.1;
    normalizer.update(&x);
    EXPECT_EQ(normalizer.means[0], (x + 0.3 * 11999.0) / 12000.0);
    EXPECT_EQ(normalizer.stddevs[0], 2.5 * 11999.0 / 12000.0);
}

// Window of 4 frames; value 0 runs 1, 2, 3, ..., value 1 stays 0, statics 10 and 2.
class NormalizerWindow : public testing::Test {
  protected:
    void SetUp() override {
        loadFrom(normalizer, "2 10 10 2 2");
        normalizer.reset();
    }
    void updateWith(double value) {
        const double frame[2] = {value, 0.0};
        normalizer.update(frame);
    }
    FeatureNormalizer normalizer{2, 4};
};

TEST_F(NormalizerWindow, FillingBlendsWindowAndStaticValuesByFill) {
    updateWith(1);
    updateWith(2);
    // Two frames: window mean 1.5, deviation 0.5, each weighted 2/4.
    EXPECT_EQ(normalizer.means[0], (1.5 * 2 + 10 * 2) / 4.0);
    EXPECT_EQ(normalizer.stddevs[0], (0.5 * 2 + 2 * 2) / 4.0);
    EXPECT_EQ(normalizer.means[1], 5.0);
    EXPECT_EQ(normalizer.stddevs[1], 1.0);
}

TEST_F(NormalizerWindow, WindowStatisticsAloneFromTheWthUpdateThenTheOldestFrameLeaves) {
    for (double value : {1, 2, 3, 4}) updateWith(value);
    EXPECT_EQ(normalizer.means[0], 2.5);
    EXPECT_EQ(normalizer.stddevs[0], std::sqrt(1.25));
    // A value that stayed 0 has a deviation of exactly 0: nothing guards it.
    EXPECT_EQ(normalizer.means[1], 0.0);
    EXPECT_EQ(normalizer.stddevs[1], 0.0);

    updateWith(5);  // slides: the window is 2, 3, 4, 5
    EXPECT_EQ(normalizer.means[0], 3.5);
    EXPECT_EQ(normalizer.stddevs[0], std::sqrt(1.25));
    EXPECT_EQ(normalizer.stddevs[1], 0.0);
    for (double value : {6, 7, 8, 9}) updateWith(value);  // past the ring's end: 6 .. 9
    EXPECT_EQ(normalizer.means[0], 7.5);
    EXPECT_EQ(normalizer.stddevs[0], std::sqrt(1.25));
}

TEST_F(NormalizerWindow, ResetEmptiesTheWindowAndRestoresTheStaticValues) {
    for (double value : {1, 2, 3, 4, 5}) updateWith(value);
    normalizer.reset();
    normalizer.reset();
    EXPECT_EQ(inUse(normalizer.means, 2), (std::vector<double>{10, 10}));
    EXPECT_EQ(inUse(normalizer.stddevs, 2), (std::vector<double>{2, 2}));
    updateWith(1);
    EXPECT_EQ(normalizer.means[0], (1.0 + 10 * 3) / 4.0);
    EXPECT_EQ(normalizer.stddevs[0], 2 * 3 / 4.0);
}

TEST(FeatureNormalizer, NegativeSumOfSquaresFromRoundingIsClampedToZero) {
    // Removing 1e8 from the window {1e8, 1.1} leaves a sum of squares of -1
    // by rounding; clamped, adding 0.1 gives a finite deviation.
    FeatureNormalizer normalizer(1, 2);
    normalizer.reset();
    for (double value : {1e8, 1.1, 0.1}) normalizer.update(&value);
    EXPECT_EQ(normalizer.means[0], 0.5999999970197678);
    EXPECT_EQ(normalizer.stddevs[0], 0.4999999970197678);
}

TEST(FeatureNormalizer, NormalizeUsesTheValuesInUse) {
    FeatureNormalizer normalizer(3, 4);
    loadFrom(normalizer, "3 1 2 3 0.5 4 0.25");
    double frame[3] = {2, 2, 1};
    normalizer.normalize(frame);
    EXPECT_EQ(frame[0], 2.0);
    EXPECT_EQ(frame[1], 0.0);
    EXPECT_EQ(frame[2], -8.0);
}

}  // namespace
}  // namespace tarvik
