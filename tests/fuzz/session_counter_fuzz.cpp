// SequenceSynchronizer::openSession on a session counter file "ses_num.txt", then a short session
// and closeSession, which writes the counter back.
#include <filesystem>

#include "app/settings.h"
#include "output/label_table.h"
#include "output/sequence_synchronizer.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

bool setUp() {
    tarvik::initMaps();
    tarvik::ses_num_dir = tarvik::fuzz::scratchDir();
    tarvik::out_prefix = tarvik::fuzz::scratchDir();
    tarvik::write_text_grid = true;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    static const bool ready = setUp();
    if (!ready) return -1;
    // Each session number names files of its own: leave none behind.
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::scratchDir())) {
        std::filesystem::remove_all(entry.path());
    }
    fuzz::writeInput("ses_num.txt", data, size);
    SequenceSynchronizer synchronizer(39, 37);
    synchronizer.reset();
    synchronizer.openSession();
    for (int k = 0; k < 3; ++k) {
        synchronizer.addSpeechDet(k > 0, k > 1, true);
        synchronizer.addSpeechPost(0.25 * k);
    }
    synchronizer.closeSession(true);
    return 0;
}
