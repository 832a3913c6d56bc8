#include "app/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <streambuf>

namespace tarvik {

std::string systemError(int error_number) { return std::strerror(error_number); }

std::string fileKind(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
        case S_IFDIR:
            return "a directory";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFIFO:
            return "a pipe";
        case S_IFSOCK:
            return "a socket";
        case S_IFLNK:
            return "a symbolic link";
        default:
            return "not a regular file";
    }
}

// A read-only stream buffer over a file descriptor that it owns.
class InputFile::Buffer : public std::streambuf {
  public:
    explicit Buffer(int fd) : fd(fd), bytes(std::make_unique_for_overwrite<char[]>(BUFFER_BYTES)) {
        setg(start(), start(), start());
    }
    ~Buffer() override { ::close(fd); }

    int descriptor() const { return fd; }
    int readError() const { return read_error; }

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const ssize_t got = readSome(start(), BUFFER_BYTES);
        if (got <= 0) return traits_type::eof();
        setg(start(), start(), start() + got);
        return traits_type::to_int_type(*gptr());
    }

    // Large reads go straight into the caller's memory once the buffer is used up.
    std::streamsize xsgetn(char* out, std::streamsize count) override {
        if (count <= 0) return 0;
        std::streamsize done = std::min<std::streamsize>(count, egptr() - gptr());
        if (done > 0) std::memcpy(out, gptr(), static_cast<std::size_t>(done));
        gbump(static_cast<int>(done));
        while (done < count) {
            if (count - done < static_cast<std::streamsize>(BUFFER_BYTES)) {
                if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
                const std::streamsize some =
                    std::min<std::streamsize>(count - done, egptr() - gptr());
                std::memcpy(out + done, gptr(), static_cast<std::size_t>(some));
                gbump(static_cast<int>(some));
                done += some;
                continue;
            }
            const ssize_t got = readSome(out + done, static_cast<std::size_t>(count - done));
            if (got <= 0) break;
            done += got;
        }
        return done;
    }

    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode) override {
        const off_type unread = egptr() - gptr();
        if (from == std::ios_base::cur) {
            const off_t at = ::lseek(fd, 0, SEEK_CUR);
            if (at < 0) return pos_type(off_type(-1));
            if (offset == 0) return pos_type(at - unread);
            offset += at - unread;
            from = std::ios_base::beg;
        }
        const off_t at = ::lseek(fd, offset, from == std::ios_base::beg ? SEEK_SET : SEEK_END);
        if (at < 0) return pos_type(off_type(-1));
        setg(start(), start(), start());
        return pos_type(at);
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override {
        return seekoff(off_type(position), std::ios_base::beg, mode);
    }

  private:
    static constexpr std::size_t BUFFER_BYTES = 1 << 16;

    char* start() { return bytes.get(); }

    // One read(2), repeated when a signal interrupts it; the first error is kept.
    ssize_t readSome(char* out, std::size_t count) {
        if (read_error != 0) return -1;
        ssize_t got = 0;
        do {
            got = ::read(fd, out, count);
        } while (got < 0 && errno == EINTR);
        if (got < 0) read_error = errno;
        return got;
    }

    int fd;
    std::unique_ptr<char[]> bytes;  // not zeroed: only what a read fills is touched
    int read_error = 0;
};

InputFile::InputFile() : in(nullptr) {}

InputFile::~InputFile() = default;

bool InputFile::open(const std::string& path, bool regular_only) {
    in.rdbuf(nullptr);
    buffer.reset();
    open_failure.clear();
    // Not blocking: a pipe without a writer would hold the open until one comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        open_failure = systemError(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        open_failure = systemError(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(info.st_mode) || (regular_only && !S_ISREG(info.st_mode))) {
        open_failure = fileKind(info.st_mode) + ", not a regular file";
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    buffer = std::make_unique<Buffer>(fd);
    in.rdbuf(buffer.get());
    in.clear();
    return true;
}

std::int64_t InputFile::size() {
    if (!buffer) return -1;
    struct stat info {};
    if (::fstat(buffer->descriptor(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_size;
    const std::streampos back = in.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    const std::streampos end = in.rdbuf()->pubseekoff(0, std::ios_base::end, std::ios_base::in);
    if (back == std::streampos(-1) || end == std::streampos(-1)) {
        open_failure = info.st_mode != 0 ? fileKind(info.st_mode) + ", not a regular file"
                                         : "cannot be measured";
        return -1;
    }
    in.rdbuf()->pubseekpos(back, std::ios_base::in);
    return static_cast<std::int64_t>(end);
}

std::istream& InputFile::stream() { return in; }

bool InputFile::readFailed() const { return buffer && buffer->readError() != 0; }

std::string InputFile::failure() const {
    if (readFailed()) return "read error: " + systemError(buffer->readError());
    return open_failure;
}

}  // namespace tarvik
