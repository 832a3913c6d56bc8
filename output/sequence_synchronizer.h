// Collects one decision code per frame and n-best hypothesis strings, and
// writes them as a TextGrid in Praat's long text format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/label_table.h"

namespace tarvik {

// One hypothesis string: a label code per handed-back frame, in frame order.
using NBestString = std::vector<LabelCode>;

class SequenceSynchronizer {
  public:
    // `features_num` and `posteriors_num`: values per row of the feature and
    // posterior dumps. Starts with no codes and no hypotheses.
    SequenceSynchronizer(int features_num, int posteriors_num);

    // Drops the collected codes and removes every hypothesis.
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
    // when the file cannot be opened or written or a hypothesis is too long.
    bool buildTextGrid(std::string path, bool final);

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

    int features_num;
    int posteriors_num;
    std::vector<std::int8_t> speech_det_vec;
    std::vector<NBestString> nbest_str_vec;
};

}  // namespace tarvik
