#include "decision/feature_normalizer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "app/bounded_read.h"
#include "app/console.h"
#include "app/input_file.h"
#include "app/settings.h"
#include "app/strings.h"

namespace tarvik {

FeatureNormalizer::FeatureNormalizer(int feature_num, int normalize_interval)
    : means(new double[feature_num]),
      stddevs(new double[feature_num]),
      normalize_interval(normalize_interval),
      feature_num(feature_num),
      ring_size(normalize_interval * feature_num),
      frame_ring(static_cast<std::size_t>(ring_size)),
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

// Far above any value a feature of the front end takes (logs of energies and their cepstra
// stay below 1e4): a deviation that a feature this large cannot be divided by is refused.
constexpr double MAX_FEATURE_MAGNITUDE = 1e10;

// The token read whole as a number of type T: a token such as "1.5x" or "39.0"
// (for an int) is refused, not read in part.
template <typename T>
bool wholeNumber(const std::string& token, T& value) {
    std::istringstream number(token);
    return (number >> value) && number.peek() == std::char_traits<char>::eof();
}

template <typename T>
bool readWholeToken(std::istream& in, T& value) {
    std::string token;
    return readToken(in, token) && wholeNumber(token, value);
}

// Reads `count` numbers; false when a token is missing or is not a number.
bool readNumbers(std::istream& in, int count, std::vector<double>& values) {
    values.assign(count, 0.0);
    for (double& value : values) {
        if (!readWholeToken(in, value)) return false;
    }
    return true;
}

// Why the means and deviations `values` (feature_num of each) cannot normalise a feature: the
// first mean that is not finite or deviation that is not finite and positive, or so small that a
// feature of the front end divided by it is no longer finite; empty when they can.
std::string normalizationProblem(const std::vector<double>& values, int feature_num) {
    for (int i = 0; i < feature_num; ++i) {
        const double mean = values[i];
        if (!std::isfinite(mean)) {
            return "mean of value " + intToString(i) + " is " + doubleToString(mean) +
                   ", not finite";
        }
    }
    for (int i = 0; i < feature_num; ++i) {
        const double mean = values[i];
        const double deviation = values[feature_num + i];
        const std::string what =
            "standard deviation of value " + intToString(i) + " is " + doubleToString(deviation);
        if (!std::isfinite(deviation)) return what + ", not finite";
        if (!(deviation > 0)) return what + ", not positive";
        if (!std::isfinite((std::fabs(mean) + MAX_FEATURE_MAGNITUDE) / deviation)) {
            return what + ", too small to divide a feature by";
        }
    }
    return {};
}

// `token` as it may be shown in a message: at most 24 bytes, those that are not printable as '?'.
std::string shownToken(const std::string& token) {
    constexpr std::size_t SHOWN = 24;
    std::string shown = token.substr(0, SHOWN);
    for (char& c : shown) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return "\"" + shown + (token.size() > SHOWN ? "...\"" : "\"");
}

// Why the first token (`have` false when there was none or it was too long) of a file of `size`
// bytes is not the count `feature_num`; empty when it is.
std::string countProblem(bool have, const std::string& token, std::int64_t size, int feature_num) {
    if (token.empty()) return size == 0 ? "the file is empty" : "no count: only white space";
    if (token.rfind("\xFF\xFE", 0) == 0 || token.rfind("\xFE\xFF", 0) == 0) {
        return "UTF-16 text, not ASCII";
    }
    if (token.rfind("\xEF\xBB\xBF", 0) == 0) return "a UTF-8 byte-order mark before the count";
    const std::size_t nul = token.find('\0');
    if (nul != std::string::npos) {
        return "a NUL byte at byte " + std::to_string(nul) +
               ": not ASCII text with values separated by white space";
    }
    if (!have) {
        return "the first token is longer than " + std::to_string(MAX_TOKEN_BYTES) + " bytes";
    }
    int count = 0;
    if (!wholeNumber(token, count)) {
        return "the count " + shownToken(token) + " is not a whole number";
    }
    if (count != feature_num) {
        return "the count is " + intToString(count) + ", not " + intToString(feature_num);
    }
    return {};
}

}  // namespace

bool FeatureNormalizer::loadStaticNormalization(std::string path) {
    load_failure.clear();
    // The reason of a refusal whose logged line names only the file.
    auto refuse = [&](const std::string& line, std::string reason) {
        logLine(log_channel, line + path);
        load_failure = std::move(reason);
        return false;
    };
    const std::string cannot_load = "ERROR: cannot load static normalization: ";
    InputFile file;
    if (!file.open(path, true)) return refuse(cannot_load, file.failure());
    std::istream& in = file.stream();
    std::string token;
    const bool have_count = readToken(in, token);
    if (file.readFailed()) return refuse(cannot_load, file.failure());
    const std::string count_problem = countProblem(have_count, token, file.size(), feature_num);
    if (!count_problem.empty()) {
        return refuse("ERROR: number of features differs in: ", count_problem);
    }
    std::vector<double> values;
    const bool complete = readNumbers(in, 2 * feature_num, values);
    if (file.readFailed()) return refuse(cannot_load, file.failure());
    if (!complete) {
        logLine(log_channel, "ERROR: incomplete or malformed static normalization: " + path);
        return false;
    }
    // A file written for more features than its count says would be read shifted: a further
    // number is refused. Text that follows the values (words, a note) is not read.
    double further = 0.0;
    if (readToken(in, token) && wholeNumber(token, further)) {
        logLine(log_channel, "ERROR: more values than the count says (" + intToString(feature_num) +
                                 " features, " + intToString(2 * feature_num) +
                                 " values): " + path);
        return false;
    }
    if (file.readFailed()) return refuse(cannot_load, file.failure());
    const std::string problem = normalizationProblem(values, feature_num);
    if (!problem.empty()) {
        logLine(log_channel, "ERROR: " + problem + ": " + path);
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

// Welford's online update for the c-th frame x of a window still filling: the mean becomes
// ((c - 1) m + x) / c, the sum of squared deviations m2 grows by (x - new mean)(x - old mean) and
// the deviation is sqrt(m2 / c); the values in use blend these with the static ones, weight c / w.
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

// Welford's update of a full window of c frames, run backwards for the leaving frame y and then
// forwards for the newest frame x: without y, m_r = m - (y - m) / (c - 1) and
// m2_r = m2 - (y - m_r)(y - m); with x, m_a = m_r + (x - m_r) / c and
// m2_a = m2_r + (x - m_a)(x - m_r); each m2 kept from going negative, the deviation sqrt(m2_a / c).
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

// Window files hold little-endian numbers, written and read as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

const std::string TOO_LONG_WARNING =
    "WARNING: length > FN_NORMALIZE_INTERVAL * feature_num * sizeof(double)";
const std::string TOO_SHORT_WARNING =
    "WARNING: length < FN_NORMALIZE_INTERVAL * feature_num * sizeof(double)";

// The length of the open file in bytes, the read position left at its start;
// -1 when it cannot be measured.
std::streamoff fileLength(std::istream& in) {
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    return in ? length : -1;
}

// Reads the window file at `path` into `values`: its first ring_size doubles, or
// all of them when it holds fewer. Returns the length of the data after the
// count; on a refused file logs one line naming `path` and returns -1.
std::streamoff readWindowFile(const std::string& path, int feature_num, int ring_size,
                              std::vector<double>& values) {
    std::ifstream in(path, std::ios::binary);
    const std::streamoff length = in.is_open() ? fileLength(in) : -1;
    std::int32_t count = 0;
    if (length < 0 || (length >= 4 && !in.read(reinterpret_cast<char*>(&count), sizeof count))) {
        logLine(log_channel, "ERROR: cannot load dynamic normalization: " + path);
        return -1;
    }
    if (length < 4 || count != feature_num) {
        logLine(log_channel, "ERROR: number of features differs: " + path);
        return -1;
    }
    const std::streamoff data_length = length - 4;
    const std::streamoff window_length = static_cast<std::streamoff>(ring_size) * 8;
    // Data beyond the window is ignored, whole doubles or not.
    if (data_length < window_length && data_length % 8 != 0) {
        logLine(log_channel,
                "ERROR: dynamic normalization is not a whole number of doubles: " + path);
        return -1;
    }
    values.resize(std::min(data_length, window_length) / 8);
    if (!in.read(reinterpret_cast<char*>(values.data()),
                 static_cast<std::streamsize>(values.size() * sizeof(double)))) {
        logLine(log_channel, "ERROR: cannot load dynamic normalization: " + path);
        return -1;
    }
    return data_length;
}

// The `count` values in the stream's default format, each followed by `after`.
std::string joinValues(const double* values, int count, char after) {
    std::string text;
    for (int i = 0; i < count; ++i) text += doubleToString(values[i]) + after;
    return text;
}

}  // namespace

bool FeatureNormalizer::saveDynamicNormalization(std::string path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    const std::int32_t count = feature_num;
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    out.write(reinterpret_cast<const char*>(frame_ring.data()),
              static_cast<std::streamsize>(frame_ring.size() * sizeof(double)));
    out.close();
    logLine(log_channel, "saved dynamic normalization: " + path);
    return true;
}

bool FeatureNormalizer::loadDynamicNormalization(std::string path) {
    std::vector<double> values;
    const std::streamoff data_length = readWindowFile(path, feature_num, ring_size, values);
    if (data_length < 0) return false;
    std::copy(values.begin(), values.end(), frame_ring.begin());
    const std::streamoff window_length = static_cast<std::streamoff>(ring_size) * 8;
    if (data_length > window_length) logLine(log_channel, TOO_LONG_WARNING);
    if (data_length < window_length) {
        logLine(log_channel, TOO_SHORT_WARNING);
        if (!values.empty()) repeatWindowAfter((static_cast<int>(values.size()) - 1) / feature_num);
    }
    takeWindowStatistics();
    dyn_loaded = true;
    reset();
    logLine(log_channel, "loaded dynamic normalization: " + path);
    return true;
}

// Fills the slots after `last_slot` by repeating the window from slot 0.
void FeatureNormalizer::repeatWindowAfter(int last_slot) {
    for (int t = 0; last_slot + 1 + t < normalize_interval; ++t) {
        std::copy_n(frame_ring.begin() + t * feature_num, feature_num,
                    frame_ring.begin() + (last_slot + 1 + t) * feature_num);
    }
}

// Puts the window's mean and population deviation in use, each sum taken in slot order.
void FeatureNormalizer::takeWindowStatistics() {
    const double w = normalize_interval;
    std::vector<double> sums(feature_num, 0.0);
    for (int s = 0; s < normalize_interval; ++s) {
        for (int j = 0; j < feature_num; ++j) sums[j] += frame_ring[s * feature_num + j];
    }
    for (int j = 0; j < feature_num; ++j) means[j] = sums[j] / w;
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int s = 0; s < normalize_interval; ++s) {
        for (int j = 0; j < feature_num; ++j) {
            const double d = frame_ring[s * feature_num + j] - means[j];
            sums[j] += d * d;
        }
    }
    for (int j = 0; j < feature_num; ++j) {
        const double variance = sums[j] / w;
        dyn_m2[j] = w * variance;
        stddevs[j] = std::sqrt(variance);
        dyn_means[j] = means[j];
        dyn_stddevs[j] = stddevs[j];
    }
}

bool FeatureNormalizer::saveStaticNormalization(std::string path) {
    std::ofstream out(path, std::ios::trunc);
    if (!out.is_open()) return false;
    out << intToString(feature_num) << '\n'
        << joinValues(means.get(), feature_num, '\t') << '\t'
        << joinValues(stddevs.get(), feature_num, '\t');
    out.close();
    logLine(log_channel, "saved static normalization: " + path);
    return true;
}

void FeatureNormalizer::printNormalization() const {
    logLine(log_channel, "Means:  ");
    logLine(log_channel, joinValues(means.get(), feature_num, ' '));
    logLine(log_channel, "StDevs:  ");
    logLine(log_channel, joinValues(stddevs.get(), feature_num, ' ') +
                             "speech_frames_num=" + intToString(speech_frames_num));
}

}  // namespace tarvik
