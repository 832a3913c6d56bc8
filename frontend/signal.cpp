#include "frontend/signal.h"

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <new>

#include "app/input_file.h"
#include "frontend/signal_header.h"
#include "frontend/trunc_to_int.h"

namespace tarvik {

namespace {

constexpr int TRAILING_ZEROS = 500;
constexpr int SAMPLES_PER_MS = 16;
constexpr int READ_CHUNK_SAMPLES = 1 << 15;

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Asks the kernel to back the whole 2 MB pages inside a large new buffer with huge pages before
// it is first written: one fault per 2 MB instead of one per 4 KB. Only advice; a kernel without
// transparent huge pages ignores it or refuses it, and the buffer works the same.
void adviseHugePages(void* buffer, std::size_t bytes) {
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t first = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t last = (start + bytes) & ~(HUGE_PAGE - 1);
    if (last <= first) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

unsigned readU16(const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); }

// Reads up to `count` 16-bit little-endian samples into `out`; returns the samples read.
long long readSamples(std::istream& file, int16_t* out, long long count) {
    long long done = 0;
    while (done < count) {
        const long long want = std::min<long long>(count - done, READ_CHUNK_SAMPLES);
        auto* bytes = reinterpret_cast<unsigned char*>(out + done);
        file.read(reinterpret_cast<char*>(bytes), 2 * want);
        const long long got = file.gcount() / 2;
        for (long long i = 0; i < got; ++i)
            out[done + i] = static_cast<int16_t>(readU16(&bytes[2 * i]));
        done += got;
        if (got < want) break;
    }
    return done;
}

}  // namespace

const char* Signal::loadResultText(int result) {
    switch (result) {
        case LOAD_OK:
            return "loaded";
        case LOAD_CANNOT_OPEN:
            return "cannot be opened";
        case LOAD_NO_LABELS:
            return "reference TextGrid cannot be opened";
        case LOAD_BAD_FORMAT:
            return "not 16 kHz mono 16-bit PCM";
        case LOAD_TOO_LONG:
            return "too long";
        case LOAD_BAD_LABELS:
            return "reference TextGrid not in Praat's long text format";
        case LOAD_SHORT_HEADER:
            return "RIFF header cut short";
        case LOAD_NO_MEMORY:
            return "too long for the memory available";
        default:
            return "unknown result";
    }
}

int Signal::loadFile(const std::string& path, const std::string& labels_path, bool has_header) {
    const int result = loadSamples(path, has_header);
    if (result != LOAD_OK) return result;
    const int labels = loadIntervals(labels_path);
    if (labels != LOAD_OK) load_reason = loadResultText(labels);
    return labels;
}

int Signal::refuseLoad(int result, std::string reason) {
    load_reason = reason.empty() ? loadResultText(result) : std::move(reason);
    return result;
}

int Signal::loadSamples(const std::string& path, bool has_header) {
    InputFile input;
    if (!input.open(path, false)) return refuseLoad(LOAD_CANNOT_OPEN, input.failure());
    const std::streamoff size = input.size();
    if (size < 0) return refuseLoad(LOAD_CANNOT_OPEN, input.failure());
    std::istream& file = input.stream();
    SampleLayout layout = findSamples(file, size, has_header);
    if (input.readFailed()) return refuseLoad(LOAD_CANNOT_OPEN, input.failure());
    if (layout.result != LOAD_OK) return refuseLoad(layout.result, std::move(layout.reason));

    const long long count = layout.count;
    if (count > INT_MAX - TRAILING_ZEROS) return refuseLoad(LOAD_TOO_LONG);
    // A file shorter than its header gives a negative count and no sample is read.
    std::unique_ptr<int16_t[]> buffer(new (std::nothrow) int16_t[count + TRAILING_ZEROS]);
    if (!buffer) return refuseLoad(LOAD_NO_MEMORY);
    adviseHugePages(buffer.get(),
                    sizeof(int16_t) * static_cast<std::size_t>(count + TRAILING_ZEROS));
    long long read = 0;
    if (count > 0) {
        file.clear();
        file.seekg(layout.offset, std::ios::beg);
        read = readSamples(file, buffer.get(), count);
        if (input.readFailed()) return refuseLoad(LOAD_CANNOT_OPEN, input.failure());
    }
    std::fill(buffer.get() + read, buffer.get() + count + TRAILING_ZEROS, int16_t{0});
    appendSource(static_cast<int>(count), path);
    stored.back() = std::move(buffer);
    return LOAD_OK;
}

void Signal::appendSource(int count, const std::string& name) {
    source_names.push_back(name);
    sample_counts.push_back(count);
    samples.emplace_back();
    stored.emplace_back();
    frame_counts.push_back(0);
    first_frames.push_back(0);
    interval_counts.push_back(0);
    interval_labels.emplace_back();
    interval_starts.emplace_back();
    interval_ends.emplace_back();
    interval_first_frames.emplace_back();
    interval_last_frames.emplace_back();
}

void Signal::loadBuffer(const double* data, int count) {
    if (count < 0) return;
    std::unique_ptr<double[]> buffer(new double[count]());
    if (data != nullptr) std::copy(data, data + count, buffer.get());
    if (sourceCount() == 0) appendSource(0, "");
    samples[0] = std::move(buffer);
    stored[0].reset();
    if (window_source == 0) window_source = -1;
    sample_counts[0] = count;
    source_names[0] = "Memory Buffer";
    if (frame_ms != 0) computeFrames(frame_ms, overlap);
}

int Signal::loadRingBuffer(const int16_t* ring, int ring_len, int start, int n) {
    if (n < 0 || (n > 0 && (ring == nullptr || ring_len <= 0))) return start;
    if (sourceCount() == 0 || !samples[0] || sample_counts[0] < n) loadBuffer(nullptr, n);
    if (n == 0) return start;
    double* out = samples[0].get();
    int index = (start < 0 || start >= ring_len) ? 0 : start;
    for (int i = 0; i < n; ++i) {
        if (index == ring_len) index = 0;
        out[i] = ring[index] / 32767.0;
        ++index;
    }
    return index;
}

void Signal::setFrame(int new_frame_ms, double new_overlap) {
    if (new_frame_ms != 0) computeFrames(new_frame_ms, new_overlap);
}

void Signal::computeFrames(int new_frame_ms, double new_overlap) {
    frame_ms = new_frame_ms;
    overlap = new_overlap;
    frame_samples = truncToInt(static_cast<double>(SAMPLES_PER_MS) * frame_ms);
    step_ms = truncToInt(static_cast<double>(frame_ms) - truncToInt(frame_ms * overlap));
    overlap_samples = truncToInt(overlap * frame_samples + 0.5);
    total_frames = 0;
    const long long step = static_cast<long long>(frame_samples) - overlap_samples;
    for (int s = 0; s < sourceCount(); ++s) {
        first_frames[s] = total_frames;
        frame_counts[s] = step > 0 ? static_cast<int>(std::max(0LL, sample_counts[s] / step)) : 0;
        total_frames += frame_counts[s];
    }
    placeIntervals();
}

int Signal::readableSamples() const { return std::max(FRAME_REACH, frame_samples); }

const double* Signal::yieldFrame(int source, int frame, int* samples_left) {
    if (source < 0 || source >= sourceCount() || frame < 0 || frame >= frame_counts[source] ||
        (!samples[source] && !stored[source])) {
        return nullptr;
    }
    const int offset = frame * stepSamples();
    if (samples_left != nullptr) *samples_left = sample_counts[source] - offset;
    if (samples[source]) return samples[source].get() + offset;
    return fromWindow(source, offset);
}

// The window holds three reaches, so that it moves once per two reaches of frames walked in
// order. A frame whose reach lies outside it starts it anew at the frame's first sample.
const double* Signal::fromWindow(int source, int offset) {
    const int reach = readableSamples();
    const int buffer_end = sample_counts[source] + TRAILING_ZEROS;
    const int needed_end = offset + std::min(reach, buffer_end - offset);
    const int window_end = window_begin + static_cast<int>(window.size());
    if (source != window_source || offset < window_begin || needed_end > window_end) {
        const auto length = std::min(3LL * reach, static_cast<long long>(buffer_end - offset));
        const int16_t* from = stored[source].get() + offset;
        window.assign(from, from + length);
        window_source = source;
        window_begin = offset;
    }
    return window.data() + (offset - window_begin);
}

const double* Signal::searchFrom(int source, int* samples_left) {
    for (int s = source; s < sourceCount(); ++s) {
        cur_source = s;
        cur_frame = -1;
        if (frame_counts[s] > 0) {
            cur_frame = 0;
            return yieldFrame(s, 0, samples_left);
        }
    }
    return nullptr;
}

const double* Signal::firstFrame(int* samples_left) {
    cur_source = 0;
    cur_frame = -1;
    return searchFrom(0, samples_left);
}

const double* Signal::nextFrame(int* samples_left) {
    if (sourceCount() == 0) return nullptr;
    if (cur_frame < frame_counts[cur_source] - 1) {
        ++cur_frame;
        return yieldFrame(cur_source, cur_frame, samples_left);
    }
    if (cur_source >= sourceCount() - 1) return nullptr;
    return searchFrom(cur_source + 1, samples_left);
}

const double* Signal::gotoSource(int source, int* samples_left) {
    if (source < 0 || source >= sourceCount()) return nullptr;
    return searchFrom(source, samples_left);
}

const double* Signal::prevFrame(int k, int* samples_left) {
    if (k < 0 || cur_frame < k) return nullptr;
    return yieldFrame(cur_source, cur_frame - k, samples_left);
}

const double* Signal::randomFrame(int* samples_left) {
    if (total_frames <= 0) return nullptr;
    int g = std::rand() % total_frames;
    int s = 0;
    while (s < sourceCount() && g >= frame_counts[s]) {
        g -= frame_counts[s];
        ++s;
    }
    return yieldFrame(s, g, samples_left);
}

bool Signal::isFirstFrame() const { return cur_frame == 0; }

bool Signal::isLastFrame() const { return cur_frame >= getFrameCount(cur_source) - 1; }

int Signal::getGlobalFrame() const { return getSourceFirstFrame(cur_source) + cur_frame; }

int Signal::getFrameCount(int source) const {
    return (source >= 0 && source < sourceCount()) ? frame_counts[source] : 0;
}

int Signal::getSourceFirstFrame(int source) const {
    return (source >= 0 && source < sourceCount()) ? first_frames[source] : 0;
}

std::string Signal::getSourceName(int source) const {
    return (source >= 0 && source < sourceCount()) ? source_names[source] : "NONAME";
}

int Signal::alwaysZero() const { return 0; }

void Signal::freeSamples() {
    for (auto& buffer : samples) buffer.reset();
    for (auto& buffer : stored) buffer.reset();
    window = {};
    window_source = -1;
}

}  // namespace tarvik
