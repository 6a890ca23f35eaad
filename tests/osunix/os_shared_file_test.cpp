// Shared work files: load-change-save cycles of threads and processes together, whole-file
// rewrites that leave the old or the new content, and readers that never disturb a writer's lock.
#include "os_shared_file_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "concurrency.h"
#include "file_probe.h"
#include "testbed.h"

using file_probe::bits_of;
using file_probe::in_child;
using file_probe::lock_seen_from_outside;
using testbed::AgentHomeTest;

namespace {

using SharedFile = AgentHomeTest;

// Names in a folder that start with a prefix (temporary files left behind).
int entries_starting_with(const std::string& dir, const std::string& prefix) {
    int found = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) ++found;
        closedir(d);
    }
    return found;
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

TEST_F(SharedFile, CyclesOfThreadsAndProcessesTogetherLoseNoUpdate) {
    struct Case {
        const char* name;
        const char* lock_file;
    } cases[] = {{"data file locked itself", ""}, {"separate lock file", "temp/counter.lock"}};
    for (const Case& c : cases) {
        const std::string path = std::string("data/counter_") + (c.lock_file[0] ? "b" : "a") + ".dat";
        os_shared::Options options;
        options.lock_file = c.lock_file;
        constexpr int kProcesses = 2, kThreads = 8, kEach = 10;
        EXPECT_TRUE(testbed::run_in_threads_and_processes(kProcesses, kThreads, [&](int, int) {
            for (int i = 0; i < kEach; ++i)
                if (!increment(path, options)) return false;
            return true;
        })) << c.name;
        EXPECT_EQ(home.read_file(path), std::to_string(kProcesses * kThreads * kEach)) << c.name;
        EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path)), 0) << c.name;
    }
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
                  struct rlimit limit {1000, 1000};
                  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
                  return os_shared::write_file(path, std::string(5000, 'n'));
              }),
              CM_RC_FAIL);
    EXPECT_EQ(home.read_file(path), old_content);
    EXPECT_EQ(entries_starting_with("data", os_shared::temp_prefix(path)), 0);
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
