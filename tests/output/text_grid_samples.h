// TextGrids the writer is checked on: each with its codes, the settings it is
// written with, and what a reader must find in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/sequence_synchronizer.h"

namespace tarvik::output_test {

struct TextGridSample {
    std::string file_name;
    std::vector<std::int8_t> codes;  // speech_det codes, in frame order
    bool final;
    bool write_text_grid;
    bool write_hypo_tiers;
    std::vector<NBestString> hypotheses;  // nbest_num is their number
    int tiers;                            // expected tier count
    std::string end_time;                 // expected xmax, as written
    std::string interval_counts;          // per tier, separated by blanks
};

// The eight codes whose TextGrid is spelled out line by line in the tests.
const std::vector<std::int8_t>& workedExampleCodes();

const std::vector<TextGridSample>& textGridSamples();

// Appends `codes` to `synchronizer` through addSpeechDet.
void addCodes(SequenceSynchronizer& synchronizer, const std::vector<std::int8_t>& codes);

// Writes the sample to `path` with its settings, restoring them afterwards.
bool writeSample(const TextGridSample& sample, const std::string& path);

// Saves the settings that select TextGrid tiers and restores them when destroyed.
class TierSettingsGuard {
  public:
    TierSettingsGuard();
    ~TierSettingsGuard();
    TierSettingsGuard(const TierSettingsGuard&) = delete;
    TierSettingsGuard& operator=(const TierSettingsGuard&) = delete;

  private:
    bool saved_write_text_grid;
    bool saved_write_hypo_tiers;
    int saved_nbest_num;
};

// Fills the phone-label table unless it was filled already.
void initMapsOnce();

}  // namespace tarvik::output_test
