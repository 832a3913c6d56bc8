// A file written whole or not at all: which paths are replaced through a temporary file, which
// are written directly, what is refused and why, and what a signal leaves behind.
#include "output/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::writeFile;

const std::string OLD = "the previous file";
const std::string NEW = "the new file\n";

// The names in `dir` that begin with a dot: temporary files.
std::vector<std::string> temporaries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') names.push_back(name);
    }
    return names;
}

// ".tarvik-" and six lower-case letters or digits.
bool temporaryName(const std::string& name) {
    const std::string prefix = ".tarvik-";
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

// Opens `path`, writes NEW and commits; the failure text, "" on success.
std::string save(const std::string& path) {
    ReplacingFile file;
    if (!file.open(path)) return "open: " + file.failure();
    file.write(NEW);
    if (!file.commit()) return "commit: " + file.failure();
    return file.failure();
}

TEST(ReplacingFile, PathsAreReplacedWrittenOrRefusedWithTheReason) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);  // in the case's folder, which is the working one
        std::string path;
        std::string result;   // what save gives
        std::string written;  // the file that must hold NEW; empty: none
    };
    const std::string long_name(255, 'n');
    const std::vector<Case> cases = {
        {"a new file", nullptr, "out.TextGrid", "", "out.TextGrid"},
        {"an existing file", [](const fs::path& d) { writeFile(d / "out.TextGrid", OLD); },
         "out.TextGrid", "", "out.TextGrid"},
        {"a file in a folder", [](const fs::path& d) { fs::create_directory(d / "sub"); },
         "sub/out.TextGrid", "", "sub/out.TextGrid"},
        {"a link to a file: the file",
         [](const fs::path& d) {
             fs::create_directory(d / "grids");
             writeFile(d / "grids" / "real.TextGrid", OLD);
             fs::create_symlink("grids/real.TextGrid", d / "link.TextGrid");
         },
         "link.TextGrid", "", "grids/real.TextGrid"},
        {"a link to a link in another folder, relative to its own folder",
         [](const fs::path& d) {
             fs::create_directories(d / "a" / "b");
             writeFile(d / "a" / "b" / "real.TextGrid", OLD);
             fs::create_symlink("b/real.TextGrid", d / "a" / "inner");
             fs::create_symlink("a/inner", d / "outer");
         },
         "outer", "", "a/b/real.TextGrid"},
        {"a dangling link: the file it names is made",
         [](const fs::path& d) { fs::create_symlink("made.TextGrid", d / "dangling"); }, "dangling",
         "", "made.TextGrid"},
        {"a name of 255 bytes", nullptr, long_name, "", long_name},
        {"/dev/null, written directly", nullptr, "/dev/null", "", ""},
        {"a directory", [](const fs::path& d) { fs::create_directory(d / "out.TextGrid"); },
         "out.TextGrid", "open: Is a directory", ""},
        {"a missing folder", nullptr, "nodir/out.TextGrid", "open: No such file or directory", ""},
        {"a file as a folder", [](const fs::path& d) { writeFile(d / "file", OLD); },
         "file/out.TextGrid", "open: Not a directory", ""},
        {"a name of 256 bytes", nullptr, std::string(256, 'n'), "open: File name too long", ""},
        {"a missing name with a slash after it", nullptr, "new/", "open: Is a directory", ""},
        {"a loop of links",
         [](const fs::path& d) {
             fs::create_symlink("b", d / "a");
             fs::create_symlink("a", d / "b");
         },
         "a", "open: Too many levels of symbolic links", ""},
        {"a full device", nullptr, "/dev/full", "commit: No space left on device", ""},
    };
    const fs::path start = fs::current_path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = fs::absolute(test_support::scratchDir("replacing_"));
        fs::current_path(dir);
        if (c.prepare != nullptr) c.prepare(dir);
        EXPECT_EQ(save(c.path), c.result);
        if (!c.written.empty()) {
            EXPECT_EQ(readFile(dir / c.written), NEW);
        }
        if (c.path == "link.TextGrid" || c.path == "outer" || c.path == "dangling") {
            EXPECT_TRUE(fs::is_symlink(dir / c.path));
        }
        if (c.path == "out.TextGrid" && !c.result.empty()) {
            EXPECT_TRUE(fs::is_directory(dir / c.path));
            EXPECT_TRUE(fs::is_empty(dir / c.path));
        }
        if (c.path == "file/out.TextGrid") {
            EXPECT_EQ(readFile(dir / "file"), OLD);
        }
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
        fs::current_path(start);
    }
}

TEST(ReplacingFile, TheTemporaryFileHasAShortNameOfFixedLengthAndLivesUntilTheCommit) {
    const fs::path dir = test_support::scratchDir("replacing_");
    for (const std::string& name : {std::string("o"), std::string(255, 'n')}) {
        writeFile(dir / name, OLD);
        ReplacingFile file;
        ASSERT_TRUE(file.open((dir / name).string()));
        EXPECT_TRUE(file.replaces());
        file.write(NEW);
        const std::vector<std::string> open = temporaries(dir);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_TRUE(temporaryName(open[0])) << open[0];
        EXPECT_EQ(readFile(dir / name), OLD);
        ASSERT_TRUE(file.commit());
        EXPECT_EQ(readFile(dir / name), NEW);
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    }
}

TEST(ReplacingFile, DiscardOrAFailedWriteLeavesThePreviousFile) {
    const fs::path dir = test_support::scratchDir("replacing_");
    writeFile(dir / "out", OLD);
    {
        ReplacingFile file;
        ASSERT_TRUE(file.open((dir / "out").string()));
        file.write(NEW);
        file.discard();
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(file.failure(), "not open");
    }
    {
        ReplacingFile file;  // destroyed without a commit
        ASSERT_TRUE(file.open((dir / "out").string()));
        file.write(NEW);
    }
    EXPECT_EQ(readFile(dir / "out"), OLD);
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
}

TEST(ReplacingFile, AFileNearTheLongestPathIsReplaced) {
    // A path of 4095 bytes, the longest that PATH_MAX (4096 with the terminating zero) allows,
    // whose name of 8 bytes is shorter than the temporary file's: the temporary file's path
    // would not fit.
    const fs::path dir = test_support::scratchDir("replacing_");
    const std::string name = "/ffffffff";
    const std::size_t folder_length = 4095 - name.size();
    std::string folder = dir.string();
    while (folder_length - folder.size() > 202) folder += "/" + std::string(200, 'd');
    folder += "/" + std::string(folder_length - folder.size() - 1, 'd');
    fs::create_directories(folder);
    const std::string path = folder + name;
    ASSERT_EQ(path.size(), 4095u);
    writeFile(path, OLD);
    EXPECT_EQ(save(path), "");
    EXPECT_EQ(readFile(path), NEW);
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
}

TEST(ReplacingFile, AReplacedFileKeepsItsPermissions) {
    const fs::path dir = test_support::scratchDir("replacing_");
    for (const fs::perms mode :
         {fs::perms(0640), fs::perms(0600), fs::perms(0604), fs::perms(02664)}) {
        writeFile(dir / "out", OLD);
        fs::permissions(dir / "out", mode);
        const mode_t umask_before = ::umask(077);
        EXPECT_EQ(save((dir / "out").string()), "");
        ::umask(umask_before);
        EXPECT_EQ(fs::status(dir / "out").permissions(), mode);
    }
}

TEST(ReplacingFile, AsRootAReplacedFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    const fs::path dir = test_support::scratchDir("replacing_");
    writeFile(dir / "out", OLD);
    ASSERT_EQ(::chown((dir / "out").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod((dir / "out").c_str(), 0600), 0);
    EXPECT_EQ(save((dir / "out").string()), "");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "out").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(dir / "out"), NEW);
}

TEST(ReplacingFile, AFileThisUserCouldNotWriteIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    const fs::path dir = test_support::scratchDir("replacing_");
    writeFile(dir / "read_only", OLD);
    fs::permissions(dir / "read_only", fs::perms(0444));
    EXPECT_EQ(save((dir / "read_only").string()), "open: Permission denied");
    EXPECT_EQ(readFile(dir / "read_only"), OLD);
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms(0555));
    EXPECT_EQ(save((dir / "locked" / "new").string()),
              "open: cannot create a temporary file beside it: Permission denied");
    fs::permissions(dir / "locked", fs::perms(0755));
}

// Runs `body` in a child process; its exit status, or 128 + the signal that ended it.
int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(ReplacingFile, DescriptorPathsAndTheFileOnStandardOutputAreWrittenWhereTheyStand) {
    const fs::path dir = fs::absolute(test_support::scratchDir("replacing_"));
    const std::string log = (dir / "log.txt").string();
    struct Case {
        const char* name;
        int descriptor;    // the log is opened for appending on this descriptor
        std::string path;  // "@" stands for the log's path
    };
    const std::vector<Case> cases = {
        {"/dev/fd/N", 5, "/dev/fd/5"},
        {"/proc/self/fd/N", 6, "/proc/self/fd/6"},
        {"/dev/stdout", 1, "/dev/stdout"},
        {"/dev/stderr", 2, "/dev/stderr"},
        {"the file on standard output", 1, "@"},
        {"the file on standard error", 2, "@"},
        {"a link to the file on standard output", 1, "link"},
    };
    fs::create_symlink(log, dir / "link");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(log, "earlier\n");
        const std::string path = c.path == "@"      ? log
                                 : c.path == "link" ? (dir / "link").string()
                                                    : c.path;
        const int status = inChild([&] {
            const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
            if (fd < 0 || ::dup2(fd, c.descriptor) < 0) return 10;
            ReplacingFile file;
            if (!file.open(path) || file.replaces()) return 11;
            file.write(NEW);
            return file.commit() ? 0 : 12;
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(readFile(log), "earlier\n" + NEW);
        EXPECT_TRUE(fs::is_symlink(dir / "link"));
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    }
    EXPECT_EQ(save("/dev/fd/99"), "open: Bad file descriptor");
}

TEST(ReplacingFile, TheSignalsThatEndARunRemoveTheTemporaryFiles) {
    const fs::path dir = fs::absolute(test_support::scratchDir("replacing_"));
    for (const int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
                             SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF}) {
        SCOPED_TRACE(strsignal(number));
        writeFile(dir / "a", OLD);
        const int status = inChild([&] {
            ::signal(number, SIG_DFL);
            ReplacingFile first;
            ReplacingFile second;  // as tarvik_frames writes two
            if (!first.open((dir / "a").string()) || !second.open((dir / "b").string())) return 10;
            first.write(NEW);
            if (temporaries(dir).size() != 2) return 11;
            ::raise(number);
            return 12;
        });
        EXPECT_EQ(status, 128 + number);
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
        EXPECT_EQ(readFile(dir / "a"), OLD);
        EXPECT_FALSE(fs::exists(dir / "b"));
    }
}

TEST(ReplacingFile, AnIgnoredSignalStaysIgnoredAndTheHandlersGoWithTheLastTemporaryFile) {
    const fs::path dir = fs::absolute(test_support::scratchDir("replacing_"));
    const int status = inChild([&] {
        ::signal(SIGHUP, SIG_IGN);
        ReplacingFile file;
        if (!file.open((dir / "out").string())) return 10;
        ::raise(SIGHUP);
        file.write(NEW);
        if (!file.commit()) return 11;
        struct sigaction hup {};
        struct sigaction term {};
        ::sigaction(SIGHUP, nullptr, &hup);
        ::sigaction(SIGTERM, nullptr, &term);
        return hup.sa_handler == SIG_IGN && term.sa_handler == SIG_DFL ? 0 : 12;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(dir / "out"), NEW);
}

}  // namespace
}  // namespace tarvik
