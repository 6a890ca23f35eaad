// Shared work files: load-change-save cycles of threads and processes together, whole-file
// rewrites that leave the old or the new content, and readers that never disturb a writer's lock.
#include "os_shared_file_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "concurrency.h"
#include "file_probe.h"
#include "testbed.h"

using file_probe::bits_of;
using file_probe::in_child;
using file_probe::lock_seen_from_outside;
using testbed::AgentHomeTest;

namespace {

using SharedFile = AgentHomeTest;

// Names in a folder that start with a prefix (temporary files left behind), sorted.
std::vector<std::string> entries_named_from(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int entries_starting_with(const std::string& dir, const std::string& prefix) {
    return static_cast<int>(entries_named_from(dir, prefix).size());
}

// Sets a file's times that many minutes back.
void age_by_minutes(const std::string& path, int minutes) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= minutes * 60;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// One load-change-save cycle on a counter file.
bool increment(const std::string& path, const os_shared::Options& options) {
    os_shared::FileLock lock(path, options);
    if (!lock) return false;
    std::string text;
    if (lock.exists() && lock.read(text) != CM_RC_OK) return false;
    const long value = text.empty() ? 0 : std::stol(text);
    return lock.rewrite(std::to_string(value + 1)) == CM_RC_OK;
}

// Every worker starts on files that are missing, so the first cycles race to create them.
TEST_F(SharedFile, CyclesOfThreadsAndProcessesTogetherLoseNoUpdate) {
    struct Case {
        const char* name;
        bool lock_file;
    } cases[] = {{"data file locked itself", false}, {"separate lock file", true}};
    constexpr int kProcesses = 2, kThreads = 8, kEach = 10, kFiles = 5;
    for (const Case& c : cases) {
        auto path = [&](int file) {
            return std::string("data/counter_") + (c.lock_file ? "b" : "a") + std::to_string(file) + ".dat";
        };
        auto options = [&](int file) {
            os_shared::Options options;
            if (c.lock_file) options.lock_file = "temp/counter_" + std::to_string(file) + ".lock";
            return options;
        };
        EXPECT_TRUE(testbed::run_in_threads_and_processes(kProcesses, kThreads, [&](int, int) {
            for (int i = 0; i < kEach; ++i)
                if (!increment(path(i % kFiles), options(i % kFiles))) return false;
            return true;
        })) << c.name;
        for (int file = 0; file < kFiles; ++file) {
            EXPECT_EQ(home.read_file(path(file)), std::to_string(kProcesses * kThreads * kEach / kFiles)) << c.name;
            EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path(file))), 0) << c.name;
        }
    }
}

TEST_F(SharedFile, ReadersNeverFindAFileEmptyWhileItIsMade) {
    const std::string path = "data/fresh.dat", done = "data/fresh.done";
    // One writer removes and writes the file again and again; readers in its process and in another
    // find it missing or whole.
    EXPECT_TRUE(testbed::run_in_threads_and_processes(2, 2, [&](int process, int thread) {
        if (process == 0 && thread == 0) {
            bool ok = true;
            for (int i = 0; i < 100 && ok; ++i)
                ok = os_shared::remove_file(path) == CM_RC_OK && os_shared::write_file(path, "content") == CM_RC_OK;
            ::close(::open(done.c_str(), O_WRONLY | O_CREAT, 0600));
            return ok;
        }
        for (long reads = 0; ::access(done.c_str(), F_OK) != 0 && reads < 10000000; ++reads) {
            std::string text;
            const CM_RC rc = os_shared::read_file(path, text);
            if (rc == CM_RC_OK ? text != "content" : rc != CM_RC_OPEN_FAILED) return false;
        }
        return true;
    }));
}

TEST_F(SharedFile, HolderThatRemovedTheFileKeepsTheOneAnotherMadeMeanwhile) {
    const std::string path = "data/gone.dat";
    home.write_file(path, "first");
    int go[2], done[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t other = fork();
    if (other == 0) {
        char byte;
        const bool ok = read(go[0], &byte, 1) == 1 && os_shared::write_file(path, "theirs") == CM_RC_OK;
        _exit(ok && write(done[1], "d", 1) == 1 ? 0 : 1);
    }
    os_shared::FileLock lock(path);
    ASSERT_TRUE(lock);
    ASSERT_EQ(lock.remove(), CM_RC_OK);
    char byte = 0;
    ASSERT_EQ(write(go[1], "g", 1), 1);
    ASSERT_EQ(read(done[0], &byte, 1), 1);  // the other process made the file while this one held its lock
    EXPECT_EQ(lock.rewrite("mine"), CM_RC_CREATE_FAILED);
    lock.release();
    EXPECT_EQ(home.read_file(path), "theirs");
    int status = 0;
    EXPECT_EQ(waitpid(other, &status, 0), other);
}

TEST_F(SharedFile, NextWriterRemovesTheOldTemporaryFilesOfKilledWriters) {
    struct Case {
        const char* name;
        const char* lock_file;
    } cases[] = {{"data file locked itself", ""}, {"separate lock file", "temp/accounts.lock"}};
    for (const Case& c : cases) {
        const std::string path = std::string("data/accounts_") + (c.lock_file[0] ? "b" : "a") + ".dat";
        os_shared::Options options;
        options.lock_file = c.lock_file;
        home.write_file(path, "old");
        // Writers killed in the middle of a rewrite: the file-size limit ends them (SIGXFSZ) as they
        // write their temporary file.
        for (int writer = 0; writer < 3; ++writer)
            ASSERT_EQ(in_child([&] {
                          struct rlimit no_core {
                              0, 0
                          }, limit{1000, 1000};
                          if (setrlimit(RLIMIT_CORE, &no_core) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
                          return os_shared::write_file(path, std::string(5000, 'n'), options);
                      }),
                      255)
                << c.name;
        std::vector<std::string> left = entries_named_from("data", os_shared::temp_prefix(path));
        ASSERT_EQ(left.size(), 3u) << c.name;
        EXPECT_EQ(home.read_file(path), "old") << c.name;
        // Two are from long ago, one is fresh; a temporary file of another file is old too.
        const std::string others = "data/" + os_shared::temp_prefix("data/other.dat") + "Abc123";
        home.write_file(others, "other");
        for (const std::string& old : {"data/" + left[0], "data/" + left[1], others}) age_by_minutes(old, 10);
        ASSERT_EQ(os_shared::write_file(path, "new", options), CM_RC_OK) << c.name;
        EXPECT_EQ(home.read_file(path), "new") << c.name;
        EXPECT_EQ(entries_named_from("data", os_shared::temp_prefix(path)), std::vector<std::string>{left[2]})
            << c.name;
        EXPECT_TRUE(home.exists(others)) << c.name;
    }
}

// Looking for stale temporary files reads the whole folder, so a process does it at a file's
// first rewrite and then not again for a few minutes; each file of the folder has its own turn.
TEST_F(SharedFile, AProcessLooksForAFilesStaleTemporaryFilesAtItsFirstRewriteThenEveryFewMinutes) {
    const std::string first = "data/first.dat", second = "data/second.dat";
    const std::string stale_of_first = "data/" + os_shared::temp_prefix(first) + "Abc123";
    const std::string stale_of_second = "data/" + os_shared::temp_prefix(second) + "Abc123";
    ASSERT_EQ(os_shared::write_file(first, "1"), CM_RC_OK);
    for (const std::string& stale : {stale_of_first, stale_of_second}) {
        home.write_file(stale, "left by a killed writer");
        age_by_minutes(stale, 10);
    }
    ASSERT_EQ(os_shared::write_file(first, "2"), CM_RC_OK);
    EXPECT_TRUE(home.exists(stale_of_first));
    ASSERT_EQ(os_shared::write_file(second, "3"), CM_RC_OK);
    EXPECT_FALSE(home.exists(stale_of_second));
    EXPECT_TRUE(home.exists(stale_of_first));
    EXPECT_EQ(home.read_file(first), "2");
    EXPECT_EQ(home.read_file(second), "3");
}

TEST_F(SharedFile, RewriteGivesTheNewFileTheOldBitsUnlessToldOtherwise) {
    struct Case {
        const char* name;
        int existing_bits;  // -1: no file yet
        os_shared::Options options;
        mode_t expected;
    } cases[] = {
        {"existing file keeps its bits", 0640, {}, 0640},
        {"bits added to the old ones", 0600, {0644, 0644, false, ""}, 0644},
        {"forced bits", 0600, {0764, 0, true, ""}, 0764},
        {"new file gets new_mode exactly", -1, {0744, 0, false, ""}, 0744},
    };
    for (const Case& c : cases) {
        const std::string path = "data/bits.dat";
        ::unlink(path.c_str());
        if (c.existing_bits >= 0) {
            home.write_file(path, "old");
            ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.existing_bits)), 0);
        }
        ASSERT_EQ(os_shared::write_file(path, "new content", c.options), CM_RC_OK) << c.name;
        EXPECT_EQ(home.read_file(path), "new content") << c.name;
        EXPECT_EQ(bits_of(path), c.expected) << c.name;
    }
    EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix("data/bits.dat")), 0);
}

TEST_F(SharedFile, WriteCutShortKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string path = "data/table.dat";
    const std::string old_content(300, 'o');
    home.write_file(path, old_content);
    // A file-size limit makes the write fail part-way, as a full disk does.
    EXPECT_EQ(in_child([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  struct rlimit limit {
                      1000, 1000
                  };
                  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
                  return os_shared::write_file(path, std::string(5000, 'n'));
              }),
              CM_RC_FAIL);
    EXPECT_EQ(home.read_file(path), old_content);
    EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path)), 0);
}

// A content written as it goes (too large to hold whole) is put in place like a whole one; a writer
// that fails puts nothing in place, on a file that exists and on one that is missing.
TEST_F(SharedFile, StreamedRewriteIsPutInPlaceWholeOrNotAtAll) {
    const std::string path = "data/streamed.dat";
    auto pieces = [](bool fail) {
        return [fail](int fd) {
            for (int i = 0; i < 3; ++i)
                if (::write(fd, "piece\n", 6) != 6) return false;
            return !fail;
        };
    };
    for (bool exists : {true, false}) {
        SCOPED_TRACE(exists ? "existing file" : "missing file");
        if (exists) {
            home.write_file(path, "old");
        } else {
            ::unlink(path.c_str());
        }
        {
            os_shared::FileLock lock(path);
            ASSERT_TRUE(lock);
            EXPECT_EQ(lock.rewrite_with(pieces(true)), CM_RC_FAIL);
        }
        EXPECT_EQ(home.exists(path), exists);
        if (exists) {
            EXPECT_EQ(home.read_file(path), "old");
        }
        EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path)), 0);
        os_shared::FileLock lock(path);
        ASSERT_TRUE(lock);
        EXPECT_EQ(lock.rewrite_with(pieces(false)), CM_RC_OK);
        EXPECT_EQ(home.read_file(path), "piece\npiece\npiece\n");
        EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path)), 0);
    }
}

TEST_F(SharedFile, ReaderDuringRewritesSeesOneWholeContentOrTheOther) {
    const std::string path = "data/flip.dat";
    const std::string a(3000, 'a'), b(7000, 'b');
    home.write_file(path, a);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!done) {
            std::string text;
            if (os_shared::read_file(path, text) != CM_RC_OK || (text != a && text != b)) ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 150; ++i) ASSERT_EQ(os_shared::write_file(path, i % 2 ? a : b), CM_RC_OK);
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
}

TEST_F(SharedFile, ReadersOfTheProcessNeverDropTheLockItHolds) {
    const std::string path = "data/held.dat";
    home.write_file(path, "content");
    os_shared::FileLock lock(path);
    ASSERT_TRUE(lock);
    std::thread reader([&] {
        for (int i = 0; i < 20; ++i) {
            std::string text;
            EXPECT_EQ(os_shared::read_file(path, text), CM_RC_OK);
            EXPECT_EQ(text, "content");
        }
    });
    reader.join();
    EXPECT_EQ(lock_seen_from_outside(path), F_WRLCK);
    // After a rewrite the lock is on the file the name now leads to.
    ASSERT_EQ(lock.rewrite("changed"), CM_RC_OK);
    EXPECT_EQ(lock_seen_from_outside(path), F_WRLCK);
    lock.release();
    EXPECT_EQ(lock_seen_from_outside(path), F_UNLCK);
}

TEST_F(SharedFile, ThreadHoldingTheLockWritesThroughItAgain) {
    const std::string path = "data/nested.dat";
    os_shared::FileLock lock(path);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(lock.exists());
    ASSERT_EQ(os_shared::write_file(path, "inner"), CM_RC_OK);  // a save inside the cycle
    std::string text;
    ASSERT_EQ(lock.read(text), CM_RC_OK);
    EXPECT_EQ(text, "inner");
    EXPECT_EQ(lock_seen_from_outside(path), F_WRLCK);
}

TEST_F(SharedFile, LockNeverCreatesAMissingFile) {
    const std::string path = "data/absent.dat";
    {
        os_shared::FileLock lock(path);
        ASSERT_TRUE(lock);
        std::string text;
        EXPECT_EQ(lock.read(text), CM_RC_OPEN_FAILED);
    }
    EXPECT_FALSE(home.exists(path));
    std::string text;
    EXPECT_EQ(os_shared::read_file(path, text), CM_RC_OPEN_FAILED);
    ASSERT_EQ(os_shared::create_file(path, {0764, 0, true, ""}), CM_RC_OK);
    EXPECT_EQ(home.read_file(path), "");
    EXPECT_EQ(bits_of(path), 0764u);
    ASSERT_EQ(os_shared::remove_file(path), CM_RC_OK);
    EXPECT_FALSE(home.exists(path));
}

}  // namespace
