// Collects one decision code per frame and n-best hypothesis strings, and
// writes them as a TextGrid in Praat's long text format. Numbered recording
// sessions add per-frame dump files, a counter file and a Praat load script.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "output/label_table.h"

namespace tarvik {

// One hypothesis string: a label code per handed-back frame, in frame order.
using NBestString = std::vector<LabelCode>;

class SequenceSynchronizer {
  public:
    // `features_num` and `posteriors_num`: values per row of the feature and
    // posterior dumps. Starts with no codes, no hypotheses and no session.
    SequenceSynchronizer(int features_num, int posteriors_num);
    // Closes the dump files still open, writing out their buffered data; writes
    // neither the counter file, nor a TextGrid, nor the Praat script.
    ~SequenceSynchronizer();
    SequenceSynchronizer(const SequenceSynchronizer&) = delete;
    SequenceSynchronizer& operator=(const SequenceSynchronizer&) = delete;

    // Zeroes the five channel counts, drops the collected codes and removes
    // every hypothesis. Open dump files and the session number stay.
    void reset();

    // Appends the frame's code (1 + p) * (1 + 2s), p = `post_ge_half`,
    // s = `is_speech`, negated when the frame was not `kept`.
    void addSpeechDet(bool post_ge_half, bool is_speech, bool kept);

    // Appends `count` '$' (blk) symbols to each of the `nbest_num` hypotheses;
    // nothing for a count of 0 or less.
    void padNBest(int count);

    // Appends string i to hypothesis i, for every string given.
    void addNBest(const std::vector<NBestString>& strings);

    // Writes the TextGrid to `path`: "norm" alone when `final`, else "post",
    // "norm", "margins" and the hypothesis tiers, as the settings enable them.
    // Pads each hypothesis with 'c' (cut) to the number of codes. True when
    // written or when no tier kind is enabled; false, after one logged line,
    // when the file cannot be opened or written or a hypothesis is too long. A regular
    // file is replaced only by a whole TextGrid (replacing_file.h): after a failure it
    // holds what it held before.
    bool buildTextGrid(std::string path, bool final);

    // Why the last buildTextGrid that failed could not write its file, which its logged line
    // ("ERROR: cannot save TextGrid to: " and the path) does not say: "Is a directory", "No space
    // left on device", ... (ReplacingFile::failure). Empty after a success and when the failure
    // was a hypothesis too long, whose line says it. The caller prints it.
    const std::string& saveFailure() const { return save_failure; }

    // The session tag: `number` in five digits, zero-padded ("00005"). Above
    // 99999 it logs "WARNING: session number exeeded. Starting from 0" and
    // gives "00000".
    static std::string formatSessionNumber(int number);

    // Starts a session: resets the channels, gives `nbest_num` empty
    // hypotheses, closes the dump files a session never closed left open, and
    // numbers the session one above the counter file's number (1 for a counter
    // file holding no number, -4 for -5; 1 after a warning for one without a
    // successor in int or a first token longer than MAX_TOKEN_BYTES). Logs "current session is: "
    // and the number. False when the counter file could not be read; it is then recreated holding
    // "0" and the session is 1.
    bool openSession();

    // The five channel dumps, one call per frame. The first call of a channel
    // in a session creates its file `out_prefix` + tag + suffix; when that
    // fails, or before any `openSession`, the call logs one line and its data
    // is dropped. After `closeSession` a channel in use writes nowhere and still
    // counts; one not in use opens its file under the closed session's tag.
    //
    // `signal_frame_len` samples, stored as the low 16 bits of their integer
    // parts, little-endian ("_signal.raw"); NaN and infinities store 0.
    void addSignal(const double* samples);
    // `features_num` values, each followed by a tab, then a line feed ("_features.csv").
    void addFeatures(const double* values);
    // `posteriors_num` values, each followed by a tab, then a line feed ("_posteriors.csv").
    void addPosteriors(const double* values);
    // One value and a line feed ("_speech_post.csv").
    void addSpeechPost(double value);
    // One value and a line feed ("_speech_post_smoothed.csv").
    void addSpeechPostSmoothed(double value);

    // Ends the session: closes the dump files in use, checks the lengths of the
    // two channel groups and logs the outcome (`strict` picks an error line or
    // an information line for unequal lengths), writes the number into the
    // counter file, writes the session TextGrid (`final` false) and, with
    // `write_praat_script`, appends the session's block to
    // `out_prefix` + "load_files.praat". Before any `openSession` it only logs
    // one line.
    void closeSession(bool strict);

    // The codes since the last reset, in frame order.
    const std::vector<std::int8_t>& speechDetVec() const { return speech_det_vec; }
    const std::vector<NBestString>& nbestStrVec() const { return nbest_str_vec; }

  private:
    struct Tier {
        int tier_num;  // 0 post, 1 norm, 2 margins, 3 + h hypothesis h
        std::string name;
    };

    // Hypotheses missing below `count` are created empty.
    void ensureHypotheses(int count);
    bool fillHypotheses(std::size_t path_len);
    std::vector<Tier> chooseTiers(bool final) const;
    // One label per frame for the tier; a single "sil" when there is no frame.
    void labelFrames(int tier_num, std::vector<LabelCode>& labels) const;

    // Opens the channel's file when `count` is 0. False, after one logged
    // line, when the call's data is to be dropped.
    bool openChannel(std::ofstream& file, int count, const char* suffix, const char* operation,
                     std::ios::openmode mode);
    void closeOpenChannels();
    // Logs "ERROR: cannot create: " + `ses_num_path` when it does not open.
    void writeCounterFile(const std::string& text) const;
    // Checks the channel lengths and logs the outcome; returns nothing.
    void logChannelLengths(bool strict) const;
    void appendPraatScript() const;

    int features_num;
    int posteriors_num;
    std::optional<int> session_num;  // no value before the first openSession
    std::string ses_num_path;
    std::vector<std::int16_t> sample_buf;
    std::ofstream signal_file;
    std::ofstream features_file;
    std::ofstream posteriors_file;
    std::ofstream speech_post_file;
    std::ofstream speech_post_smoothed_file;
    int signal_count = 0;
    int features_count = 0;
    int posteriors_count = 0;
    int speech_post_count = 0;
    int speech_post_smoothed_count = 0;
    std::vector<std::int8_t> speech_det_vec;
    std::vector<NBestString> nbest_str_vec;
    std::string save_failure;  // see saveFailure
};

}  // namespace tarvik
