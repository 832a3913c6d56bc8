#include "tests/app/process_samples.h"

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>

#include "tests/support/files.h"
#include "tests/support/wav_fixture.h"

namespace tarvik::app_test {

namespace fs = std::filesystem;

ProcessRun runProcess(const fs::path& dir, const std::string& binary, const std::string& args,
                      const std::string& before) {
    const std::string command =
        "cd '" + dir.string() + "' && " + before + " '" + binary + "' " + args + " 2>&1 </dev/null";
    ProcessRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void prepareWorkDir(const fs::path& dir) {
    const std::string golden = std::string(TARVIK_TEST_DATA) + "/golden/";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(golden + "media.norm", dir / "media.norm");
    fs::copy_file(golden + "media.am", dir / "media.am");
}

fs::path testWorkDir(const std::string& prefix) {
    const fs::path dir = fs::current_path() / (prefix + test_support::testName());
    prepareWorkDir(dir);
    return dir;
}

namespace {

// A canonical 16 kHz mono 16-bit file of `count` samples of one value.
std::vector<unsigned char> steady(int count) {
    auto bytes = test_support::wavHeader({}, static_cast<std::uint32_t>(2 * count));
    const auto data = test_support::sampleBytes(std::vector<int16_t>(count, 250));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// 319 samples and one byte more: read as one frame, not two.
std::vector<unsigned char> oddLength() {
    auto bytes = steady(319);
    bytes.push_back(0x7F);
    return bytes;
}

}  // namespace

// n samples make n / 160 frames; fewer than two frames give no code, and the
// TextGrid of no code spans nothing.
const std::vector<RecordingSample>& recordingSamples() {
    static const std::vector<RecordingSample> samples = {
        {"header only", steady(0), "0", 1},
        {"empty file", {}, "0", 1},
        {"159 samples", steady(159), "0", 1},
        {"one frame", steady(319), "0", 1},
        {"two frames", steady(320), "0.0175", 1},
        {"two frames, 399 samples", steady(399), "0.0175", 1},
        {"odd length", oddLength(), "0", 1},
        {"one second", steady(16000), "0.9975", 1},
    };
    return samples;
}

int writeManifest(int argc, char** argv, std::size_t count,
                  const std::function<ManifestRun(std::size_t i, const fs::path& dir)>& run) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    std::FILE* manifest = std::fopen((root / "manifest.tsv").c_str(), "w");
    if (manifest == nullptr) return 1;
    for (std::size_t i = 0; i < count; ++i) {
        const fs::path dir = root / std::to_string(i + 1);
        prepareWorkDir(dir);
        const ManifestRun done = run(i, dir);
        if (done.result.status != 0) {
            std::fprintf(stderr, "%s: exit status %d\n%s", done.name.c_str(), done.result.status,
                         done.result.output.c_str());
            std::fclose(manifest);
            return 1;
        }
        std::fprintf(manifest, "%s\t1\t%s\t%d\n", (dir / done.text_grid).c_str(), done.xmax.c_str(),
                     done.intervals);
    }
    return std::fclose(manifest) == 0 ? 0 : 1;
}

}  // namespace tarvik::app_test
