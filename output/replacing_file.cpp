#include "output/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace tarvik {

namespace {

namespace fs = std::filesystem;

constexpr int TEMPORARY_ATTEMPTS = 100;

// Creates a new, empty file beside `target` with the permissions `mode` (less the umask, when
// `mode` is 0666) and returns its path; empty when none could be created.
std::string createTemporary(const fs::path& target, mode_t mode, bool keep_mode) {
    static unsigned serial = 0;
    const fs::path folder = target.parent_path();
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        const std::string name = "." + target.filename().string() + "." + std::to_string(getpid()) +
                                 "." + std::to_string(serial++) + ".tmp";
        const std::string path = (folder / name).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        // An existing file's permissions are kept whatever the umask says.
        const bool moded = !keep_mode || ::fchmod(fd, mode) == 0;
        if (::close(fd) != 0 || !moded) {
            ::unlink(path.c_str());
            return {};
        }
        return path;
    }
    return {};
}

// Flushes the file's data to the disk.
bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

}  // namespace

ReplacingFile::ReplacingFile(const std::string& path) : target(path) {
    std::error_code error;
    const fs::file_status link = fs::symlink_status(path, error);
    const fs::file_status status = fs::status(path, error);
    const bool absent = status.type() == fs::file_type::not_found;
    const bool dangling = absent && fs::is_symlink(link);
    if (fs::is_regular_file(status) || (absent && !dangling)) {
        if (fs::is_symlink(link)) {
            const fs::path named = fs::canonical(path, error);
            if (error) {
                out.open(path);
                return;
            }
            target = named.string();
        }
        struct stat info {};
        const bool exists = !absent && ::stat(target.c_str(), &info) == 0;
        temporary = createTemporary(target, exists ? (info.st_mode & 07777) : 0666, exists);
        if (!temporary.empty()) out.open(temporary, std::ios::out | std::ios::trunc);
        return;
    }
    out.open(path);
}

ReplacingFile::~ReplacingFile() {
    if (!temporary.empty()) discard();
}

void ReplacingFile::discard() {
    if (out.is_open()) out.close();
    ::unlink(temporary.c_str());
    temporary.clear();
}

bool ReplacingFile::commit() {
    if (!out.is_open()) return false;
    // A write that failed (a full disk) leaves the stream failed, as does a failed close.
    const bool written = out.good();
    out.close();
    if (!written || out.fail()) {
        if (!temporary.empty()) discard();
        return false;
    }
    if (temporary.empty()) return true;
    if (!syncFile(temporary) || std::rename(temporary.c_str(), target.c_str()) != 0) {
        discard();
        return false;
    }
    temporary.clear();
    return true;
}

}  // namespace tarvik
