#include "frontend/signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "frontend/chain.h"
#include "tests/support/wav_fixture.h"

namespace tarvik {
namespace {

using test_support::sampleBytes;
using test_support::WavFormat;
using test_support::wavHeader;
using test_support::writeBytes;
using test_support::writeWav;

std::vector<int16_t> ramp(int count) {
    std::vector<int16_t> samples(count);
    for (int i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(i % 1000 - 500);
    return samples;
}

// The samples a frame of ramp() at `offset` reads, the trailing zeros after `count` samples.
void expectRampFrame(const double* p, int offset, int count, int readable) {
    for (int i = 0; i < readable; ++i) {
        const double expected = offset + i < count ? (offset + i) % 1000 - 500 : 0.0;
        ASSERT_EQ(p[i], expected) << "frame at " << offset << ", sample " << i;
    }
}

TEST(SignalTest, HeaderedRecordingGivesFramesEvery160Samples) {
    writeWav("ramp16000.wav", ramp(16000));
    Signal signal;
    ASSERT_EQ(signal.loadFile("ramp16000.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.getFrameCount(0), 100);
    EXPECT_EQ(signal.getSourceName(0), "ramp16000.wav");

    int left = -1;
    const double* first = signal.firstFrame(&left);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(left, 16000);
    EXPECT_EQ(first[0], -500.0);
    EXPECT_EQ(first[999], 499.0);
    const double* last = first;
    for (int f = 1; f < 100; ++f) last = signal.nextFrame(&left);
    EXPECT_EQ(left, 160);
    EXPECT_TRUE(signal.isLastFrame());
    EXPECT_EQ(signal.getGlobalFrame(), 99);
    // The last frame's samples, and the 500 zeros after the recording, are readable through it.
    expectRampFrame(last, 99 * 160, 16000, 160 + 500);
    left = -7;
    EXPECT_EQ(signal.nextFrame(&left), nullptr);
    EXPECT_EQ(signal.nextFrame(&left), nullptr);
    EXPECT_EQ(left, -7);
}

TEST(SignalTest, SampleCountsAndFramesFromFileSize) {
    struct Case {
        int data_bytes;
        int frames;
        std::vector<int> samples_left;
    };
    const Case cases[] = {
        {798, 2, {399, 239}},      // 399 samples
        {799, 2, {399, 239}},      // odd length: the last byte is not read
        {2 * 159, 0, {}},          // fewer than 160 samples
        {0, 0, {}},                // the header alone
        {2 * 320, 2, {320, 160}},  // two frames exactly
    };
    for (const Case& c : cases) {
        auto bytes = wavHeader(WavFormat{}, c.data_bytes);
        bytes.resize(44 + c.data_bytes, 0x01);
        writeBytes("sized.wav", bytes);
        Signal signal;
        ASSERT_EQ(signal.loadFile("sized.wav", "", true), Signal::LOAD_OK) << c.data_bytes;
        signal.setFrame(FRAME_MS, FRAME_OVERLAP);
        EXPECT_EQ(signal.getFrameCount(0), c.frames) << c.data_bytes;
        std::vector<int> lefts;
        int left = 0;
        for (const double* p = signal.firstFrame(&left); p; p = signal.nextFrame(&left)) {
            lefts.push_back(left);
        }
        EXPECT_EQ(lefts, c.samples_left) << c.data_bytes;
    }
}

TEST(SignalTest, SamplesAreSigned16BitLittleEndianUnscaled) {
    const std::vector<unsigned char> data = {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00,
                                             0xFF, 0xFF, 0x34, 0x12, 0x00, 0x00};
    const double expected[] = {-32768.0, 32767.0, 1.0, -1.0, 4660.0, 0.0};
    for (bool has_header : {true, false}) {
        std::vector<unsigned char> bytes;
        if (has_header) bytes = wavHeader(WavFormat{}, 160 * 2);
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.resize(bytes.size() + 160 * 2 - data.size(), 0x00);
        writeBytes("decode.raw", bytes);
        Signal signal;
        ASSERT_EQ(signal.loadFile("decode.raw", "", has_header), Signal::LOAD_OK);
        signal.setFrame(FRAME_MS, FRAME_OVERLAP);
        int left = 0;
        const double* p = signal.firstFrame(&left);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(left, 160);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i], expected[i]) << i;
    }
}

TEST(SignalTest, LargeRecordingReadsWholeThroughEveryFrame) {
    // More samples than one read chunk and than the frame window holds, so both move.
    const int count = 100000 + 37;
    writeWav("long.wav", ramp(count));
    Signal signal;
    ASSERT_EQ(signal.loadFile("long.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(20, 0.0);
    ASSERT_EQ(signal.readableSamples(), Signal::FRAME_REACH);
    int left = 0;
    int offset = 0;
    for (const double* p = signal.firstFrame(&left); p != nullptr; p = signal.nextFrame(&left)) {
        ASSERT_EQ(left, count - offset);
        const int readable = std::min(Signal::FRAME_REACH, left + 500);
        expectRampFrame(p, offset, count, readable);
        offset += 320;
    }
    EXPECT_EQ(offset, count / 320 * 320);
}

TEST(SignalTest, FileFramesReadTheirSamplesInAnyOrder) {
    const int count = 60000;
    writeWav("a.wav", ramp(count));
    writeWav("b.wav", ramp(20000));
    Signal signal;
    ASSERT_EQ(signal.loadFile("a.wav", "", true), Signal::LOAD_OK);
    ASSERT_EQ(signal.loadFile("b.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    int left = 0;
    const double* p = signal.firstFrame(&left);
    for (int f = 1; f < signal.getFrameCount(0); ++f) p = signal.nextFrame(&left);
    expectRampFrame(p, count - left, count, left + 500);
    // Backwards, far back, to the other source and back, and at random.
    for (const int k : {1, 0, 200, 374, 3}) {
        p = signal.prevFrame(k, &left);
        ASSERT_NE(p, nullptr) << k;
        expectRampFrame(p, count - left, count, std::min(Signal::FRAME_REACH, left + 500));
    }
    p = signal.gotoSource(1, &left);
    expectRampFrame(p, 0, 20000, Signal::FRAME_REACH);
    p = signal.gotoSource(0, &left);
    expectRampFrame(p, 0, count, Signal::FRAME_REACH);
    for (int i = 0; i < 20; ++i) {
        p = signal.randomFrame(&left);
        ASSERT_NE(p, nullptr);
        // Both ramps give the same values at the same distance from their ends.
        expectRampFrame(p, count - left, count, 400);
    }
}

TEST(SignalTest, FramesAsLongAsTheReachReadWhole) {
    const int count = 3 * Signal::FRAME_REACH;
    writeWav("a.wav", ramp(count));
    Signal signal;
    ASSERT_EQ(signal.loadFile("a.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(1000, 0.5);  // 16000-sample frames every 8000
    ASSERT_EQ(signal.readableSamples(), 16000);
    int left = 0;
    for (const double* p = signal.firstFrame(&left); p != nullptr; p = signal.nextFrame(&left)) {
        expectRampFrame(p, count - left, count, std::min(16000, left + 500));
    }
}

TEST(SignalTest, FileShorterThanHeaderWithoutRiffLoadsWithoutFrames) {
    writeBytes("short.raw", {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0});
    Signal signal;
    EXPECT_EQ(signal.loadFile("short.raw", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.getFrameCount(0), 0);
    int left = 0;
    EXPECT_EQ(signal.firstFrame(&left), nullptr);
}

TEST(SignalTest, RiffHeaderMustSay16kMono16BitPcm) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        int result;
    };
    auto header = [](WavFormat format) { return wavHeader(format, 640); };
    auto with = [](std::vector<unsigned char> bytes, std::size_t at, const char* text) {
        std::copy(text, text + 4, bytes.begin() + static_cast<long>(at));
        return bytes;
    };
    const std::vector<Case> cases = {
        {"16 kHz mono 16-bit PCM", header({}), Signal::LOAD_OK},
        {"44.1 kHz stereo", header({1, 2, 44100, 16}), Signal::LOAD_BAD_FORMAT},
        {"44.1 kHz mono", header({1, 1, 44100, 16}), Signal::LOAD_BAD_FORMAT},
        {"16 kHz stereo", header({1, 2, 16000, 16}), Signal::LOAD_BAD_FORMAT},
        {"8-bit", header({1, 1, 16000, 8}), Signal::LOAD_BAD_FORMAT},
        {"float", header({3, 1, 16000, 32}), Signal::LOAD_BAD_FORMAT},
        {"not WAVE", with(header({}), 8, "AVI "), Signal::LOAD_BAD_FORMAT},
        {"no fmt chunk first", with(header({}), 12, "LIST"), Signal::LOAD_BAD_FORMAT},
        {"RIFF shorter than the header",
         {'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A'},
         Signal::LOAD_SHORT_HEADER},
        {"RIFF alone", {'R', 'I', 'F', 'F'}, Signal::LOAD_SHORT_HEADER},
        {"other header", with(header({1, 2, 44100, 8}), 0, "JUNK"), Signal::LOAD_OK},
    };
    for (const Case& c : cases) {
        auto bytes = c.bytes;
        if (bytes.size() >= 44) bytes.resize(44 + 640, 0x02);
        writeBytes("format.wav", bytes);
        Signal signal;
        EXPECT_EQ(signal.loadFile("format.wav", "", true), c.result) << c.name;
        signal.setFrame(FRAME_MS, FRAME_OVERLAP);
        if (c.result == Signal::LOAD_OK) {
            EXPECT_EQ(signal.getFrameCount(0), 2) << c.name;
        } else {
            EXPECT_EQ(signal.getSourceName(0), "NONAME") << c.name;  // no source created
        }
    }
}

TEST(SignalTest, RiffIsNotExaminedWithoutHeader) {
    auto bytes = wavHeader({1, 2, 44100, 16}, 640);
    bytes.resize(44 + 640, 0);
    writeBytes("raw_riff.raw", bytes);
    Signal signal;
    EXPECT_EQ(signal.loadFile("raw_riff.raw", "", false), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    int left = 0;
    EXPECT_NE(signal.firstFrame(&left), nullptr);
    EXPECT_EQ(left, (44 + 640) / 2);
}

TEST(SignalTest, LoadFailures) {
    Signal signal;
    EXPECT_EQ(signal.loadFile("no/such/file.wav", "", true), Signal::LOAD_CANNOT_OPEN);
    EXPECT_EQ(signal.loadFile(".", "", false), Signal::LOAD_CANNOT_OPEN);
    {
        std::ofstream("huge.raw").put('x');
        std::filesystem::resize_file("huge.raw", (1ULL << 32) + 100);  // sparse: no disk used
        EXPECT_EQ(signal.loadFile("huge.raw", "", true), Signal::LOAD_TOO_LONG);
        std::filesystem::remove("huge.raw");
    }
    EXPECT_EQ(signal.getSourceName(0), "NONAME");
    writeWav("labelled.wav", ramp(400));
    EXPECT_EQ(signal.loadFile("labelled.wav", "labelled.TextGrid", true), Signal::LOAD_NO_LABELS);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.getSourceName(0), "labelled.wav");
    EXPECT_EQ(signal.getFrameCount(0), 2);
}

TEST(SignalTest, FramingGeometry) {
    struct Case {
        int frame_ms;
        double overlap;
        int step;
    };
    const Case cases[] = {{25, 0.6, 160}, {20, 0.0, 320}, {20, 0.5, 160}, {25, 0.5, 200},
                          {25, 1.0, 0},   {25, 1.5, 0},   {-25, 0.6, 0}};
    const std::vector<double> data(1000, 1.0);
    for (const Case& c : cases) {
        Signal signal;
        signal.loadBuffer(data.data(), 1000);
        signal.setFrame(c.frame_ms, c.overlap);
        const int frames = c.step > 0 ? 1000 / c.step : 0;
        EXPECT_EQ(signal.getFrameCount(0), frames) << c.frame_ms << " " << c.overlap;
        int left = 0;
        const double* first = signal.firstFrame(&left);
        if (frames < 2) {
            EXPECT_EQ(first == nullptr, frames == 0);
            continue;
        }
        const double* second = signal.nextFrame(&left);
        EXPECT_EQ(second - first, c.step) << c.frame_ms << " " << c.overlap;
        EXPECT_EQ(left, 1000 - c.step);
    }
}

TEST(SignalTest, SetFrameZeroChangesNothing) {
    const std::vector<double> data(1000, 1.0);
    Signal signal;
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    signal.setFrame(0, 0.5);
    signal.loadBuffer(data.data(), 1000);  // re-frames with the stored 25 ms and 0.6
    EXPECT_EQ(signal.getFrameCount(0), 6);
}

TEST(SignalTest, WalkCrossesSourcesThatHaveFrames) {
    writeWav("a.wav", ramp(16000));
    writeWav("tiny.wav", ramp(100));
    Signal signal;
    ASSERT_EQ(signal.loadFile("tiny.wav", "", true), Signal::LOAD_OK);
    ASSERT_EQ(signal.loadFile("a.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    // A file loaded after the framing has no frames until the next framing.
    ASSERT_EQ(signal.loadFile("a.wav", "", true), Signal::LOAD_OK);
    EXPECT_EQ(signal.getFrameCount(2), 0);

    int left = 0;
    const double* first = signal.firstFrame(&left);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(signal.getGlobalFrame(), 0);
    int frames = 1;
    while (signal.nextFrame(&left) != nullptr) ++frames;
    EXPECT_EQ(frames, 100);

    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    EXPECT_EQ(signal.getSourceFirstFrame(2), 100);
    first = signal.firstFrame(&left);
    for (int f = 0; f < 100; ++f) signal.nextFrame(&left);
    EXPECT_EQ(signal.getGlobalFrame(), 100);
    EXPECT_TRUE(signal.isFirstFrame());
    EXPECT_EQ(signal.getSourceName(2), "a.wav");

    EXPECT_NE(signal.gotoSource(0, &left), nullptr);  // source 0 has none: source 1's frame 0
    EXPECT_EQ(signal.getGlobalFrame(), 0);
    EXPECT_EQ(signal.gotoSource(3, &left), nullptr);
    EXPECT_EQ(signal.gotoSource(-1, &left), nullptr);
    EXPECT_EQ(signal.getGlobalFrame(), 0);  // cursor unchanged
}

TEST(SignalTest, CursorStartsAtFrameZero) {
    const std::vector<double> data(1000, 1.0);
    Signal signal;
    signal.loadBuffer(data.data(), 1000);
    int left = 0;
    const double* p = signal.nextFrame(&left);  // before firstFrame: frame 1
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(left, 1000 - 320);
}

TEST(SignalTest, PrevFrame) {
    const std::vector<double> data(1600, 1.0);
    Signal signal;
    signal.loadBuffer(data.data(), 1600);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    int left = 0;
    const double* frame0 = signal.firstFrame(&left);
    signal.nextFrame(&left);
    signal.nextFrame(&left);
    left = -1;
    EXPECT_EQ(signal.prevFrame(3, &left), nullptr);
    EXPECT_EQ(signal.prevFrame(-1, &left), nullptr);
    EXPECT_EQ(left, -1);
    EXPECT_EQ(signal.prevFrame(2, &left), frame0);
    EXPECT_EQ(left, 1600);
    EXPECT_EQ(signal.prevFrame(0, &left), frame0 + 320);
    EXPECT_EQ(signal.getGlobalFrame(), 2);
}

TEST(SignalTest, RandomFrame) {
    Signal signal;
    int left = -1;
    EXPECT_EQ(signal.randomFrame(&left), nullptr);  // no source
    signal.loadBuffer(nullptr, 100);
    EXPECT_EQ(signal.randomFrame(&left), nullptr);  // no frame
    EXPECT_EQ(left, -1);

    const std::vector<double> data(3200, 1.0);
    signal.loadBuffer(data.data(), 3200);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    const double* first = signal.firstFrame(&left);
    for (int i = 0; i < 50; ++i) {
        const double* p = signal.randomFrame(&left);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ((p - first) % 160, 0);
        EXPECT_EQ(left, 3200 - (p - first));
    }
    EXPECT_EQ(signal.getGlobalFrame(), 0);
}

TEST(SignalTest, OutOfRangeQueries) {
    Signal signal;
    int left = 0;
    EXPECT_EQ(signal.firstFrame(&left), nullptr);
    EXPECT_EQ(signal.nextFrame(&left), nullptr);
    EXPECT_TRUE(signal.isLastFrame());
    signal.loadBuffer(nullptr, 10);
    for (int source : {-1, 1}) {
        EXPECT_EQ(signal.getSourceName(source), "NONAME");
        EXPECT_EQ(signal.getFrameCount(source), 0);
        EXPECT_EQ(signal.getSourceFirstFrame(source), 0);
    }
    EXPECT_EQ(signal.alwaysZero(), 0);
}

TEST(SignalTest, LoadBuffer) {
    writeWav("b.wav", ramp(16000));
    Signal signal;
    ASSERT_EQ(signal.loadFile("b.wav", "", true), Signal::LOAD_OK);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    int left = 0;
    ASSERT_NE(signal.firstFrame(&left), nullptr);  // the file's frames read before the swap
    const std::vector<double> data = {0.5, -0.25, 3.0};
    std::vector<double> longer(480, 2.0);
    longer[0] = 7.0;
    signal.loadBuffer(longer.data(), 480);
    EXPECT_EQ(signal.getSourceName(0), "Memory Buffer");
    EXPECT_EQ(signal.getFrameCount(0), 3);
    const double* p = signal.firstFrame(&left);
    EXPECT_EQ(p[0], 7.0);
    EXPECT_EQ(left, 480);

    signal.loadBuffer(nullptr, -5);  // a negative count changes nothing
    EXPECT_EQ(signal.getFrameCount(0), 3);

    Signal empty;
    empty.loadBuffer(data.data(), 3);
    EXPECT_EQ(empty.getSourceName(0), "Memory Buffer");
    EXPECT_EQ(empty.getFrameCount(0), 0);
}

TEST(SignalTest, RingBuffer) {
    const int16_t ring[8] = {0, 32767, -32768, 3, 4, 5, 6, 7};
    struct Case {
        int start;
        int n;
        int result;
        std::vector<int> read;  // ring indices, in order
    };
    const Case cases[] = {
        {6, 4, 2, {6, 7, 0, 1}},
        {4, 4, 8, {4, 5, 6, 7}},
        {8, 3, 3, {0, 1, 2}},  // start at the ring's length
        {12, 2, 2, {0, 1}},    // beyond it
        {-3, 2, 2, {0, 1}},    // a negative start reads from ring[0]
        {5, 20, 1, {5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0}},  // n > length
        {5, 0, 5, {}},
        {5, -2, 5, {}},
    };
    for (const Case& c : cases) {
        Signal signal;
        signal.loadBuffer(nullptr, 320);  // one 320-sample frame to look through
        EXPECT_EQ(signal.loadRingBuffer(ring, 8, c.start, c.n), c.result) << c.start << " " << c.n;
        int left = 0;
        const double* p = signal.firstFrame(&left);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(left, 320);  // the buffer was large enough: count and framing stay
        for (std::size_t i = 0; i < c.read.size(); ++i) {
            EXPECT_EQ(p[i], ring[c.read[i]] / 32767.0) << c.start << " " << c.n << " " << i;
        }
        EXPECT_EQ(p[c.read.size()], 0.0);
    }
}

TEST(SignalTest, RingBufferGrowsSourceZero) {
    const int16_t ring[4] = {32767, -32768, 1, 2};
    Signal signal;
    EXPECT_EQ(signal.loadRingBuffer(ring, 4, 0, 2), 2);  // creates source 0 of 2 samples
    EXPECT_EQ(signal.getSourceName(0), "Memory Buffer");
    std::vector<int16_t> long_ring(700, 16384);
    EXPECT_EQ(signal.loadRingBuffer(long_ring.data(), 700, 0, 700), 700);
    EXPECT_EQ(signal.getFrameCount(0), 2);  // grown to 700 samples and framed again
    int left = 0;
    const double* p = signal.firstFrame(&left);
    EXPECT_EQ(left, 700);
    EXPECT_EQ(p[0], 16384 / 32767.0);
    EXPECT_EQ(signal.loadRingBuffer(ring, 4, 0, 2), 2);  // smaller: count stays
    EXPECT_EQ(p[0], 1.0);
    EXPECT_EQ(p[1], -32768 / 32767.0);
    EXPECT_EQ(signal.getFrameCount(0), 2);
    // No ring to read: nothing changes.
    EXPECT_EQ(signal.loadRingBuffer(nullptr, 8, 3, 4), 3);
    EXPECT_EQ(signal.loadRingBuffer(ring, 0, 3, 4), 3);
    EXPECT_EQ(p[0], 1.0);
}

TEST(SignalTest, FreedSamplesGiveNoFrames) {
    const std::vector<double> data(1000, 1.0);
    Signal signal;
    signal.loadBuffer(data.data(), 1000);
    signal.freeSamples();
    int left = 0;
    EXPECT_EQ(signal.firstFrame(&left), nullptr);
    EXPECT_EQ(signal.randomFrame(&left), nullptr);
    EXPECT_EQ(signal.getFrameCount(0), 3);
}

}  // namespace
}  // namespace tarvik
