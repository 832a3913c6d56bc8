// Audio sources held as sample buffers and their division into overlapping frames.
//
// Every frame operation yields a FrameSpan: it returns a pointer to the frame's first sample
// (null: no frame) and writes `samples_left`, the loaded samples from there to the end of the
// source, through its out-parameter (left unwritten on null).
//
// A source from memory is a buffer of doubles, and the pointer points into it until the buffer is
// released (freeSamples, loadBuffer on source 0, destruction). A source read from a file keeps its
// samples as the 16-bit values they are; its frames are handed out as doubles from a window of
// consecutive samples converted on demand. Through such a pointer at least readableSamples()
// samples can be read, or up to the end of the source's trailing zeros when that comes first; the
// pointer holds them until the next frame operation, which may move the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvik {

class Signal {
  public:
    static constexpr int SAMP_FREQ = 16000;  // Hz, assumed for every source
    // Samples readable through a frame of a file source (see above), at the least.
    static constexpr int FRAME_REACH = 4096;

    // Results of loadFile: LOAD_OK, LOAD_NO_LABELS and LOAD_BAD_LABELS append the source (the
    // latter two without reference intervals), the others change nothing.
    static constexpr int LOAD_OK = 0;
    static constexpr int LOAD_CANNOT_OPEN = -1;   // no such readable file, or a read failed
    static constexpr int LOAD_NO_LABELS = -2;     // reference TextGrid cannot be opened
    static constexpr int LOAD_BAD_FORMAT = -3;    // not 16 kHz mono 16-bit PCM, or no WAV file
    static constexpr int LOAD_TOO_LONG = -4;      // more samples than an int counts
    static constexpr int LOAD_BAD_LABELS = -5;    // reference TextGrid breaks the long text format
    static constexpr int LOAD_SHORT_HEADER = -6;  // begins with "RIFF" but its chunks are cut short
    static constexpr int LOAD_NO_MEMORY = -7;     // the samples cannot be allocated

    // A short text for a negative result of loadFile, e.g. "not 16 kHz mono 16-bit PCM".
    static const char* loadResultText(int result);

    // Why the last loadFile that failed refused its file, in more detail than loadResultText:
    // e.g. "not 16 kHz mono 16-bit PCM: stereo, 44100 Hz", "not a RIFF/WAVE file: FLAC", or the
    // system's reason when it could not be opened or read ("No such file or directory",
    // "a directory, not a regular file", "read error: Input/output error").
    const std::string& loadFailure() const { return load_reason; }

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // Appends one source: the 16-bit little-endian samples of the file, unscaled, followed by 500
    // zeros; frames read them as doubles. With `has_header` the samples are those of a RIFF/WAVE
    // file's data chunk (a file that begins with "RIFF" but is shorter than 44 bytes or whose
    // chunks are cut short gives LOAD_SHORT_HEADER; one that is not 16 kHz mono 16-bit PCM, and any
    // other known container, LOAD_BAD_FORMAT; see signal_header.h), or of any other file behind 44
    // header bytes skipped unread; without it, the whole file. Samples that cannot be allocated
    // give LOAD_NO_MEMORY. A non-empty `labels_path` names a TextGrid whose first interval tier
    // gives the source's reference intervals (see textgrid_reader.h for what is refused). A
    // directory, and a file that cannot be seeked (a pipe), cannot be opened; a read that fails is
    // LOAD_CANNOT_OPEN as well. A file shorter than its header gives a negative sample count and no
    // frame. Does not run the framing, which places the intervals on frames.
    int loadFile(const std::string& path, const std::string& labels_path, bool has_header);
    // Gives source 0 (created when there is none) a buffer of `count` samples copied from `data`
    // (zeros when `data` is null), named "Memory Buffer", and re-runs the framing unless frame_ms
    // is 0. A negative count changes nothing.
    void loadBuffer(const double* data, int count);
    // Writes `n` ring samples from ring[start] on, wrapping at `ring_len`, each divided by
    // 32767.0, into source 0's buffer from position 0 (growing it when it holds fewer than n).
    // A start outside the ring reads from ring[0]. Returns the ring index after the last sample
    // read; `start` when nothing is read (n <= 0, no ring).
    int loadRingBuffer(const int16_t* ring, int ring_len, int start, int n);

    // Runs computeFrames unless frame_ms is 0.
    void setFrame(int frame_ms, double overlap);
    // Frames of 16 * frame_ms samples, every 16 * frame_ms - round(overlap * frame) samples; a
    // source of n samples has n / step frames (0 when the step is not positive).
    void computeFrames(int frame_ms, double overlap);
    // Samples readable through a frame of a file source: FRAME_REACH, or a whole frame when that
    // is longer.
    int readableSamples() const;

    // Frame 0 of the first source that has frames.
    const double* firstFrame(int* samples_left);
    // The next frame, crossing to the next source that has frames.
    const double* nextFrame(int* samples_left);
    // Frame 0 of `source`, or of the next source after it that has frames; null and the cursor
    // unchanged for a number outside the sources.
    const double* gotoSource(int source, int* samples_left);
    // The frame k frames before the cursor's, in the same source (null for k < 0); cursor stays.
    const double* prevFrame(int k, int* samples_left);
    // A frame drawn with rand(); null when there is no frame. The cursor stays.
    const double* randomFrame(int* samples_left);

    bool isFirstFrame() const;
    bool isLastFrame() const;
    int getGlobalFrame() const;
    int getFrameCount(int source) const;          // 0 outside the sources
    int getSourceFirstFrame(int source) const;    // 0 outside the sources
    std::string getSourceName(int source) const;  // "NONAME" outside the sources
    int alwaysZero() const;
    // Releases every sample buffer; counts, names and framing stay, frame operations give null.
    void freeSamples();

    // Reference intervals. Interval j of a source covers its frames first..last: first is the
    // first frame whose centre lies at or after its start, last the last frame whose centre lies
    // before its end; for a source's last interval, last = end / step_ms. Frame numbers in the
    // results of firstInterval/nextInterval are global; -1 means no interval.
    bool hasSourceWithoutIntervals() const;
    int getIntervalCount(int source) const;  // 0 outside the sources
    int getTotalIntervals() const;
    // Cursor to the first interval of the first source that has intervals.
    int firstInterval();
    // Cursor to the next interval, crossing sources; -1 and the cursor unchanged at the end.
    int nextInterval();
    // The current interval's last - first + 1 frames and label; 0 and "" when the cursor stands
    // on no interval.
    int getIntervalLength() const;
    std::string getIntervalLabel() const;
    std::string getLabel() const;
    // Walk over the frames inside intervals: within an interval, the frames first..last - 1
    // (from frame 0 for source 0's first interval); a null pointer marks every move to another
    // interval, and every call after the last interval. Frames past the source's frame count
    // are not yielded: the walk moves on there. Shares the cursor with the frame walk.
    const double* firstIntervalFrame(int* samples_left);
    const double* nextIntervalFrame(int* samples_left);
    // "ERR:<name> \n<last frame>=<frame count> \n" for every source whose last interval does
    // not end at its frame count; empty when none.
    std::string checkLabels() const;
    // "<name>:<interval within source>:<label>;" for a global interval number; empty outside.
    std::string getIntervalInfo(int interval) const;
    // The same for the interval of a global frame: the first whose last frame is above the
    // frame; empty when there is none or the frame is outside the frames.
    std::string getFrameInfo(int frame) const;

  private:
    int sourceCount() const { return static_cast<int>(samples.size()); }
    int stepSamples() const { return frame_samples - overlap_samples; }
    int loadSamples(const std::string& path, bool has_header);
    int refuseLoad(int result, std::string reason = "");
    void appendSource(int count, const std::string& name);
    const double* yieldFrame(int source, int frame, int* samples_left);
    const double* fromWindow(int source, int offset);
    const double* searchFrom(int source, int* samples_left);
    int loadIntervals(const std::string& labels_path);
    void placeIntervals();
    bool onInterval() const;
    int globalIntervalFrame() const;
    int searchIntervalsFrom(int source);

    std::vector<std::unique_ptr<double[]>> samples;  // of a source from memory, else null
    // Of a source read from a file: its samples and the trailing zeros; null for one from memory.
    std::vector<std::unique_ptr<int16_t[]>> stored;
    // Samples window_begin ... window_begin + window.size() - 1 of window_source's stored samples.
    std::vector<double> window;
    int window_source = -1;
    int window_begin = 0;
    std::vector<int> sample_counts;  // loaded samples; trailing zeros not counted
    std::vector<int> frame_counts;   // from the last framing
    std::vector<int> first_frames;   // global index of each source's frame 0
    std::vector<std::string> source_names;
    int frame_ms = 20;
    int step_ms = 0;
    int total_frames = 0;
    int frame_samples = 0;
    double overlap = 0.0;
    int overlap_samples = 0;
    // Reference intervals of each source: a count and five arrays of that many entries, null
    // when the count is 0. Times in whole milliseconds; frames within the source.
    std::vector<int> interval_counts;
    std::vector<std::unique_ptr<std::string[]>> interval_labels;
    std::vector<std::unique_ptr<int[]>> interval_starts;
    std::vector<std::unique_ptr<int[]>> interval_ends;
    std::vector<std::unique_ptr<int[]>> interval_first_frames;
    std::vector<std::unique_ptr<int[]>> interval_last_frames;
    int cur_frame = 0;  // -1: before the current source's frame 0
    int cur_source = 0;
    int cur_interval = 0;     // -1: before the current source's first interval
    std::string load_reason;  // of the last refused load
};

}  // namespace tarvik
