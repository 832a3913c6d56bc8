// Writes the seed corpora of the fuzz targets under the directory given (tests/fuzz/corpus):
// small valid files that the project's own writers make, or pieces of the golden recording.
//   fuzz_make_seeds <corpus dir>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/settings.h"
#include "decision/feature_normalizer.h"
#include "network/blstm.h"
#include "output/label_table.h"
#include "output/sequence_synchronizer.h"
#include "tests/network/model_files.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;

const std::string GOLDEN = TARVIK_TEST_DATA "/golden/";

using test_support::readFile;
using test_support::writeFile;

// The golden recording's header, or 44 zero bytes, then `count` of its samples from `first` on.
std::string recordingPiece(bool riff_header, int first, int count) {
    const std::string wav = readFile(GOLDEN + "speech.wav");
    const std::string header = riff_header ? wav.substr(0, 44) : std::string(44, '\0');
    return header + wav.substr(44 + 2 * first, 2 * count);
}

void recordingSeeds(const fs::path& dir) {
    writeFile(dir / "speech_1500ms.wav", recordingPiece(true, 11200, 24000));
    writeFile(dir / "two_frames.wav", recordingPiece(true, 12800, 399));
    writeFile(dir / "header_only.wav", recordingPiece(true, 0, 0));
    writeFile(dir / "unknown_header.raw", recordingPiece(false, 20000, 3200));
}

void modelSeeds(const fs::path& binary_dir, const fs::path& text_dir) {
    BLSTM net(0);
    net.setBuffering(20, 20);
    if (!net.load(GOLDEN + "media.am")) throw std::runtime_error("golden model does not load");
    fs::copy_file(GOLDEN + "media.am", binary_dir / "golden.am",
                  fs::copy_options::overwrite_existing);
    writeModelText(text_dir / "golden.txt", net.getTopology(), net.getParameters());
    const BLSTMTopology follower = followerTopology(39);
    const BLSTMParameters values = followerParameters(39, 12, 4.0);
    writeModelFile(binary_dir / "follower.am", follower, values);
    writeModelText(text_dir / "follower.txt", follower, values);
}

void normalizationSeeds(const fs::path& static_dir, const fs::path& window_dir) {
    fs::copy_file(GOLDEN + "media.norm", static_dir / "golden.norm",
                  fs::copy_options::overwrite_existing);
    FeatureNormalizer normalizer(39, 4);
    normalizer.loadStaticNormalization(GOLDEN + "media.norm");
    normalizer.reset();
    std::vector<double> frame(39);
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 39; ++i) frame[i] = std::sin(1.0 + k + 0.5 * i);
        normalizer.update(frame.data());
    }
    normalizer.saveStaticNormalization(static_dir / "saved.norm");
    normalizer.saveDynamicNormalization(window_dir / "full.bin");
    const std::string full = readFile(window_dir / "full.bin");
    writeFile(window_dir / "two_frames.bin", full.substr(0, 4 + 2 * 39 * 8));
    writeFile(window_dir / "count_only.bin", full.substr(0, 4));
}

// The counter files that openSession (recreating a missing one) and closeSession leave.
void counterSeeds(const fs::path& dir) {
    const fs::path work = dir / "work";
    fs::create_directory(work);
    ses_num_dir = out_prefix = work.string() + "/";
    initMaps();
    SequenceSynchronizer synchronizer(39, 37);
    synchronizer.openSession();
    writeFile(dir / "recreated.txt", readFile(work / "ses_num.txt"));
    synchronizer.closeSession(true);
    writeFile(dir / "closed.txt", readFile(work / "ses_num.txt"));
    fs::remove_all(work);
}

// TextGrids as the project writes them: "norm" alone, and "post", "norm" and "margins" over
// 230 frames of sil, spc, sil.
void textGridSeeds(const fs::path& dir) {
    fs::copy_file(GOLDEN + "speech.TextGrid", dir / "golden.TextGrid",
                  fs::copy_options::overwrite_existing);
    initMaps();
    write_text_grid = true;
    SequenceSynchronizer synchronizer(39, 37);
    synchronizer.reset();
    for (int f = 0; f < 230; ++f) {
        const bool speech = f >= 49 && f <= 118;
        synchronizer.addSpeechDet(speech, speech, speech || f % 7 != 0);
    }
    synchronizer.buildTextGrid(dir / "norm.TextGrid", true);
    synchronizer.buildTextGrid(dir / "three_tiers.TextGrid", false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <corpus dir>\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    for (const char* target : {"recording", "model", "model_text", "static_norm", "window",
                               "session_counter", "textgrid"}) {
        fs::create_directories(corpus / target);
    }
    recordingSeeds(corpus / "recording");
    modelSeeds(corpus / "model", corpus / "model_text");
    normalizationSeeds(corpus / "static_norm", corpus / "window");
    counterSeeds(corpus / "session_counter");
    textGridSeeds(corpus / "textgrid");
    return 0;
}
