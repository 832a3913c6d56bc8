// Loads the recording of write_labelled_recording with the TextGrid that Praat saved beside it and
// checks that the first interval tier lands on frames 0-48, 49-118 and 119-230, labelled sil, spc
// and sil. Prints each mismatch; exits 1 on any.
#include <cstdio>
#include <string>

#include "frontend/chain.h"
#include "frontend/signal.h"

namespace {

int failures = 0;

void expect(bool holds, const std::string& what) {
    if (!holds) {
        std::printf("mismatch: %s\n", what.c_str());
        ++failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    tarvik::Signal signal;
    const int loaded = signal.loadFile(dir + "/labelled.wav", dir + "/labelled.TextGrid", true);
    expect(loaded == tarvik::Signal::LOAD_OK,
           "load result " + std::to_string(loaded) + ": " + tarvik::Signal::loadResultText(loaded));
    signal.setFrame(tarvik::FRAME_MS, tarvik::FRAME_OVERLAP);
    expect(signal.getIntervalCount(0) == 3,
           std::to_string(signal.getIntervalCount(0)) + " intervals, expected 3");

    const int first_frames[] = {0, 49, 119};
    const int lengths[] = {49, 70, 112};
    const char* labels[] = {"sil", "spc", "sil"};
    int frame = signal.firstInterval();
    for (int j = 0; j < 3; ++j, frame = signal.nextInterval()) {
        const std::string at = "interval " + std::to_string(j) + ": ";
        expect(frame == first_frames[j], at + "first frame " + std::to_string(frame));
        expect(signal.getIntervalLength() == lengths[j],
               at + "length " + std::to_string(signal.getIntervalLength()));
        expect(signal.getLabel() == labels[j], at + "label \"" + signal.getLabel() + "\"");
    }
    expect(frame == -1, "an interval after the third");
    expect(signal.checkLabels().empty(), "checkLabels: " + signal.checkLabels());
    if (failures == 0) std::printf("ok: %s/labelled.TextGrid\n", dir.c_str());
    return failures == 0 ? 0 : 1;
}
