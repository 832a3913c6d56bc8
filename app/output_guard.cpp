#include "app/output_guard.h"

#include <filesystem>
#include <fstream>

#include "frontend/recording_kind.h"

namespace tarvik {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// The kind of recording that the regular file at `path` begins with; empty for none.
std::string heldRecording(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return {};
    std::ifstream file(path, std::ios::binary);
    unsigned char start[RECORDING_MAGIC_BYTES];
    file.read(reinterpret_cast<char*>(start), sizeof start);
    return recordingKind(start, static_cast<std::size_t>(file.gcount()));
}

}  // namespace

std::string outputRefusal(const std::string& output_path, const std::string& input_path,
                          const std::vector<std::string>& model_paths) {
    if (sameFile(output_path, input_path)) {
        return "ERROR: output is the input recording: " + output_path;
    }
    for (const std::string& model : model_paths) {
        if (sameFile(output_path, model)) {
            return "ERROR: output is the model file " + model + ": " + output_path;
        }
    }
    const std::string kind = heldRecording(output_path);
    if (!kind.empty()) {
        return "ERROR: output holds a recording (" + kind + "), not replaced: " + output_path;
    }
    return {};
}

}  // namespace tarvik
