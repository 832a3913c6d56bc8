// Means and standard deviations for normalising feature frames: static values
// from a file, blended into the statistics of a sliding window of speech frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "decision/zeroed_array.h"

namespace tarvik {

// Frames in the sliding window of the command line's normaliser: 120 s of 10 ms frames.
inline constexpr int FN_NORMALIZE_INTERVAL = 12000;

class FeatureNormalizer {
  public:
    // A normaliser for `feature_num` values per frame and a window of
    // `normalize_interval` frames (at least 2). Means start at 0, deviations at 1.
    // reset() must run before the first update().
    FeatureNormalizer(int feature_num, int normalize_interval);

    // Reads "count, feature_num means, feature_num deviations" (white-space
    // separated text) and puts them in use. Refuses a file that is not a regular
    // file or cannot be read, a token longer than MAX_TOKEN_BYTES, a number beyond
    // the 2 x feature_num that the count calls for (text after them is not read),
    // a mean that is not finite and
    // a deviation that is not finite and positive or so small that a feature
    // divided by it is not finite. On failure logs one line naming `path` (and
    // the value) and returns false with nothing changed.
    bool loadStaticNormalization(std::string path);

    // Why the last loadStaticNormalization that failed was refused, when the line
    // it logged does not say it (the lines "ERROR: cannot load static
    // normalization: " and "ERROR: number of features differs in: " name the file
    // alone): "No such file or directory", "UTF-16 text, not ASCII", "the count is
    // 13, not 39". Empty when the logged line says why, and after a success. The
    // caller prints it.
    const std::string& loadFailure() const { return load_failure; }

    // Starts an empty window with the static values in use, or keeps a loaded window.
    void reset();

    // Writes "feature_num" as a little-endian int32, then the window's
    // normalize_interval x feature_num doubles in slot order. False, with nothing
    // logged, when `path` cannot be opened for writing.
    bool saveDynamicNormalization(std::string path);

    // Reads a window file written by saveDynamicNormalization, puts its two-pass
    // statistics in use and keeps the window full across reset(). A short window
    // is repeated from its start and a long one cut, each with a warning. A file
    // that cannot be opened or measured, has another count or holds less data than
    // the window that is not a whole number of doubles is refused: one line naming
    // `path`, false, nothing changed.
    bool loadDynamicNormalization(std::string path);

    // Writes the values in use as text that loadStaticNormalization reads back:
    // the count and a line feed, then each mean and a tab, a tab, each deviation
    // and a tab, rounded to six significant digits. False, with nothing logged, when
    // `path` cannot be opened for writing.
    bool saveStaticNormalization(std::string path);

    // Logs the values in use and the number of frames in the window, four lines.
    void printNormalization() const;

    // Adds one raw speech frame (feature_num values) to the window and rewrites
    // `means` and `stddevs` in place.
    void update(const double* frame);

    // frame[i] = (frame[i] - means[i]) / stddevs[i] for feature_num values, in place.
    void normalize(double* frame) const;

    // The values in use, feature_num each. Never reallocated: pointers to them
    // stay valid for the normaliser's life.
    const std::unique_ptr<double[]> means;
    const std::unique_ptr<double[]> stddevs;

  private:
    void addWhileFilling(int i, double c);
    void slideFull(int i, double c);
    void repeatWindowAfter(int last_slot);
    void takeWindowStatistics();

    int normalize_interval;
    bool dyn_loaded = false;
    bool window_full = false;
    int feature_num;
    int ring_size;
    int ring_pos = 0;
    ZeroedArray frame_ring;  // zeros until frames arrive
    std::vector<double> newest_frame;
    std::vector<double> leaving_frame;
    std::vector<double> dyn_means;
    std::vector<double> dyn_stddevs;
    std::vector<double> dyn_m2;
    int speech_frames_num = 0;
    std::vector<double> static_means;
    std::vector<double> static_stddevs;
    std::string load_failure;
};

}  // namespace tarvik
