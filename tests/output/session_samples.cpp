#include "tests/output/session_samples.h"

#include <vector>

#include "app/settings.h"

namespace tarvik::output_test {

double sampleAt(int frame, int i) {
    return static_cast<double>((frame * SAMPLE_FRAME_LEN + i) * 997 % 65536 - 32768);
}

double featureAt(int frame, int i) { return frame * 0.125 - i * 1.5e-3; }

double speechPostAt(int frame) { return frame / 250.0; }

void useSessionSettings(const std::string& dir) {
    out_prefix = dir;
    ses_num_dir = dir;
    signal_frame_len = SAMPLE_FRAME_LEN;
    nbest_num = 0;
    write_text_grid = true;
    write_praat_script = true;
    write_hypo_tiers = false;
}

void recordFrames(SequenceSynchronizer& synchronizer, int frames, int feature_frames) {
    std::vector<double> samples(SAMPLE_FRAME_LEN), features(SAMPLE_FEATURES);
    for (int frame = 0; frame < frames; ++frame) {
        for (int i = 0; i < SAMPLE_FRAME_LEN; ++i) samples[i] = sampleAt(frame, i);
        for (int i = 0; i < SAMPLE_FEATURES; ++i) features[i] = featureAt(frame, i);
        synchronizer.addSignal(samples.data());
        if (frame < feature_frames) synchronizer.addFeatures(features.data());
        synchronizer.addSpeechPost(speechPostAt(frame));
        const double post = speechPostAt(frame);
        synchronizer.addSpeechDet(post >= 0.5, post >= 0.3 && post < 0.8, frame % 50 != 49);
    }
}

}  // namespace tarvik::output_test
