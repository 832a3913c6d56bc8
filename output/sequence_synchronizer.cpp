#include "output/sequence_synchronizer.h"

#include <cstdlib>
#include <fstream>
#include <locale>
#include <ostream>
#include <sstream>
#include <string>

#include "app/console.h"
#include "app/settings.h"
#include "app/strings.h"
#include "output/replacing_file.h"

namespace tarvik {
namespace {

// The boundary between frames j - 1 and j, in seconds.
double frameTime(std::size_t j) { return static_cast<double>(j) * 0.01 + 0.0075; }

void writeHeader(std::ostream& out, double x_end, std::size_t tier_count) {
    out << "File type =\"ooTextFile\"\n"
        << "Object class = \"TextGrid\"\n"
        << "\n"
        << "xmin = 0\n"
        << "xmax = " << x_end << "\n"
        << "tiers? <exists>\n"
        << "size = " << tier_count << "\n"
        << "item []:\n";
}

// Writes the tier lines, then one interval per run of equal labels; the last
// run ends at `x_end`. Flushes after each interval.
void writeTier(std::ostream& out, int item, const std::string& name,
               const std::vector<LabelCode>& labels, double x_end) {
    const std::size_t frames = labels.size();
    std::size_t intervals = 1;
    for (std::size_t j = 1; j < frames; ++j) {
        if (labels[j] != labels[j - 1]) ++intervals;
    }
    out << "item [" << item << "]:\n"
        << "class = \"IntervalTier\"\n"
        << "name = \"" << name << "\"\n"
        << "xmin = 0\n"
        << "xmax = " << x_end << "\n"
        << "intervals: size = " << intervals << "\n";
    std::size_t number = 0;
    for (std::size_t start = 0; start < frames;) {
        std::size_t end = start + 1;
        while (end < frames && labels[end] == labels[start]) ++end;
        out << "\tintervals [" << ++number << "]:\n"
            << "\t\txmin = " << (start == 0 ? 0.0 : frameTime(start)) << "\n"
            << "\t\txmax = " << (end == frames ? x_end : frameTime(end)) << "\n"
            << "\t\ttext = \"" << codeToStr(labels[start]) << "\"\n"
            << std::flush;
        start = end;
    }
}

void logSaveError(const std::string& path) {
    logLine(log_channel, "ERROR: cannot save TextGrid to: " + path);
}

}  // namespace

SequenceSynchronizer::SequenceSynchronizer(int features_num, int posteriors_num)
    : features_num(features_num),
      posteriors_num(posteriors_num),
      sample_buf(signal_frame_len > 0 ? signal_frame_len : 0) {
    for (std::ofstream* file :
         {&features_file, &posteriors_file, &speech_post_file, &speech_post_smoothed_file}) {
        file->imbue(std::locale::classic());
    }
}

// Empties both arrays and releases the sample buffer; the members' destructors
// then close the streams, the smoothed speech posterior dump first and the
// signal dump last, and release `ses_num_path` after them.
SequenceSynchronizer::~SequenceSynchronizer() {
    speech_det_vec.clear();
    nbest_str_vec.clear();
    std::vector<std::int16_t>().swap(sample_buf);
}

void SequenceSynchronizer::reset() {
    signal_count = 0;
    features_count = 0;
    posteriors_count = 0;
    speech_post_count = 0;
    speech_post_smoothed_count = 0;
    speech_det_vec.clear();
    nbest_str_vec.clear();
}

void SequenceSynchronizer::addSpeechDet(bool post_ge_half, bool is_speech, bool kept) {
    const int value = (1 + (post_ge_half ? 1 : 0)) * (1 + 2 * (is_speech ? 1 : 0));
    speech_det_vec.push_back(static_cast<std::int8_t>(kept ? value : -value));
}

void SequenceSynchronizer::ensureHypotheses(int count) {
    if (count > static_cast<int>(nbest_str_vec.size())) nbest_str_vec.resize(count);
}

void SequenceSynchronizer::padNBest(int count) {
    if (count <= 0) return;
    ensureHypotheses(nbest_num);
    for (int h = 0; h < nbest_num; ++h) {
        nbest_str_vec[h].insert(nbest_str_vec[h].end(), count, BLK_CODE);
    }
}

void SequenceSynchronizer::addNBest(const std::vector<NBestString>& strings) {
    ensureHypotheses(static_cast<int>(strings.size()));
    for (std::size_t h = 0; h < strings.size(); ++h) {
        nbest_str_vec[h].insert(nbest_str_vec[h].end(), strings[h].begin(), strings[h].end());
    }
}

bool SequenceSynchronizer::fillHypotheses(std::size_t path_len) {
    ensureHypotheses(nbest_num);
    for (int h = 0; h < nbest_num; ++h) {
        if (nbest_str_vec[h].size() > path_len) {
            logLine(log_channel, "ERROR: path_len < k in SequenceSynchronizer::buildTextGrid()");
            return false;
        }
        nbest_str_vec[h].resize(path_len, CUT_CODE);
    }
    return true;
}

std::vector<SequenceSynchronizer::Tier> SequenceSynchronizer::chooseTiers(bool final) const {
    std::vector<Tier> tiers;
    if (write_text_grid && !final) tiers.push_back({0, "post"});
    if (write_text_grid) tiers.push_back({1, "norm"});
    if (write_text_grid && !final) tiers.push_back({2, "margins"});
    if (write_hypo_tiers && !final) {
        for (int h = 0; h < nbest_num; ++h) tiers.push_back({3 + h, "hypo " + intToString(h + 2)});
    }
    return tiers;
}

void SequenceSynchronizer::labelFrames(int tier_num, std::vector<LabelCode>& labels) const {
    labels.clear();
    if (speech_det_vec.empty()) {
        labels.push_back(SIL_CODE);
        return;
    }
    std::size_t next_symbol = 0;
    for (const std::int8_t v : speech_det_vec) {
        const int magnitude = std::abs(v);
        switch (tier_num) {
            case 0:
                labels.push_back(magnitude % 2 == 0 ? SPC_CODE : SIL_CODE);
                break;
            case 1:
                labels.push_back(magnitude % 3 == 0 ? SPC_CODE : SIL_CODE);
                break;
            case 2:
                labels.push_back(v > 0 ? SPC_CODE : CUT_CODE);
                break;
            default:
                labels.push_back(v > 0 ? nbest_str_vec[tier_num - 3][next_symbol++] : CUT_CODE);
        }
    }
}

bool SequenceSynchronizer::buildTextGrid(std::string path, bool final) {
    save_failure.clear();
    if (!write_text_grid && !write_hypo_tiers) return true;
    ReplacingFile replacing;
    if (!replacing.open(path)) {
        logSaveError(path);
        save_failure = replacing.failure();
        return false;
    }
    const std::size_t path_len = speech_det_vec.size();
    const std::vector<Tier> tiers = chooseTiers(final);
    if (nbest_num != 0 && !fillHypotheses(path_len)) return false;
    // The whole text is composed in memory and written in one go.
    std::ostringstream text;
    text.imbue(std::locale::classic());
    // Without codes the file spans nothing: every time is 0.
    const double x_end = path_len == 0 ? 0.0 : frameTime(path_len - 1);
    writeHeader(text, x_end, tiers.size());
    std::vector<LabelCode> labels;
    labels.reserve(path_len);
    for (const Tier& tier : tiers) {
        labelFrames(tier.tier_num, labels);
        writeTier(text, tier.tier_num + 1, tier.name, labels, x_end);
    }
    replacing.write(std::move(text).str());
    if (!replacing.commit()) {
        logSaveError(path);
        save_failure = replacing.failure();
        return false;
    }
    return true;
}

}  // namespace tarvik
