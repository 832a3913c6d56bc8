#include "tests/output/text_grid_samples.h"

#include <cstdlib>

#include "app/settings.h"

namespace tarvik::output_test {

const std::vector<std::int8_t>& workedExampleCodes() {
    static const std::vector<std::int8_t> codes = {1, 1, 2, 6, 6, 3, -1, -2};
    return codes;
}

const std::vector<TextGridSample>& textGridSamples() {
    static const std::vector<TextGridSample> samples = {
        {"cli.TextGrid", workedExampleCodes(), true, true, false, {}, 1, "0.0775", "3"},
        {"three_tiers.TextGrid",
         workedExampleCodes(),
         false,
         true,
         false,
         {},
         3,
         "0.0775",
         "4 3 2"},
        {"hypo_tiers.TextGrid",
         {2, -1, 6, 6, 1},
         false,
         true,
         true,
         {{0, 1, 2}},
         4,
         "0.0475",
         "4 3 3 5"},
        {"header_only.TextGrid", workedExampleCodes(), true, false, true, {}, 0, "0.0775", ""},
        {"zero_frames.TextGrid", {}, true, true, false, {}, 1, "0", "1"},
        {"zero_frames_tiers.TextGrid", {}, false, true, true, {{}}, 4, "0", "1 1 1 1"},
        {"one_frame.TextGrid", {6}, true, true, false, {}, 1, "0.0075", "1"},
        {"two_frames.TextGrid", {1, 3}, true, true, false, {}, 1, "0.0175", "2"},
    };
    return samples;
}

void addCodes(SequenceSynchronizer& synchronizer, const std::vector<std::int8_t>& codes) {
    for (const std::int8_t code : codes) {
        const int magnitude = std::abs(code);
        synchronizer.addSpeechDet(magnitude % 2 == 0, magnitude % 3 == 0, code > 0);
    }
}

bool writeSample(const TextGridSample& sample, const std::string& path) {
    TierSettingsGuard guard;
    write_text_grid = sample.write_text_grid;
    write_hypo_tiers = sample.write_hypo_tiers;
    nbest_num = static_cast<int>(sample.hypotheses.size());
    SequenceSynchronizer synchronizer(0, 37);
    synchronizer.reset();
    addCodes(synchronizer, sample.codes);
    synchronizer.addNBest(sample.hypotheses);
    return synchronizer.buildTextGrid(path, sample.final);
}

TierSettingsGuard::TierSettingsGuard()
    : saved_write_text_grid(write_text_grid),
      saved_write_hypo_tiers(write_hypo_tiers),
      saved_nbest_num(nbest_num) {}

TierSettingsGuard::~TierSettingsGuard() {
    write_text_grid = saved_write_text_grid;
    write_hypo_tiers = saved_write_hypo_tiers;
    nbest_num = saved_nbest_num;
}

void initMapsOnce() {
    static const bool filled = (initMaps(), true);
    (void)filled;
}

}  // namespace tarvik::output_test
