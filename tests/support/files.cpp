#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace tarvik::test_support {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    writeFile(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::string utf16(const std::string& text, bool little_endian) {
    std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
    return bytes;
}

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

std::string scratchFile(const std::string& suffix) { return testName() + suffix; }

std::filesystem::path scratchDir(const std::string& prefix) {
    const std::filesystem::path dir = prefix + testName();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace tarvik::test_support
