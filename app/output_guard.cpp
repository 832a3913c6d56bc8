#include "app/output_guard.h"

#include <filesystem>

#include "app/input_file.h"
#include "frontend/recording_kind.h"

namespace tarvik {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// The kind of recording that the regular file at `path` begins with (an ID3 tag looked behind);
// empty for none, and for a file that cannot be read (its save fails on its own).
std::string heldRecording(const std::string& path) {
    InputFile file;
    if (!file.open(path, true)) return {};
    return recordingKindOf(file.stream());
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
