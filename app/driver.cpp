#include "app/driver.h"

#include <cmath>

#include "app/console.h"
#include "app/settings.h"
#include "frontend/chain.h"

namespace tarvik {

namespace {

constexpr int kMargin = 50;
constexpr int kMinNormDur = 20;
constexpr int kPosteriorsNum = 37;

// Steps 2 and 3 of processFrame: hands on every frame that popFrame settles.
void collectFrames() {
    double* popped = nullptr;
    while (decider->popFrame(&popped, &is_speech, &speech_post)) {
        const bool kept = popped != nullptr;
        if (write_text_grid) {
            // A posterior that is not a number fails the comparison.
            synchronizer->addSpeechDet(speech_post >= 0.5, is_speech, kept);
        }
        if (frame_observer != nullptr) frame_observer(speech_post, is_speech, kept);
        if (is_speech) {
            normalizer->update(popped);
            updateStats(popped);
        }
    }
}

}  // namespace

bool startPipeline() {
    normalizer = std::make_unique<FeatureNormalizer>(kFeaturesNum, FN_NORMALIZE_INTERVAL);
    if (!normalizer->loadStaticNormalization(norm_path)) {
        printLine("ERROR: cannot load: " + norm_path);
        return false;
    }
    normalizer->reset();
    printLine("+loaded " + norm_path);

    decider = std::make_unique<SpeechDecider>(log_channel, kFeaturesNum);
    decider->setMargins(kMargin, kMinNormDur);
    if (!decider->loadModel(am_path)) {
        printLine("ERROR: cannot load: " + am_path);
        return false;
    }
    decider->setNormalization(normalizer->means.get(), normalizer->stddevs.get());
    printLine("+loaded " + am_path);

    synchronizer = std::make_unique<SequenceSynchronizer>(sync_features_num, kPosteriorsNum);
    stats_count = 0;
    stats_mean.fill(0.0);
    stats_m2.fill(0.0);
    stats_stddev.fill(0.0);
    decider->reset();
    synchronizer->reset();
    return true;
}

void processFrame(double* frame) {
    const bool answered = decider->pushFrame(frame);
    if (input_observer != nullptr) input_observer(frame);
    if (!answered) return;
    collectFrames();
}

void updateStats(const double* frame) {
    const double c = stats_count;
    for (int i = 0; i < kFeaturesNum; ++i) {
        const double x = frame[i];
        const double m = stats_mean[i];
        const double mean = (c * m + x) / (c + 1);
        stats_mean[i] = mean;
        stats_m2[i] += (x - mean) * (x - m);
        stats_stddev[i] = std::sqrt(stats_m2[i] / (c + 1));
    }
    ++stats_count;
}

void runFrameLoop(Signal& signal, FE& chain) {
    driveChain(signal, chain, processFrame);
    if (decider->flush()) collectFrames();
}

void releasePipeline() {
    normalizer.reset();
    decider.reset();
    synchronizer.reset();
}

}  // namespace tarvik
