#include "decision/speech_decider.h"

#include <algorithm>
#include <cmath>

#include "app/console.h"
#include "app/strings.h"

namespace tarvik {

namespace {

constexpr double SPEECH_THRESHOLD = 0.5;
constexpr double CONFIDENT_THRESHOLD = 0.6;
constexpr int BUFFER_LEN = 20;
constexpr int WARMUP_LEN = 20;

// One step of the single-precision posterior sums: widened, added, rounded back. A posterior
// that is not a number adds nothing: it lies below every threshold, and a sum that is not a
// number would freeze the decision for every window that holds it.
float addInSingle(float sum, double posterior) {
    if (std::isnan(posterior)) return sum;
    return static_cast<float>(static_cast<double>(sum) + posterior);
}

}  // namespace

SpeechDecider::SpeechDecider(int log_channel, int features_num)
    : feat_ring_len(RING_LEN * features_num),
      features_num(features_num),
      feat_ring(static_cast<std::size_t>(feat_ring_len)),
      post_ring(RING_LEN),
      det_ring(RING_LEN),
      blstm(std::make_unique<BLSTM>(log_channel)),
      log_channel(log_channel) {
    blstm->setBuffering(BUFFER_LEN, WARMUP_LEN);
}

bool SpeechDecider::setMargins(int margin, int min_norm_dur) {
    if (margin > TARVIK_MAX_MARGIN) {
        logLine(log_channel, "ERROR: margin > TARVIK_MAX_MARGIN");
        return false;
    }
    this->margin = margin;
    if (min_norm_dur > TARVIK_MAX_MARGIN) {
        logLine(log_channel, "ERROR: min_norm_dur > TARVIK_MAX_MARGIN");
        return false;
    }
    this->min_norm_dur = min_norm_dur;
    return true;
}

bool SpeechDecider::loadModel(std::string path) {
    const bool loaded = blstm->load(path);
    blstm->reset();
    if (!loaded) return false;
    if (blstm->getInputsNum() != features_num) {
        logLine(log_channel, "ERROR: number of inputs differs in: " + path + " (" +
                                 intToString(blstm->getInputsNum()) + " inputs, " +
                                 intToString(features_num) + " features)");
        // A network of another input count must not stream: it would read past each frame.
        blstm->freeMemory();
        return false;
    }
    return true;
}

void SpeechDecider::setNormalization(const double* means, const double* stddevs) {
    this->means = means;
    this->stddevs = stddevs;
}

void SpeechDecider::reset() {
    if (means == nullptr || stddevs == nullptr) {
        logLine(log_channel, "ERROR: (means == NULL) || (stddevs == NULL)");
    }
    blstm->reset();
    feat_beg = feat_end = post_beg = post_end = 0;
    flushed = false;
    std::fill(post_ring.begin(), post_ring.end(), 0.0);
    std::fill(det_ring.begin(), det_ring.end(), 0);
    // Only what a stream wrote needs clearing; the rest has stayed zero.
    std::fill(feat_ring.begin(), feat_ring.begin() + feat_dirty, 0.0);
    feat_dirty = 0;
}

bool SpeechDecider::storeAnswers() {
    bool answered = false;
    while (blstm->getOutput()) {
        const double x = blstm->getOutputFrame()[0];
        post_ring[post_end] = x;
        det_ring[post_end] = x >= SPEECH_THRESHOLD ? 1 : 0;  // false for NaN
        post_end = next(post_end);
        answered = true;
    }
    return answered;
}

bool SpeechDecider::pushFrame(double* frame) {
    std::copy_n(frame, features_num, feat_ring.begin() + feat_end);
    feat_end += features_num;
    feat_dirty = std::max(feat_dirty, feat_end);
    if (feat_end == feat_ring_len) feat_end = 0;
    for (int i = 0; i < features_num; ++i) frame[i] = (frame[i] - means[i]) / stddevs[i];
    if (blstm->addFrame(frame)) return false;
    blstm->processBuffer();
    storeAnswers();
    return true;
}

int SpeechDecider::available() const {
    const int stored = post_end - post_beg;
    return stored < 0 ? stored + ring_len : stored;
}

float SpeechDecider::sumPosteriors(int first, int count) const {
    float sum = 0.0f;
    for (int k = 0, q = first; k < count; ++k, q = next(q)) {
        sum = addInSingle(sum, post_ring[q]);
    }
    return sum;
}

void SpeechDecider::fillDecisions(int first, int count, unsigned char value) {
    for (int k = 0, q = first; k < count; ++k, q = next(q)) det_ring[q] = value;
}

int SpeechDecider::smoothDecision() {
    const int p = post_beg;
    const int n = min_norm_dur;
    const unsigned char prev = det_ring[p == 0 ? ring_len - 1 : p - 1];
    const unsigned char cur = det_ring[p];
    if (cur == prev) return cur;
    if (!flushed && available() < n) return -1;
    const float threshold = static_cast<float>(n) * 0.5f;
    if (prev == 0) {
        if (sumPosteriors(p, n) >= threshold) {
            fillDecisions(p, n, 1);
            return 1;
        }
        det_ring[p] = 0;
        return 0;
    }
    int start = p - n / 2;
    if (start < 0) start += ring_len;
    if (sumPosteriors(start, n) < threshold) {
        fillDecisions(p, n, 0);
        return 0;
    }
    det_ring[p] = 1;
    return 1;
}

int SpeechDecider::hasConfidentNeighbour() const {
    int q = post_beg - margin;
    if (q < 0) q += ring_len;
    for (int k = 0; k < 2 * margin + 1; ++k, q = next(q)) {
        if (q == post_end) return -1;
        if (post_ring[q] >= CONFIDENT_THRESHOLD) return 1;
    }
    return 0;
}

bool SpeechDecider::popFrame(double** frame, bool* is_speech, double* speech_post) {
    if (post_beg * features_num != feat_beg) {
        logLine(log_channel, "ERROR: post_beg * features_num != feat_beg");
    }
    const int decision = smoothDecision();
    const int neighbour = hasConfidentNeighbour();
    if ((neighbour < 0 && !flushed) || post_beg == post_end || decision < 0) {
        *frame = nullptr;
        *is_speech = false;
        *speech_post = -1.0;
        return false;
    }
    *is_speech = decision == 1;
    *frame = neighbour == 1 || decision == 1 ? feat_ring.data() + feat_beg : nullptr;
    feat_beg += features_num;
    if (feat_beg == feat_ring_len) feat_beg = 0;
    *speech_post = post_ring[post_beg];
    post_beg = next(post_beg);
    return true;
}

bool SpeechDecider::flush() {
    blstm->processBuffer();
    const bool answered = storeAnswers();
    const int n = min_norm_dur;
    if (n > 0) {
        // Summed newest first: slot post_end - 1 down to post_end - n.
        float sum = 0.0f;
        for (int k = 0, q = post_end; k < n; ++k) {
            q = q == 0 ? ring_len - 1 : q - 1;
            sum = addInSingle(sum, post_ring[q]);
        }
        const float mean = sum / static_cast<float>(n);
        for (int k = 0, q = post_end; k < n; ++k, q = next(q)) post_ring[q] = mean;
    }
    flushed = true;
    return answered;
}

}  // namespace tarvik
