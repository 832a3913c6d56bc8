#include "tests/decision/normalizer_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "decision/feature_normalizer.h"

namespace tarvik {
namespace {

using test_support::readFile;
using test_support::scratchFile;
using test_support::writeFile;

const std::string TOO_LONG =
    "WARNING: length > FN_NORMALIZE_INTERVAL * feature_num * sizeof(double)\n";
const std::string TOO_SHORT =
    "WARNING: length < FN_NORMALIZE_INTERVAL * feature_num * sizeof(double)\n";

// The bytes of a window file: `count` as a little-endian int32, then `values`.
std::string windowFile(std::int32_t count, const std::vector<double>& values) {
    std::string bytes(sizeof count + values.size() * sizeof(double), '\0');
    std::memcpy(bytes.data(), &count, sizeof count);
    if (!values.empty()) std::memcpy(bytes.data() + sizeof count, values.data(), values.size() * 8);
    return bytes;
}

// The window that `normalizer` holds, as saveDynamicNormalization writes it.
std::vector<double> savedWindow(FeatureNormalizer& normalizer) {
    const std::string path = scratchFile(".window");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(normalizer.saveDynamicNormalization(path));
    testing::internal::GetCapturedStdout();
    const std::string bytes = readFile(path);
    std::vector<double> values((bytes.size() - 4) / 8);
    std::memcpy(values.data(), bytes.data() + 4, values.size() * 8);
    return values;
}

// Loads the window file `bytes` and returns what the load printed.
std::string loadWindow(FeatureNormalizer& normalizer, const std::string& bytes, bool loads = true) {
    const std::string path = scratchFile(".load.window");
    writeFile(path, bytes);
    testing::internal::CaptureStdout();
    EXPECT_EQ(normalizer.loadDynamicNormalization(path), loads);
    return testing::internal::GetCapturedStdout();
}

// Window of 4 frames of 2 values: value 0 runs 1, 3, 5, 7 and value 1 runs -3,
// -1, 1, 3, so the running and the two-pass statistics are both exact.
class WindowRoundTrip : public testing::Test {
  protected:
    void SetUp() override {
        loadFrom(original, "2 10 10 2 2");
        original.reset();
        for (int k = 0; k < 4; ++k) {
            const double frame[2] = {1.0 + 2 * k, -3.0 + 2 * k};
            original.update(frame);
        }
    }
    FeatureNormalizer original{2, 4};
    FeatureNormalizer loaded{2, 4};
};

TEST_F(WindowRoundTrip, LoadedWindowReproducesTheValuesInUseAndTheNextUpdates) {
    const std::string path = scratchFile(".window");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(original.saveDynamicNormalization(path));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "saved dynamic normalization: " + path + "\n");
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes, windowFile(2, {1, -3, 3, -1, 5, 1, 7, 3}));

    loadFrom(loaded, "2 0.5 0.5 9 9");
    EXPECT_EQ(loadWindow(loaded, bytes),
              "loaded dynamic normalization: " + scratchFile(".load.window") + "\n");
    EXPECT_EQ(inUse(loaded.means, 2), (std::vector<double>{4, 0}));
    EXPECT_EQ(inUse(loaded.stddevs, 2), inUse(original.stddevs, 2));
    EXPECT_EQ(loaded.stddevs[0], std::sqrt(5.0));

    loaded.reset();  // keeps the loaded window
    loaded.reset();
    EXPECT_EQ(inUse(loaded.means, 2), inUse(original.means, 2));
    const std::vector<std::vector<double>> next = {
        {9, 2}, {0.3, -7.25}, {4, 4}, {1e3, 0.1}, {-2, 6}};
    for (const std::vector<double>& frame : next) {
        original.update(frame.data());
        loaded.update(frame.data());
        EXPECT_EQ(inUse(loaded.means, 2), inUse(original.means, 2));
        EXPECT_EQ(inUse(loaded.stddevs, 2), inUse(original.stddevs, 2));
    }
}

TEST_F(WindowRoundTrip, StaticLoadAfterAWindowLoadStartsAnEmptyWindowAtTheNextReset) {
    loadWindow(loaded, windowFile(2, savedWindow(original)));
    loadFrom(loaded, "2 10 10 2 2");
    loaded.reset();
    const double frame[2] = {6, 6};
    loaded.update(frame);
    EXPECT_EQ(loaded.means[0], (6 + 10 * 3) / 4.0);
    EXPECT_EQ(loaded.stddevs[0], 2 * 3 / 4.0);
}

TEST(WindowFile, ShortOrLongDataIsRepeatedOrCutWithAWarning) {
    struct Case {
        std::string name;
        std::vector<double> data;
        std::string lines;
        std::vector<double> window;
        std::string tail = "";  // bytes after the doubles
    };
    // Each normaliser (5 frames of 2 values) first holds the window 10 20, 11 21, ..., 14 24.
    const std::vector<double> before = {10, 20, 11, 21, 12, 22, 13, 23, 14, 24};
    const std::vector<Case> cases = {
        {"whole", {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, "", {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}},
        {"two_frames", {1, 2, 3, 4}, TOO_SHORT, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2}},
        {"one_frame", {1, 2}, TOO_SHORT, {1, 2, 1, 2, 1, 2, 1, 2, 1, 2}},
        // Ends inside slot 1: its second value stays 21, and slot 2 starts the repetition.
        {"inside_a_frame", {1, 2, 3}, TOO_SHORT, {1, 2, 3, 21, 1, 2, 3, 21, 1, 2}},
        {"four_frames_and_a_half",
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         TOO_SHORT,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 24}},
        {"only_the_count", {}, TOO_SHORT, before},
        {"longer",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 99, 99, 99},
         TOO_LONG,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}},
        // Data beyond the window need not be whole doubles.
        {"longer_by_part_of_a_double",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 99},
         TOO_LONG,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0},
         "xyz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FeatureNormalizer normalizer(2, 5);
        loadWindow(normalizer, windowFile(2, before));
        const std::string loaded =
            "loaded dynamic normalization: " + scratchFile(".load.window") + "\n";
        EXPECT_EQ(loadWindow(normalizer, windowFile(2, c.data) + c.tail), c.lines + loaded);
        EXPECT_EQ(savedWindow(normalizer), c.window);
        // The statistics cover all 5 slots.
        double sum = 0;
        for (int s = 0; s < 5; ++s) sum += c.window[2 * s];
        EXPECT_EQ(normalizer.means[0], sum / 5);
    }
}

TEST(WindowFile, MalformedFilesAreRefusedWithOneLineAndChangeNothing) {
    struct Case {
        std::string name;
        const char* kind;  // "missing", "directory" or "bytes"
        std::string bytes;
        std::string line;
    };
    const std::string cannot = "ERROR: cannot load dynamic normalization: ";
    const std::string count = "ERROR: number of features differs: ";
    const std::string partial = "ERROR: dynamic normalization is not a whole number of doubles: ";
    const std::string window = windowFile(2, std::vector<double>(8, 1.5));
    const std::vector<Case> cases = {
        {"missing.window", "missing", "", cannot},
        {"directory.window", "directory", "", cannot},
        {"empty.window", "bytes", "", count},
        {"three_bytes.window", "bytes", window.substr(0, 3), count},
        {"count13.window", "bytes", windowFile(13, std::vector<double>(8 * 13 / 2, 1.5)), count},
        {"count_negative.window", "bytes", windowFile(-2, {1, 2}), count},
        {"count_huge.window", "bytes", windowFile(std::numeric_limits<std::int32_t>::max(), {1}),
         count},
        {"half_a_double.window", "bytes", window.substr(0, 4 + 4), partial},
        {"one_and_a_half.window", "bytes", window.substr(0, 4 + 12), partial},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FeatureNormalizer normalizer(2, 4);
        loadFrom(normalizer, "2 10 10 2 2");
        normalizer.reset();
        const double frame[2] = {6, 6};
        normalizer.update(frame);
        const std::vector<double> means = inUse(normalizer.means, 2);
        const std::vector<double> stddevs = inUse(normalizer.stddevs, 2);
        const std::vector<double> ring = savedWindow(normalizer);

        std::filesystem::remove_all(c.name);
        if (std::string(c.kind) == "directory") std::filesystem::create_directory(c.name);
        if (std::string(c.kind) == "bytes") writeFile(c.name, c.bytes);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(normalizer.loadDynamicNormalization(c.name));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line + c.name + "\n");
        EXPECT_EQ(inUse(normalizer.means, 2), means);
        EXPECT_EQ(inUse(normalizer.stddevs, 2), stddevs);
        EXPECT_EQ(savedWindow(normalizer), ring);
        normalizer.reset();  // no window was loaded: back to the static values
        EXPECT_EQ(inUse(normalizer.means, 2), (std::vector<double>{10, 10}));
    }
}

TEST(NormalizerFiles, SavesThatCannotOpenTheirFileReturnFalseSilently) {
    FeatureNormalizer normalizer(2, 4);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(normalizer.saveDynamicNormalization("no_such_folder/x.window"));
    EXPECT_FALSE(normalizer.saveStaticNormalization("no_such_folder/x.norm"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(StaticFile, SavedTextReadsBackBitForBitWhenValuesHaveSixDigits) {
    FeatureNormalizer normalizer(3, 4);
    loadFrom(normalizer, "3 1.5 -0.1 123456 2.5e-07 4 0.333333");
    const std::string path = scratchFile(".saved.norm");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(normalizer.saveStaticNormalization(path));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "saved static normalization: " + path + "\n");
    EXPECT_EQ(readFile(path), "3\n1.5\t-0.1\t123456\t\t2.5e-07\t4\t0.333333\t");

    FeatureNormalizer reloaded(3, 4);
    ASSERT_TRUE(reloaded.loadStaticNormalization(path));
    EXPECT_EQ(inUse(reloaded.means, 3), inUse(normalizer.means, 3));
    EXPECT_EQ(inUse(reloaded.stddevs, 3), inUse(normalizer.stddevs, 3));
}

TEST(StaticFile, SavedTextRoundsOtherValuesToSixSignificantDigits) {
    FeatureNormalizer normalizer(39, 12000);
    ASSERT_TRUE(normalizer.loadStaticNormalization(TARVIK_TEST_DATA "/golden/media.norm"));
    const std::string path = scratchFile(".saved.norm");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(normalizer.saveStaticNormalization(path));
    testing::internal::GetCapturedStdout();
    FeatureNormalizer reloaded(39, 12000);
    ASSERT_TRUE(reloaded.loadStaticNormalization(path));
    EXPECT_EQ(normalizer.means[0], -17.792330926940352);
    EXPECT_EQ(reloaded.means[0], -17.7923);
    EXPECT_EQ(reloaded.means[12], 76.0046);
}

TEST(StaticFile, SavedValuesAreTheOnesInUse) {
    FeatureNormalizer normalizer(1, 4);
    loadFrom(normalizer, "1 10 2");
    normalizer.reset();
    const double x = 2;
    normalizer.update(&x);  // blend: mean (2 + 10 * 3) / 4, deviation (0 + 2 * 3) / 4
    const std::string path = scratchFile(".saved.norm");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(normalizer.saveStaticNormalization(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(path), "1\n8\t\t1.5\t");
}

TEST(NormalizerFiles, PrintNormalizationLogsFourLines) {
    FeatureNormalizer normalizer(3, 4);
    loadFrom(normalizer, "3 1.5 -2 300 0.1234567 4 1e-07");
    normalizer.reset();
    testing::internal::CaptureStdout();
    normalizer.printNormalization();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Means:  \n1.5 -2 300 \nStDevs:  \n0.123457 4 1e-07 speech_frames_num=0\n");

    const double frame[3] = {1.5, -2, 300};
    normalizer.update(frame);
    testing::internal::CaptureStdout();
    normalizer.printNormalization();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.substr(printed.size() - 20), "speech_frames_num=1\n");
}

TEST_F(WindowRoundTrip, PrintNormalizationCountsTheLoadedWindowAsFull) {
    loadWindow(loaded, windowFile(2, savedWindow(original)));
    testing::internal::CaptureStdout();
    loaded.printNormalization();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Means:  \n4 0 \nStDevs:  \n2.23607 2.23607 speech_frames_num=4\n");
}

}  // namespace
}  // namespace tarvik
