// Records two sessions, of 250 and 100 frames, into the directory given as the
// argument (an absolute path: Praat reads the script's file names relative to
// the script's own directory), appending both to its load_files.praat. Leaves
// there a manifest.tsv for the load check: the script's path, a tab, and the
// frame counts of the sessions.
#include <cstdio>
#include <string>

#include "output/sequence_synchronizer.h"
#include "tests/output/session_samples.h"
#include "tests/output/text_grid_samples.h"
#include "tests/support/files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    using namespace tarvik;
    output_test::initMapsOnce();
    const std::string dir = std::string(argv[1]) + "/";
    output_test::useSessionSettings(dir);
    test_support::writeFile(dir + "ses_num.txt", "4");
    SequenceSynchronizer synchronizer(output_test::SAMPLE_FEATURES, 37);
    synchronizer.reset();
    for (const int frames : {250, 100}) {
        synchronizer.openSession();
        output_test::recordFrames(synchronizer, frames, frames);
        synchronizer.closeSession(true);
    }
    test_support::writeFile(dir + "manifest.tsv", dir + "load_files.praat\t250 100\n");
    return 0;
}
