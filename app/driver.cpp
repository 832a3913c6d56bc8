#include "app/driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "app/console.h"
#include "app/output_guard.h"
#include "app/settings.h"
#include "frontend/chain.h"

namespace tarvik {

namespace {

constexpr int MARGIN = 50;
constexpr int MIN_NORM_DUR = 20;
constexpr int POSTERIORS_NUM = 37;

// Hands on every frame that popFrame settles, in frame order: its code to the synchroniser, then,
// when it is speech, its raw values to the normaliser and the running statistics.
void collectFrames() {
    double* popped = nullptr;
    while (decider->popFrame(&popped, &is_speech, &speech_post)) {
        const bool kept = popped != nullptr;
        ++frames_handed_back;
        if (std::isnan(speech_post)) ++posteriors_not_numbers;
        if (write_text_grid) {
            // A posterior that is not a number fails the comparison.
            synchronizer->addSpeechDet(speech_post >= 0.5, is_speech, kept);
        }
        if (frame_observer) frame_observer(speech_post, is_speech, kept);
        // The normaliser adapts to this recording's speaker and channel: its means and deviations
        // move towards those of the speech frames, and every frame pushed later uses them.
        if (is_speech) {
            normalizer->update(popped);
            updateStats(popped);
        }
    }
}

}  // namespace

void keepStandardStreamsOpen() {
    for (int standard = 0; standard <= 2; ++standard) {
        if (::fcntl(standard, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is `standard` itself.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != standard) ::close(null);
    }
}

void printReason(const std::string& path, const std::string& reason) {
    if (!reason.empty()) printLine("ERROR: " + path + ": " + reason);
}

bool startPipeline() {
    normalizer = std::make_unique<FeatureNormalizer>(FEATURES_NUM, FN_NORMALIZE_INTERVAL);
    if (!normalizer->loadStaticNormalization(norm_path)) {
        printReason(norm_path, normalizer->loadFailure());
        printLine("ERROR: cannot load: " + norm_path);
        return false;
    }
    normalizer->reset();
    printLine("+loaded " + norm_path);

    decider = std::make_unique<SpeechDecider>(log_channel, FEATURES_NUM);
    decider->setMargins(MARGIN, MIN_NORM_DUR);
    if (!decider->loadModel(am_path)) {
        printReason(am_path, decider->modelFailure());
        printLine("ERROR: cannot load: " + am_path);
        return false;
    }
    decider->setNormalization(normalizer->means.get(), normalizer->stddevs.get());
    printLine("+loaded " + am_path);

    synchronizer = std::make_unique<SequenceSynchronizer>(sync_features_num, POSTERIORS_NUM);
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
    if (input_observer) input_observer(frame);
    if (!answered) return;
    collectFrames();
}

// Welford's online update over c frames and a new value x: the mean becomes (c m + x) / (c + 1),
// the sum of squared deviations m2 grows by (x - new mean)(x - old mean), and the population
// deviation is sqrt(m2 / (c + 1)).
void updateStats(const double* frame) {
    const double c = stats_count;
    for (int i = 0; i < FEATURES_NUM; ++i) {
        const double x = frame[i];
        const double m = stats_mean[i];
        const double mean = (c * m + x) / (c + 1);
        stats_mean[i] = mean;
        stats_m2[i] += (x - mean) * (x - m);
        stats_stddev[i] = std::sqrt(stats_m2[i] / (c + 1));
    }
    ++stats_count;
}

bool loadRecording(Signal& signal, const std::string& path) {
    const int loaded = signal.loadFile(path, "", true);
    if (loaded < 0) {
        printReason(path, signal.loadFailure());
        printLine("ERROR: cannot load: " + path);
        return false;
    }
    signal.setFrame(FRAME_MS, FRAME_OVERLAP);
    return true;
}

void runFrameLoop(Signal& signal, FE& chain) {
    frames_handed_back = 0;
    posteriors_not_numbers = 0;
    driveChain(signal, chain, processFrame);
    if (decider->flush()) collectFrames();
}

bool posteriorsAreNumbers() {
    if (posteriors_not_numbers == 0) return true;
    printReason(am_path, "the network's posterior is not a number in " +
                             std::to_string(posteriors_not_numbers) + " of " +
                             std::to_string(frames_handed_back) + " frames");
    return false;
}

bool openDataOutput(ReplacingFile& file, const std::string& path, const std::string& input_path) {
    if (path == "-") {
        if (file.openDescriptor(STDOUT_FILENO)) return true;
    } else {
        const std::string refusal = outputRefusal(path, input_path, {norm_path, am_path});
        if (!refusal.empty()) {
            printLine(refusal);
            return false;
        }
        if (file.open(path)) return true;
    }
    printReason(path, file.failure());
    printLine("ERROR: cannot create: " + path);
    return false;
}

bool commitDataOutput(ReplacingFile& file, const std::string& path, const std::string& input_path) {
    if (file.replaces()) {
        const std::string refusal = outputRefusal(path, input_path, {norm_path, am_path});
        if (!refusal.empty()) {
            file.discard();
            printLine(refusal);
            return false;
        }
    }
    if (file.commit()) return true;
    printReason(path, file.failure());
    printLine("ERROR: cannot write: " + path);
    return false;
}

void releasePipeline() {
    normalizer.reset();
    decider.reset();
    synchronizer.reset();
}

}  // namespace tarvik
