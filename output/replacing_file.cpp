#include "output/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iterator>

#include "app/input_file.h"

namespace tarvik {

namespace {

constexpr std::size_t BUFFER_BYTES = 1 << 16;
constexpr int TEMPORARY_ATTEMPTS = 100;
constexpr int MAX_LINK_HOPS = 40;  // as the kernel follows them

// The temporary file's name: ".tarvik-" and six letters or digits.
constexpr char TEMPORARY_PREFIX[] = ".tarvik-";
constexpr std::size_t TEMPORARY_NAME_BYTES = sizeof TEMPORARY_PREFIX - 1 + 6;

// The signals whose default action ends the process, and that a user or the system sends to end
// a run (SIGKILL and SIGSTOP cannot be caught; SIGSEGV and the like are faults, not requests).
constexpr int CLEANUP_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,   SIGALRM,
                                   SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};
constexpr std::size_t SIGNAL_COUNT = std::size(CLEANUP_SIGNALS);

// The temporary files that a signal removes. Changed only with the signals held, read by the
// handler.
struct PendingTemporary {
    volatile std::sig_atomic_t used = 0;
    int folder = -1;
    char name[TEMPORARY_NAME_BYTES + 1] = {};
};
constexpr int PENDING_SLOTS = 8;
PendingTemporary pending[PENDING_SLOTS];
int pending_count = 0;
struct sigaction previous_actions[SIGNAL_COUNT];
volatile std::sig_atomic_t handler_installed[SIGNAL_COUNT];

sigset_t cleanupSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : CLEANUP_SIGNALS) sigaddset(&set, number);
    return set;
}

// Removes every pending temporary file, puts back what the signal did before and raises it
// again, so that the run ends as the signal says (its exit status included).
extern "C" void removePendingTemporaries(int number) {
    const int saved_errno = errno;
    for (const PendingTemporary& entry : pending) {
        if (entry.used != 0) ::unlinkat(entry.folder, entry.name, 0);
    }
    for (std::size_t i = 0; i < SIGNAL_COUNT; ++i) {
        if (CLEANUP_SIGNALS[i] == number && handler_installed[i] != 0) {
            ::sigaction(number, &previous_actions[i], nullptr);
            handler_installed[i] = 0;
        }
    }
    ::raise(number);
    errno = saved_errno;
}

void installHandlers() {
    struct sigaction action {};
    action.sa_handler = removePendingTemporaries;
    action.sa_mask = cleanupSignals();
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < SIGNAL_COUNT; ++i) {
        struct sigaction current {};
        if (::sigaction(CLEANUP_SIGNALS[i], nullptr, &current) != 0) continue;
        // An ignored signal (nohup, SIGPIPE in tarvik) stays ignored: it ends no run.
        if (current.sa_handler == SIG_IGN) continue;
        previous_actions[i] = current;
        if (::sigaction(CLEANUP_SIGNALS[i], &action, nullptr) == 0) handler_installed[i] = 1;
    }
}

void restoreHandlers() {
    for (std::size_t i = 0; i < SIGNAL_COUNT; ++i) {
        if (handler_installed[i] == 0) continue;
        ::sigaction(CLEANUP_SIGNALS[i], &previous_actions[i], nullptr);
        handler_installed[i] = 0;
    }
}

// Holds the cleanup signals back for its lifetime: a signal that comes meanwhile is handled
// afterwards, when the list of pending temporary files and the file system agree again.
class SignalsHeld {
  public:
    SignalsHeld() {
        const sigset_t set = cleanupSignals();
        ::sigprocmask(SIG_BLOCK, &set, &before);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t before;
};

// With the signals held: enters a temporary file; its slot, or -1 when every slot is taken.
int addPending(int folder, const std::string& name) {
    for (int slot = 0; slot < PENDING_SLOTS; ++slot) {
        if (pending[slot].used != 0) continue;
        if (pending_count++ == 0) installHandlers();
        pending[slot].folder = folder;
        std::memcpy(pending[slot].name, name.c_str(), name.size() + 1);
        pending[slot].used = 1;
        return slot;
    }
    return -1;
}

// With the signals held: removes the entry of `slot`.
void dropPending(int slot) {
    if (slot < 0) return;
    pending[slot].used = 0;
    if (--pending_count == 0) restoreHandlers();
}

// A name that no file beside the target is likely to have: six base-36 digits of a hash of the
// process, the time and a count.
std::string temporaryName() {
    static std::uint64_t count = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t x =
        (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
        (static_cast<std::uint64_t>(now.tv_sec) << 20) ^ (++count * 0x9E3779B97F4A7C15ULL);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    static constexpr char DIGITS[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = TEMPORARY_PREFIX;
    for (int i = 0; i < 6; ++i, x /= 36) name += DIGITS[x % 36];
    return name;
}

// The descriptor that a descriptor path names (/dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, /proc/<this process>/fd/N); -1 for any other path.
int descriptorNumber(const std::string& path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& prefix :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), own}) {
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
        long number = 0;
        for (std::size_t i = prefix.size(); i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9' || number > INT_MAX / 10) return -1;
            number = number * 10 + (path[i] - '0');
        }
        return number <= INT_MAX ? static_cast<int>(number) : -1;
    }
    return -1;
}

// The folder part of a path ("" for a bare name, "/" for a name in the root).
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

ReplacingFile::~ReplacingFile() { discard(); }

bool ReplacingFile::fail(std::string reason) {
    if (!failed) failure_text = std::move(reason);
    failed = true;
    return false;
}

bool ReplacingFile::open(const std::string& path) {
    discard();
    failed = false;
    failure_text.clear();
    std::string current = path;
    struct stat info {};
    for (int hop = 0;; ++hop) {
        const int number = descriptorNumber(current);
        if (number >= 0) return openDirect(::fcntl(number, F_DUPFD_CLOEXEC, 3), false);
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return fail(systemError(errno));
            return openTemporary(current, nullptr);
        }
        if (!S_ISLNK(info.st_mode)) break;
        if (hop == MAX_LINK_HOPS) return fail(systemError(ELOOP));
        char link[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
        if (length < 0) return fail(systemError(errno));
        if (static_cast<std::size_t>(length) == sizeof link) return fail(systemError(ENAMETOOLONG));
        const std::string named(link, static_cast<std::size_t>(length));
        const std::string folder_path = folderOf(current);
        if (named.front() == '/' || folder_path.empty()) {
            current = named;
        } else {
            current = folder_path + (folder_path == "/" ? "" : "/") + named;
        }
    }
    if (S_ISDIR(info.st_mode)) return fail(systemError(EISDIR));
    if (!S_ISREG(info.st_mode)) {
        const int device = ::open(current.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (device < 0) return fail(systemError(errno));
        return openDirect(device, true);
    }
    // The file that standard output or standard error writes: written through that descriptor,
    // after what it holds, never renamed over (a log must keep its earlier lines).
    for (int standard : {1, 2}) {
        struct stat open_file {};
        if (::fstat(standard, &open_file) == 0 && sameFile(open_file, info)) {
            return openDirect(::fcntl(standard, F_DUPFD_CLOEXEC, 3), false);
        }
    }
    return openTemporary(current, &info);
}

bool ReplacingFile::openDescriptor(int descriptor) {
    discard();
    failed = false;
    failure_text.clear();
    return openDirect(::fcntl(descriptor, F_DUPFD_CLOEXEC, 3), false);
}

bool ReplacingFile::openDirect(int descriptor, bool opened_here) {
    if (descriptor < 0) return fail(systemError(errno));
    fd = descriptor;
    owned = opened_here;
    return true;
}

bool ReplacingFile::openTemporary(const std::string& target, const struct stat* existing) {
    const std::size_t slash = target.rfind('/');
    target_name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (target_name.empty() || target_name == "." || target_name == "..") {
        return fail(systemError(EISDIR));
    }
    // Renaming needs no permission on the file itself: one that could not be written in place
    // is refused, as a plain write would refuse it.
    if (existing != nullptr && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return fail(systemError(errno));
    }
    const std::string folder_path = slash == std::string::npos ? "." : folderOf(target);
    folder = ::open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return fail(systemError(errno));
    // An existing file's permissions are kept whatever the umask says; a new one gets 0666 less
    // the umask, as any new file.
    const mode_t mode = existing != nullptr ? (existing->st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS && fd < 0; ++attempt) {
        const SignalsHeld held;
        const std::string name = temporaryName();
        const int created = ::openat(folder, name.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (created < 0) {
            if (errno == EEXIST) continue;
            return fail("cannot create a temporary file beside it: " + systemError(errno));
        }
        fd = created;
        owned = true;
        temporary = name;
        slot = addPending(folder, name);
    }
    if (fd < 0) return fail("cannot create a temporary file beside it: " + systemError(EEXIST));
    if (existing == nullptr) return true;
    // The owner and the group of the file replaced, where the process may give them (root may;
    // another user may give a group it belongs to). Set before the mode, which a change of owner
    // may strip of its set-user-ID and set-group-ID bits.
    if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) {
        if (::fchown(fd, existing->st_uid, existing->st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
            // Neither: the file becomes this user's, as any file this user writes.
        }
    }
    if (::fchmod(fd, mode) != 0) {
        const int error = errno;
        discard();
        return fail("cannot give the temporary file the permissions of the file: " +
                    systemError(error));
    }
    return true;
}

bool ReplacingFile::writeOut(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(systemError(errno));
        }
        if (written == 0) return fail(systemError(ENOSPC));
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReplacingFile::flushBuffer() {
    const bool written = writeOut(buffer.data(), buffer.size());
    buffer.clear();
    return written;
}

bool ReplacingFile::write(const void* data, std::size_t size) {
    if (fd < 0 || failed) return false;
    const char* bytes = static_cast<const char*>(data);
    if (buffer.size() + size > BUFFER_BYTES) {
        if (!flushBuffer()) return false;
        if (size >= BUFFER_BYTES) return writeOut(bytes, size);
    }
    if (buffer.capacity() < BUFFER_BYTES) buffer.reserve(BUFFER_BYTES);
    buffer.insert(buffer.end(), bytes, bytes + size);
    return true;
}

bool ReplacingFile::commit() {
    if (fd < 0) {
        if (!failed) fail("not open");
        return false;
    }
    if (!failed) flushBuffer();
    if (failed) {
        discard();
        return false;
    }
    if (temporary.empty()) {
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0 && errno != EINTR) return fail(systemError(errno));
        return true;
    }
    // A file system that cannot sync (EINVAL) has nothing more to do.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
        const int error = errno;
        discard();
        return fail("cannot flush it to the disk: " + systemError(error));
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0 && errno != EINTR) {
        const int error = errno;
        discard();
        return fail(systemError(error));
    }
    {
        const SignalsHeld held;
        if (::renameat(folder, temporary.c_str(), folder, target_name.c_str()) != 0) {
            const int error = errno;
            removeTemporary();
            discard();
            return fail("cannot rename the temporary file over it: " + systemError(error));
        }
        dropPending(slot);
        slot = -1;
        temporary.clear();
    }
    ::close(folder);
    folder = -1;
    return true;
}

void ReplacingFile::removeTemporary() {
    if (temporary.empty()) return;
    const SignalsHeld held;
    ::unlinkat(folder, temporary.c_str(), 0);
    dropPending(slot);
    slot = -1;
    temporary.clear();
}

void ReplacingFile::discard() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    removeTemporary();
    if (folder >= 0) ::close(folder);
    folder = -1;
    buffer.clear();
}

}  // namespace tarvik
