// Reference intervals placed on frames, their cursor, the walk over their frames and the queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/chain.h"
#include "frontend/signal.h"
#include "tests/support/text_grid_fixture.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

using test_support::oneTierTextGrid;
using test_support::testName;
using test_support::TextGridInterval;
using test_support::writeFile;
using test_support::writeWav;

// Writes a headered recording of `samples` zeros and a TextGrid of `intervals`; returns the
// recording's path, the TextGrid's path is the same with ".TextGrid" appended.
std::string writeLabelled(const std::string& stem, int samples, const std::string& xmax,
                          const std::vector<TextGridInterval>& intervals) {
    const std::string wav = testName() + stem + ".wav";
    writeWav(wav, std::vector<int16_t>(samples, 0));
    writeFile(wav + ".TextGrid", oneTierTextGrid(xmax, intervals));
    return wav;
}

// 0 to 0.5 s "sil", 0.5 to 1.2 s "spc", 1.2 to 2.3 s "sil".
const std::vector<TextGridInterval> WORKED_EXAMPLE = {
    {"0", "0.5", "sil"}, {"0.5", "1.2", "spc"}, {"1.2", "2.3", "sil"}};

// Every frame the walk yields (global index, -1 for a null) until `nulls_at_end` nulls in a row,
// which are kept as one.
std::vector<int> walkIntervalFrames(Signal& signal, int nulls_at_end) {
    std::vector<int> walk;
    int left = 0;
    int nulls = 0;
    for (const double* frame = signal.firstIntervalFrame(&left); nulls < nulls_at_end;
         frame = signal.nextIntervalFrame(&left)) {
        nulls = frame == nullptr ? nulls + 1 : 0;
        walk.push_back(frame == nullptr ? -1 : signal.getGlobalFrame());
    }
    walk.resize(walk.size() - nulls_at_end + 1);
    return walk;
}

std::vector<int> range(int first, int last) {
    std::vector<int> out;
    for (int f = first; f <= last; ++f) out.push_back(f);
    return out;
}

class WorkedExample : public ::testing::Test {
  protected:
    void SetUp() override {
        wav = writeLabelled("", 36800, "2.3", WORKED_EXAMPLE);
        ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
        signal.setFrame(FRAME_MS, FRAME_OVERLAP);
        ASSERT_EQ(signal.getFrameCount(0), 230);
    }
    std::string wav;
    Signal signal;
};

TEST_F(WorkedExample, IntervalCursorGivesFirstFramesLengthsAndLabels) {
    EXPECT_EQ(signal.getIntervalCount(0), 3);
    EXPECT_EQ(signal.getTotalIntervals(), 3);
    EXPECT_FALSE(signal.hasSourceWithoutIntervals());
    EXPECT_EQ(signal.firstInterval(), 0);
    EXPECT_EQ(signal.getIntervalLength(), 49);
    EXPECT_EQ(signal.getIntervalLabel(), "sil");
    EXPECT_EQ(signal.nextInterval(), 49);
    EXPECT_EQ(signal.getIntervalLength(), 70);
    EXPECT_EQ(signal.getLabel(), "spc");
    EXPECT_EQ(signal.nextInterval(), 119);
    EXPECT_EQ(signal.getIntervalLength(), 112);
    EXPECT_EQ(signal.getIntervalLabel(), "sil");
    EXPECT_EQ(signal.nextInterval(), -1);
    EXPECT_EQ(signal.getIntervalLabel(), "sil");  // the cursor stays on the last interval
}

TEST_F(WorkedExample, WalkSkipsEachIntervalsLastFrame) {
    std::vector<int> expected = range(0, 47);
    expected.push_back(-1);
    for (int f : range(49, 117)) expected.push_back(f);
    expected.push_back(-1);
    for (int f : range(119, 229)) expected.push_back(f);
    expected.push_back(-1);
    EXPECT_EQ(walkIntervalFrames(signal, 3), expected);

    // The pointer and samples_left are those of the frame walk.
    int left = 0;
    const double* first = signal.firstIntervalFrame(&left);
    EXPECT_EQ(left, 36800);
    for (int f = 1; f <= 47; ++f) ASSERT_NE(signal.nextIntervalFrame(&left), nullptr);
    EXPECT_EQ(signal.nextIntervalFrame(&left), nullptr);
    EXPECT_EQ(signal.nextIntervalFrame(&left), first + 49 * 160);
    EXPECT_EQ(left, 36800 - 49 * 160);
}

TEST_F(WorkedExample, Descriptions) {
    const std::string name = wav;
    EXPECT_EQ(signal.getFrameInfo(47), name + ":0:sil;");
    EXPECT_EQ(signal.getFrameInfo(48), name + ":1:spc;");  // 48 is interval 0's last frame
    EXPECT_EQ(signal.getFrameInfo(229), name + ":2:sil;");
    EXPECT_EQ(signal.getFrameInfo(230), "");
    EXPECT_EQ(signal.getFrameInfo(-1), "");
    EXPECT_EQ(signal.getIntervalInfo(1), name + ":1:spc;");
    EXPECT_EQ(signal.getIntervalInfo(3), "");
    EXPECT_EQ(signal.getIntervalInfo(-1), "");
    EXPECT_EQ(signal.checkLabels(), "");
}

TEST_F(WorkedExample, SecondSourceWithoutTextGrid) {
    const std::string plain = testName() + "plain.wav";
    writeWav(plain, std::vector<int16_t>(1600, 0));
    ASSERT_EQ(signal.loadFile(plain, "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_TRUE(signal.hasSourceWithoutIntervals());
    EXPECT_EQ(signal.getTotalIntervals(), 3);
    EXPECT_EQ(signal.getIntervalCount(1), 0);
    EXPECT_EQ(signal.getIntervalInfo(3), "");
    EXPECT_EQ(signal.getFrameInfo(230), "");  // frame 0 of the second source: no interval
    EXPECT_EQ(signal.checkLabels(), "");
    // The cursor ends on the source without intervals, standing on no interval.
    signal.firstInterval();
    signal.nextInterval();
    signal.nextInterval();
    EXPECT_EQ(signal.nextInterval(), -1);
    EXPECT_EQ(signal.getIntervalLength(), 0);
    EXPECT_EQ(signal.getIntervalLabel(), "");
}

TEST(SignalIntervalsTest, CheckLabelsReportsARecordingOneFrameShort) {
    const std::string wav = writeLabelled("", 36640, "2.3", WORKED_EXAMPLE);
    Signal signal;
    ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.checkLabels(), "ERR:" + wav + " \n230=229 \n");
}

// With 1 ms frames every 1 ms the first frame of an interval is its start in milliseconds, and
// the last interval's last frame its end.
TEST(SignalIntervalsTest, TimesAreTruncatedToWholeMilliseconds) {
    const std::string wav = writeLabelled(
        "", 32000, "2", {{"0", "0.0075", "a"}, {"0.0075", "1.005", "b"}, {"1.005", "1.9999", "c"}});
    Signal signal;
    ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
    signal.setFrame(1, 0.0);
    EXPECT_EQ(signal.firstInterval(), 0);
    EXPECT_EQ(signal.nextInterval(), 7);
    EXPECT_EQ(signal.nextInterval(), 1004);
    EXPECT_EQ(signal.getIntervalLength(), 1999 - 1004 + 1);
}

TEST(SignalIntervalsTest, IntervalEndingBeforeTheFirstFrameCentreHasNoFrame) {
    const std::string wav =
        writeLabelled("", 16000, "1", {{"0", "0.012", "x"}, {"0.012", "1", "y"}});
    Signal signal;
    ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.firstInterval(), 0);
    EXPECT_EQ(signal.getIntervalLength(), 0);  // last frame -1
    EXPECT_EQ(signal.nextInterval(), 0);
    EXPECT_EQ(signal.getIntervalLength(), 101);
    std::vector<int> expected = {-1};
    for (int f : range(0, 99)) expected.push_back(f);
    expected.push_back(-1);
    EXPECT_EQ(walkIntervalFrames(signal, 3), expected);
    EXPECT_EQ(signal.checkLabels(), "");
}

// A transcription of 5 s over a recording of 1 s (100 frames): the walk stops at the recording's
// last frame and passes over the interval that lies wholly after it.
TEST(SignalIntervalsTest, IntervalsPastTheRecordingYieldOnlyItsFrames) {
    const std::string wav =
        writeLabelled("", 16000, "5", {{"0", "0.5", "a"}, {"0.5", "3", "b"}, {"3", "5", "c"}});
    Signal signal;
    ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    std::vector<int> expected = range(0, 47);
    expected.push_back(-1);
    for (int f : range(49, 99)) expected.push_back(f);
    expected.push_back(-1);
    EXPECT_EQ(walkIntervalFrames(signal, 3), expected);
    EXPECT_EQ(signal.checkLabels(), "ERR:" + wav + " \n500=100 \n");
    EXPECT_EQ(signal.getFrameInfo(99), wav + ":1:b;");

    // The same once source 0's samples come from memory without trailing zeros: 10 frames.
    const std::vector<double> data(1600, 1.0);
    signal.loadBuffer(data.data(), static_cast<int>(data.size()));
    int left = 0;
    const double* frame = signal.firstIntervalFrame(&left);
    int yielded = 0;
    for (int call = 0; call < 20; ++call, frame = signal.nextIntervalFrame(&left)) {
        if (frame == nullptr) continue;
        ASSERT_LE(left, 1600);
        ASSERT_GE(left, 160);
        ++yielded;
    }
    EXPECT_EQ(yielded, 10);
}

TEST(SignalIntervalsTest, CursorAndWalkCrossSources) {
    Signal signal;
    const std::string plain = testName() + "plain.wav";
    writeWav(plain, std::vector<int16_t>(3200, 0));  // 20 frames, no intervals
    const std::string labelled =
        writeLabelled("", 8000, "0.5", {{"0", "0.05", "a"}, {"0.05", "0.5", "b"}});
    ASSERT_EQ(signal.loadFile(plain, "", true), Signal::LOAD_OK);
    ASSERT_EQ(signal.loadFile(labelled, labelled + ".TextGrid", true), Signal::LOAD_OK);
    ASSERT_EQ(signal.loadFile(plain, "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);

    EXPECT_EQ(signal.firstInterval(), 20);
    EXPECT_EQ(signal.nextInterval(), 20 + 4);
    EXPECT_EQ(signal.getIntervalInfo(1), labelled + ":1:b;");
    EXPECT_EQ(signal.getFrameInfo(20 + 3), labelled + ":1:b;");
    EXPECT_EQ(signal.getFrameInfo(19), "");
    EXPECT_EQ(signal.nextInterval(), -1);  // the third source has none
    EXPECT_EQ(signal.getIntervalLength(), 0);
    EXPECT_EQ(signal.nextInterval(), -1);

    // Source 0 has no intervals: the walk starts with a null, then the second source's frames.
    std::vector<int> expected = {-1, 20, 21, 22, -1};
    for (int f : range(4, 49)) expected.push_back(20 + f);
    expected.push_back(-1);
    EXPECT_EQ(walkIntervalFrames(signal, 3), expected);
}

TEST(SignalIntervalsTest, StepOfNoMillisecondsPlacesNoFrame) {
    const std::string wav = writeLabelled("", 16000, "1", WORKED_EXAMPLE);
    Signal signal;
    ASSERT_EQ(signal.loadFile(wav, wav + ".TextGrid", true), Signal::LOAD_OK);
    signal.setFrame(25, 1.0);
    EXPECT_EQ(signal.firstInterval(), 0);
    EXPECT_EQ(signal.getIntervalLength(), 0);
    EXPECT_EQ(walkIntervalFrames(signal, 3), std::vector<int>({-1}));
}

TEST(SignalIntervalsTest, NoSourceOrNoIntervals) {
    Signal empty;
    EXPECT_EQ(empty.firstInterval(), -1);
    EXPECT_EQ(empty.nextInterval(), -1);
    EXPECT_FALSE(empty.hasSourceWithoutIntervals());
    EXPECT_EQ(empty.getTotalIntervals(), 0);
    EXPECT_EQ(empty.getIntervalCount(0), 0);
    EXPECT_EQ(empty.getIntervalLength(), 0);
    EXPECT_EQ(empty.getLabel(), "");
    int left = 0;
    EXPECT_EQ(empty.firstIntervalFrame(&left), nullptr);
    EXPECT_EQ(empty.checkLabels(), "");

    Signal memory;
    const std::vector<double> data(3200, 0.0);
    memory.loadBuffer(data.data(), static_cast<int>(data.size()));
    EXPECT_TRUE(memory.hasSourceWithoutIntervals());
    EXPECT_EQ(memory.getIntervalCount(-1), 0);
    EXPECT_EQ(memory.getIntervalCount(1), 0);
    EXPECT_EQ(memory.firstInterval(), -1);
    EXPECT_EQ(memory.getIntervalLabel(), "");
    EXPECT_EQ(memory.firstIntervalFrame(&left), nullptr);
    EXPECT_EQ(memory.nextIntervalFrame(&left), nullptr);
    EXPECT_EQ(memory.getFrameInfo(0), "");
}

}  // namespace
}  // namespace tarvik
