// Reference intervals of Signal's sources: reading, placing on frames, cursor and queries.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "frontend/signal.h"
#include "frontend/textgrid_reader.h"
#include "frontend/trunc_to_int.h"

namespace tarvik {

int Signal::loadIntervals(const std::string& labels_path) {
    if (labels_path.empty()) return LOAD_OK;
    TextGridIntervals read;
    switch (readTextGridIntervals(labels_path, read)) {
        case TextGridRead::CANNOT_OPEN:
            return LOAD_NO_LABELS;
        case TextGridRead::MALFORMED:
            return LOAD_BAD_LABELS;
        case TextGridRead::OK:
            break;
    }
    const int count = static_cast<int>(read.labels.size());
    if (count == 0) return LOAD_OK;
    const int s = sourceCount() - 1;
    interval_counts[s] = count;
    interval_labels[s] = std::make_unique<std::string[]>(count);
    std::move(read.labels.begin(), read.labels.end(), interval_labels[s].get());
    interval_starts[s] = std::make_unique<int[]>(count);
    std::copy(read.starts.begin(), read.starts.end(), interval_starts[s].get());
    interval_ends[s] = std::make_unique<int[]>(count);
    std::copy(read.ends.begin(), read.ends.end(), interval_ends[s].get());
    interval_first_frames[s] = std::make_unique<int[]>(count);
    interval_last_frames[s] = std::make_unique<int[]>(count);
    return LOAD_OK;
}

// A frame's centre lies half a frame after its start; frame f starts at f * step_ms. A step that
// is not positive places every interval on no frame (first 0, last -1).
void Signal::placeIntervals() {
    const double half = frame_ms * 0.5;
    const double step = step_ms;
    for (int s = 0; s < sourceCount(); ++s) {
        const int count = interval_counts[s];
        for (int j = 0; j < count; ++j) {
            int& first = interval_first_frames[s][j];
            int& last = interval_last_frames[s][j];
            if (step_ms <= 0) {
                first = 0;
                last = -1;
                continue;
            }
            first = std::max(0, truncToInt(std::ceil((interval_starts[s][j] - half) / step)));
            const double end = interval_ends[s][j];
            if (j < count - 1) {
                // The largest whole number strictly below q.
                const double q = (end - half) / step;
                last = truncToInt(std::floor(q) - (std::floor(q) == q ? 1.0 : 0.0));
            } else {
                last = truncToInt(std::floor(end / step));
            }
        }
    }
}

bool Signal::hasSourceWithoutIntervals() const {
    return std::find(interval_counts.begin(), interval_counts.end(), 0) != interval_counts.end();
}

int Signal::getIntervalCount(int source) const {
    return (source >= 0 && source < sourceCount()) ? interval_counts[source] : 0;
}

int Signal::getTotalIntervals() const {
    long long total = 0;
    for (const int count : interval_counts) total += count;
    return truncToInt(static_cast<double>(total));
}

bool Signal::onInterval() const {
    return cur_source >= 0 && cur_source < sourceCount() && cur_interval >= 0 &&
           cur_interval < interval_counts[cur_source];
}

int Signal::globalIntervalFrame() const {
    return first_frames[cur_source] + interval_first_frames[cur_source][cur_interval];
}

// Moves the interval cursor to the first interval of the first source from `source` on that has
// intervals; -1 with the cursor at (last source tried, -1) when none has.
int Signal::searchIntervalsFrom(int source) {
    for (int s = source; s < sourceCount(); ++s) {
        cur_source = s;
        cur_interval = -1;
        if (interval_counts[s] > 0) {
            cur_interval = 0;
            return globalIntervalFrame();
        }
    }
    return -1;
}

int Signal::firstInterval() {
    cur_source = 0;
    cur_interval = -1;
    return searchIntervalsFrom(0);
}

int Signal::nextInterval() {
    if (cur_source < 0 || cur_source >= sourceCount()) return -1;
    if (cur_interval < interval_counts[cur_source] - 1) {
        ++cur_interval;
        return globalIntervalFrame();
    }
    if (cur_source >= sourceCount() - 1) return -1;
    return searchIntervalsFrom(cur_source + 1);
}

int Signal::getIntervalLength() const {
    if (!onInterval()) return 0;
    const long long first = interval_first_frames[cur_source][cur_interval];
    const long long last = interval_last_frames[cur_source][cur_interval];
    return truncToInt(static_cast<double>(last - first + 1));
}

std::string Signal::getIntervalLabel() const {
    return onInterval() ? interval_labels[cur_source][cur_interval] : std::string();
}

std::string Signal::getLabel() const { return getIntervalLabel(); }

const double* Signal::firstIntervalFrame(int* samples_left) {
    cur_source = 0;
    cur_interval = 0;
    cur_frame = -1;
    return nextIntervalFrame(samples_left);
}

const double* Signal::nextIntervalFrame(int* samples_left) {
    if (cur_source < 0 || cur_source >= sourceCount()) return nullptr;
    const int next = cur_frame + 1;
    if (onInterval() && next < interval_last_frames[cur_source][cur_interval] &&
        next < frame_counts[cur_source]) {
        cur_frame = next;
        return yieldFrame(cur_source, cur_frame, samples_left);
    }
    if (cur_interval < interval_counts[cur_source] - 1) {
        ++cur_interval;
        cur_frame = interval_first_frames[cur_source][cur_interval] - 1;
        return nullptr;
    }
    if (cur_source >= sourceCount() - 1) return nullptr;
    if (searchIntervalsFrom(cur_source + 1) >= 0) {
        cur_frame = interval_first_frames[cur_source][0] - 1;
    }
    return nullptr;
}

std::string Signal::checkLabels() const {
    std::ostringstream report;
    for (int s = 0; s < sourceCount(); ++s) {
        const int count = interval_counts[s];
        if (count == 0) continue;
        const int last = interval_last_frames[s][count - 1];
        if (last != frame_counts[s]) {
            report << "ERR:" << source_names[s] << " \n" << last << "=" << frame_counts[s] << " \n";
        }
    }
    return report.str();
}

std::string Signal::getIntervalInfo(int interval) const {
    if (interval < 0 || interval >= getTotalIntervals()) return "";
    int s = 0;
    while (interval >= interval_counts[s]) interval -= interval_counts[s++];
    std::ostringstream info;
    info << source_names[s] << ":" << interval << ":" << interval_labels[s][interval] << ";";
    return info.str();
}

std::string Signal::getFrameInfo(int frame) const {
    if (frame < 0 || frame >= total_frames) return "";
    int s = 0;
    while (s < sourceCount() - 1 && first_frames[s] + frame_counts[s] <= frame) ++s;
    const int f = frame - first_frames[s];
    for (int j = 0; j < interval_counts[s]; ++j) {
        if (interval_last_frames[s][j] > f) {
            std::ostringstream info;
            info << source_names[s] << ":" << j << ":" << interval_labels[s][j] << ";";
            return info.str();
        }
    }
    return "";
}

}  // namespace tarvik
