// Speech decision per frame: normalises each frame, runs the network, smooths the raw
// decisions and marks the frames that lie near confident speech, handing frames back in order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "decision/zeroed_array.h"
#include "network/blstm.h"

namespace tarvik {

// Largest accepted margin and min_norm_dur, in frames.
inline constexpr int TARVIK_MAX_MARGIN = 1000;

// Calling order: constructor, setMargins, loadModel, setNormalization, reset; then per frame
// pushFrame, and after each push that returned true popFrame until false; at the end flush and,
// when it returned true, popFrame until false. reset starts a new stream.
class SpeechDecider {
  public:
    // Creates the network with blocks of 20 frames and 20 frames of look-ahead.
    SpeechDecider(int log_channel, int features_num);
    SpeechDecider(const SpeechDecider&) = delete;
    SpeechDecider& operator=(const SpeechDecider&) = delete;

    // Frames searched on each side for a confident posterior, and the smoothing window. A value
    // above TARVIK_MAX_MARGIN logs a line and returns false (margin is stored before
    // min_norm_dur is checked).
    bool setMargins(int margin, int min_norm_dur);

    // Loads the network from `path` and resets it. False (with one logged line) when the file
    // cannot be loaded or the model's input count differs from features_num; do not stream then.
    bool loadModel(std::string path);
    // The network's BLSTM::loadFailure after a loadModel that failed.
    const std::string& modelFailure() const { return blstm->loadFailure(); }

    // Borrows features_num means and deviations; they must outlive the decider's use of them.
    void setNormalization(const double* means, const double* stddevs);

    // Starts a new stream: positions and rings cleared, network reset.
    void reset();

    // Keeps a raw copy of `frame` (features_num values), normalises `frame` in place and feeds
    // it to the network. True when the network answered a block.
    bool pushFrame(double* frame);

    // Hands back the next frame in push order once its decision is settled: `frame` points to
    // its raw values in the ring (valid until 4080 frames later are pushed, or reset), or is
    // null when the frame is cut. False (null, false, -1.0) when nothing can be handed back yet.
    bool popFrame(double** frame, bool* is_speech, double* speech_post);

    // End of the stream: answers of the frames still held by the network, padding of the
    // posteriors. True when the network answered at least one frame.
    bool flush();

    // Settles the decision of the next frame to hand back: 1 speech, 0 not, -1 wait.
    int smoothDecision();

    // Margin scan of the next frame to hand back: 1 a confident frame within the margin, 0 none,
    // -1 the scan reached the frames not yet answered.
    int hasConfidentNeighbour() const;

  private:
    static constexpr int RING_LEN = 4080;

    // Drains the network's answers into the rings; true when any came.
    bool storeAnswers();
    // Frames answered and not yet handed back.
    int available() const;
    // Single-precision sum of `count` posteriors from slot `first` on, wrapping.
    float sumPosteriors(int first, int count) const;
    void fillDecisions(int first, int count, unsigned char value);
    int next(int slot) const { return slot + 1 == ring_len ? 0 : slot + 1; }

    int margin = 0;
    int min_norm_dur = 1;
    int ring_len = RING_LEN;
    int feat_ring_len;
    int features_num;
    int feat_beg = 0;
    int feat_end = 0;
    int post_beg = 0;
    int post_end = 0;
    ZeroedArray feat_ring;
    int feat_dirty = 0;  // feat_ring is zero from here on
    std::vector<double> post_ring;
    std::vector<unsigned char> det_ring;
    const double* means = nullptr;
    const double* stddevs = nullptr;
    std::unique_ptr<BLSTM> blstm;
    bool flushed = false;
    int log_channel;
};

}  // namespace tarvik
