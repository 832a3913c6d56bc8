// Means and standard deviations for normalising feature frames: static values
// from a file, blended into the statistics of a sliding window of speech frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarvik {

class FeatureNormalizer {
  public:
    // A normaliser for `feature_num` values per frame and a window of
    // `normalize_interval` frames (at least 2). Means start at 0, deviations at 1.
    // reset() must run before the first update().
    FeatureNormalizer(int feature_num, int normalize_interval);

    // Reads "count, feature_num means, feature_num deviations" (white-space
    // separated text) and puts them in use. On failure logs one line naming
    // `path` and returns false with nothing changed.
    bool loadStaticNormalization(std::string path);

    // Starts an empty window with the static values in use, or keeps a loaded window.
    void reset();

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

    int normalize_interval;
    bool dyn_loaded = false;
    bool window_full = false;
    int feature_num;
    int ring_size;
    int ring_pos = 0;
    std::vector<double> frame_ring;
    std::vector<double> newest_frame;
    std::vector<double> leaving_frame;
    std::vector<double> dyn_means;
    std::vector<double> dyn_stddevs;
    std::vector<double> dyn_m2;
    int speech_frames_num = 0;
    std::vector<double> static_means;
    std::vector<double> static_stddevs;
};

}  // namespace tarvik
