// The reference TextGrid reader of Signal::loadFile: two sources of 2.3 s carry the input as
// their reference intervals; under two frame geometries every interval query, the walk over the
// frames inside intervals (touching each frame's first and last sample) and the descriptions of
// every interval and frame are run.
#include <string>
#include <vector>

#include "frontend/chain.h"
#include "frontend/signal.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr int SAMPLES = 36800;  // 2.3 s: 230 frames of the command line's geometry

// A recording whose 44-byte header is skipped unread, then a slow ramp of samples.
std::string writeRecording() {
    std::vector<std::uint8_t> bytes(44 + 2 * SAMPLES, 0);
    for (int i = 0; i < SAMPLES; ++i) {
        const auto value = static_cast<std::uint16_t>(i % 2000 - 1000);
        bytes[44 + 2 * i] = value & 0xff;
        bytes[45 + 2 * i] = value >> 8;
    }
    return tarvik::fuzz::writeInput("recording.wav", bytes.data(), bytes.size());
}

volatile double touched = 0.0;

void walkIntervals(tarvik::Signal& signal) {
    const int total = signal.getTotalIntervals();
    std::string text;
    for (int g = signal.firstInterval(); g >= 0; g = signal.nextInterval()) {
        text += signal.getIntervalLabel() + signal.getLabel();
        touched = touched + signal.getIntervalLength();
    }
    // Overlapping intervals may each yield every frame of their source.
    const long long limit = (total + 2LL) * (2 * 230 + 4);
    int samples_left = 0;
    const double* frame = signal.firstIntervalFrame(&samples_left);
    for (long long k = 0; k < limit; ++k, frame = signal.nextIntervalFrame(&samples_left)) {
        if (frame != nullptr) touched = touched + frame[0] + frame[399] + samples_left;
    }
    text += signal.checkLabels();
    for (int j = -1; j <= total; ++j) text += signal.getIntervalInfo(j);
    for (int f = -1; f <= 2 * 230 + 1; ++f) text += signal.getFrameInfo(f);
    touched = touched + static_cast<double>(text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    static const std::string recording = writeRecording();
    const std::string labels = fuzz::writeInput("labels.TextGrid", data, size);
    Signal signal;
    signal.loadFile(recording, labels, true);
    signal.loadFile(recording, labels, true);
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    walkIntervals(signal);
    signal.setFrame(20, 0.0);
    walkIntervals(signal);
    return 0;
}
