#include "decision/feature_normalizer.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "app/console.h"
#include "app/settings.h"

namespace tarvik {

FeatureNormalizer::FeatureNormalizer(int feature_num, int normalize_interval)
    : means(new double[feature_num]),
      stddevs(new double[feature_num]),
      normalize_interval(normalize_interval),
      feature_num(feature_num),
      ring_size(normalize_interval * feature_num),
      frame_ring(ring_size, 0.0),
      newest_frame(feature_num, 0.0),
      leaving_frame(feature_num, 0.0),
      dyn_means(feature_num, 0.0),
      dyn_stddevs(feature_num, 1.0),
      dyn_m2(feature_num, 0.0),
      static_means(feature_num, 0.0),
      static_stddevs(feature_num, 1.0) {
    std::fill_n(means.get(), feature_num, 0.0);
    std::fill_n(stddevs.get(), feature_num, 1.0);
}

namespace {

// Reads the next white-space separated token as a whole number of type T: a
// token such as "1.5x" or "39.0" (for an int) is refused, not read in part.
template <typename T>
bool readWholeToken(std::istream& in, T& value) {
    std::string token;
    if (!(in >> token)) return false;
    std::istringstream number(token);
    return (number >> value) && number.peek() == std::char_traits<char>::eof();
}

// Reads `count` numbers; false when a token is missing or is not a number.
bool readNumbers(std::istream& in, int count, std::vector<double>& values) {
    values.assign(count, 0.0);
    for (double& value : values) {
        if (!readWholeToken(in, value)) return false;
    }
    return true;
}

}  // namespace

bool FeatureNormalizer::loadStaticNormalization(std::string path) {
    std::ifstream in(path);
    if (!in.is_open()) {
        logLine(log_channel, "ERROR: cannot load static normalization: " + path);
        return false;
    }
    int count = 0;
    if (!readWholeToken(in, count) || count != feature_num) {
        logLine(log_channel, "ERROR: number of features differs in: " + path);
        return false;
    }
    std::vector<double> values;
    if (!readNumbers(in, 2 * feature_num, values)) {
        logLine(log_channel, "ERROR: incomplete or malformed static normalization: " + path);
        return false;
    }
    std::copy_n(values.begin(), feature_num, static_means.begin());
    std::copy_n(values.begin() + feature_num, feature_num, static_stddevs.begin());
    std::copy(static_means.begin(), static_means.end(), means.get());
    std::copy(static_stddevs.begin(), static_stddevs.end(), stddevs.get());
    dyn_loaded = false;
    return true;
}

void FeatureNormalizer::reset() {
    std::fill(newest_frame.begin(), newest_frame.end(), 0.0);
    std::fill(leaving_frame.begin(), leaving_frame.end(), 0.0);
    ring_pos = 0;
    if (dyn_loaded) {
        window_full = true;
        speech_frames_num = normalize_interval;
        return;
    }
    window_full = false;
    speech_frames_num = 0;
    for (int i = 0; i < feature_num; ++i) {
        means[i] = static_means[i];
        stddevs[i] = static_stddevs[i];
        dyn_means[i] = 0.0;
        dyn_stddevs[i] = 1.0;
        dyn_m2[i] = 0.0;
    }
}

void FeatureNormalizer::addWhileFilling(int i, double c) {
    const double m = dyn_means[i];
    const double x = newest_frame[i];
    const double w = normalize_interval;
    dyn_means[i] = ((c - 1) * m + x) / c;
    dyn_m2[i] = dyn_m2[i] + (x - dyn_means[i]) * (x - m);
    dyn_stddevs[i] = std::sqrt(dyn_m2[i] / c);
    means[i] = (dyn_means[i] * c + static_means[i] * (w - c)) / w;
    stddevs[i] = (dyn_stddevs[i] * c + static_stddevs[i] * (w - c)) / w;
}

void FeatureNormalizer::slideFull(int i, double c) {
    const double m = dyn_means[i];
    const double x = newest_frame[i];
    const double y = leaving_frame[i];
    const double d = y - m;
    const double m_r = m - d / (c - 1);
    double m2_r = dyn_m2[i] - (y - m_r) * d;
    if (m2_r < 0) m2_r = 0;
    const double e = x - m_r;
    const double m_a = m_r + e / c;
    double m2_a = m2_r + (x - m_a) * e;
    if (m2_a < 0) m2_a = 0;
    dyn_means[i] = m_a;
    dyn_m2[i] = m2_a;
    dyn_stddevs[i] = std::sqrt(m2_a / c);
}

void FeatureNormalizer::update(const double* frame) {
    double* slot = frame_ring.data() + ring_pos;
    std::copy_n(slot, feature_num, leaving_frame.begin());
    std::copy_n(frame, feature_num, slot);
    std::copy_n(frame, feature_num, newest_frame.begin());
    ring_pos += feature_num;
    if (ring_pos == ring_size) ring_pos = 0;
    if (speech_frames_num < normalize_interval) ++speech_frames_num;
    const double c = speech_frames_num;
    for (int i = 0; i < feature_num; ++i) {
        if (window_full) {
            slideFull(i, c);
        } else {
            addWhileFilling(i, c);
        }
    }
    if (window_full) {
        std::copy(dyn_means.begin(), dyn_means.end(), means.get());
        std::copy(dyn_stddevs.begin(), dyn_stddevs.end(), stddevs.get());
    }
    if (ring_pos == 0) window_full = true;
}

void FeatureNormalizer::normalize(double* frame) const {
    for (int i = 0; i < feature_num; ++i) frame[i] = (frame[i] - means[i]) / stddevs[i];
}

}  // namespace tarvik
