#include "tests/fuzz/fuzz_input.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace tarvik::fuzz {

namespace {

void removeScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDir(), ignored);
}

std::string makeScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarvik-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
    return std::string(name.data()) + "/";
}

}  // namespace

const std::string& scratchDir() {
    // Never destroyed: removeScratchDir reads it at exit, after static destructors may have run.
    static const std::string& dir = *new std::string(makeScratchDir());
    static const bool removed_at_exit = std::atexit(removeScratchDir) == 0;
    (void)removed_at_exit;
    return dir;
}

std::string writeInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchDir() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

}  // namespace tarvik::fuzz
