// Start and end of the security library, its lock wrappers over the replaceable back-end table,
// the POSIX back end and allocator, and the security log (permissions, levels, hook, line format,
// concurrent writers, planted links).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bcm_lock.h"
#include "bcm_log.h"
#include "ess.h"
#include "qel_module.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;

TEST(EssStart, NestsAndRefusesAnEndWithoutAStart) {
    EXPECT_EQ(ESS_End(), -1);
    ASSERT_EQ(ESS_Init(), 0);
    ASSERT_EQ(ESS_Init(), 0);
    EXPECT_EQ(ESS_End(), 0);
    int rc = 0;
    EXPECT_EQ(QEL_LoadModule("none.so", &rc, 0, nullptr), nullptr);
    EXPECT_STRNE(QEL_LoadError(), "QEL_LoadModule: Lock pointer is NULL, call ESS_Init first.\n");  // still started
    EXPECT_EQ(ESS_End(), 0);
    EXPECT_EQ(QEL_LoadModule("none.so", &rc, 0, nullptr), nullptr);
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(QEL_LoadError(), "QEL_LoadModule: Lock pointer is NULL, call ESS_Init first.\n");
    EXPECT_EQ(ESS_End(), -1);
    EXPECT_EQ(ESS_Init(), 0);  // a new first start
    EXPECT_EQ(ESS_End(), 0);
}

TEST(EssStart, ThreadsKeepTheCount) {
    ASSERT_EQ(ESS_Init(), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                EXPECT_EQ(ESS_Init(), 0);
                EXPECT_EQ(ESS_End(), 0);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ESS_End(), 0);
    EXPECT_EQ(ESS_End(), -1);
}

TEST(BcmLock, NullLocksPrintTheirTextAndFail) {
    struct Case {
        int (*call)();
        const char* text;
    };
    const Case cases[] = {
        {[] { return BCM_DeleteLock(nullptr); }, "ESS BCM_DeleteLock Null lock address, bcm_lock, "},
        {[] { return BCM_ReadLock(nullptr, 0); }, "ESS BCM_ReadLock Null lock address, bcm_lock, "},
        {[] { return BCM_WriteLock(nullptr, 0); }, "ESS BCM_WriteLock Null lock address, bcm_lock, "},
        {[] { return BCM_ReadUnLock(nullptr); }, "ESS BCM_ReadUnLock Null lock address, bcm_lock, "},
        {[] { return BCM_WriteUnLock(nullptr); }, "ESS BCM_WriteUnLock Null lock address, bcm_lock, "},
        {[] { return BCM_UnLock(nullptr); }, "ESS BCM_UnLock Null lock address, bcm_lock, "},
    };
    for (const auto& c : cases) {
        testbed::StdoutCapture out;
        EXPECT_EQ(c.call(), -1);
        const std::string text = out.text();
        EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
        EXPECT_TRUE(std::regex_match(text, std::regex(".*, [0-9]+\n"))) << text;
    }
    EXPECT_EQ(BCM_Lock(nullptr, 0), 0);
}

std::atomic<int> failing_calls{0};
int failing_back_end(void*) { return ++failing_calls, -1; }

TEST(BcmLock, ABackEndStoredInTheTableActsAtOnceAndIsNotReported) {
    BCM_LockType* lock = BCM_NewLock(0, nullptr);
    ASSERT_NE(lock, nullptr);
    const TSW_RwlFunc saved = tsw_pf_rwlReadLock;
    tsw_pf_rwlReadLock = failing_back_end;
    EXPECT_EQ(BCM_ReadLock(lock, 0), 0);
    EXPECT_EQ(failing_calls, 1);
    tsw_pf_rwlReadLock = saved;
    EXPECT_EQ(BCM_ReadLock(lock, 0), 0);
    EXPECT_EQ(failing_calls, 1);
    EXPECT_EQ(BCM_ReadUnLock(lock), 0);
    EXPECT_EQ(BCM_DeleteLock(lock), 0);
}

TEST(BcmLock, PosixBackEndTestsReportBusyLocks) {
    void* l = nullptr;
    ASSERT_EQ(posix_rwlCreate(&l), 0);
    EXPECT_EQ(posix_rwlReadLock(l), 0);
    EXPECT_EQ(posix_rwlWriteTest(l), 1);
    EXPECT_EQ(posix_rwlReadTest(l), 0);  // a second reader gets in
    EXPECT_EQ(posix_rwlReadUnlock(l), 0);
    EXPECT_EQ(posix_rwlReadUnlock(l), 0);
    EXPECT_EQ(posix_rwlWriteTest(l), 0);
    EXPECT_EQ(posix_rwlDowngrade(l), 0);
    EXPECT_EQ(posix_rwlWriteTest(l), 1);
    EXPECT_EQ(posix_rwlReadUnlock(l), 0);
    EXPECT_EQ(posix_rwlDestroy(l), 0);

    EXPECT_EQ(TSW_CreateAllocCtxStandard(nullptr), TSW_ALLOC_BAD_ARGUMENT);
    TSW_AllocCtx* ctx = nullptr;
    ASSERT_EQ(TSW_CreateAllocCtxStandard(&ctx), TSW_ALLOC_OK);
    void* block = ctx->vtbl->calloc(ctx->heap, 4, 4);
    ASSERT_NE(block, nullptr);
    ctx->vtbl->free(ctx->heap, block);
    EXPECT_EQ(ctx->vtbl->deleteContext(ctx->heap), 0);
    std::free(ctx);
    EXPECT_EQ(TSW_DeleteAllocCtxStandard(), 0);
}

mode_t mode_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class BcmLogTest : public AgentHomeTest {};

TEST_F(BcmLogTest, PermissionsOfANewFile) {
    struct Case {
        const char* spec;
        mode_t mode;
    };
    const Case cases[] = {{"a.log,640", 0640}, {"b.log,9", 0664},    {"c.log,6 4", 0664}, {"d.log,6", 0600},
                          {"e.log", 0664},     {"f.log, 600", 0600}, {"g.log,", 0664},    {"h.log  ,644", 0644}};
    const mode_t old = umask(077);
    for (const auto& c : cases) {
        std::string spec = c.spec;
        BCM_Log* log = New_BCM_Log(spec.data(), "a");
        ASSERT_NE(log, nullptr) << c.spec;
        const std::string path(c.spec, std::strcspn(c.spec, " ,"));
        EXPECT_STREQ(log->m_file, path.c_str());
        EXPECT_EQ(mode_of(path), c.mode) << c.spec;
        Free_BCM_Log(log);
    }
    home.write_file("kept.log", "old\n");
    chmod("kept.log", 0604);
    char spec[] = "kept.log,600";
    BCM_Log* log = New_BCM_Log(spec, nullptr);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(mode_of("kept.log"), 0604u);
    Free_BCM_Log(log);
    umask(old);

    // Folders of 100 characters, so that a path of 511 or 512 characters names a file that can be made.
    std::string dir;
    for (int i = 0; i < 4; ++i) dir += std::string(100, static_cast<char>('a' + i)) + "/";
    std::filesystem::create_directories(dir);
    std::string longest = dir + std::string(511 - dir.size(), 'y');
    std::string too_long = dir + std::string(512 - dir.size(), 'z');
    const std::string too_long_path = too_long;
    EXPECT_EQ(New_BCM_Log(too_long.data(), "a"), nullptr);
    EXPECT_FALSE(home.exists(too_long_path));
    BCM_Log* fits = New_BCM_Log(longest.data(), "a");
    ASSERT_NE(fits, nullptr);
    Free_BCM_Log(fits);
}

TEST_F(BcmLogTest, LinesCarryNumberTimePidLevelAndSource) {
    char spec[] = "sec.log";
    BCM_Log* log = New_BCM_Log(spec, "a");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(BCM_Log_Write(log, "src.c", 10, 1, "masked"), 0);  // mask 0: nothing written
    BCM_Log_SetLogLevel(log, ESS_LOG_ALL);
    for (int level : {3, 0, 64, 16}) EXPECT_EQ(BCM_Log_Write(log, "src.c", 12, level, "text"), 0);
    const auto lines = testbed::lines_of(home.read_file("sec.log"));
    ASSERT_EQ(lines.size(), 3u);  // level 0 shares no bit with the mask
    const std::string pid = std::to_string(getpid());
    const char* names[] = {"ERR", "UKN", "TRC"};
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(std::to_string(i + 1) +
                                                          ":[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} "
                                                          "[0-9:]{8} [0-9]{4}:pid=" +
                                                          pid + ":" + names[i] + ":src.c:12:text")))
            << lines[i];
    Free_BCM_Log(log);
}

TEST_F(BcmLogTest, AHookTakesTheLinesInsteadOfTheFile) {
    char spec[] = "hooked.log";
    BCM_Log* log = New_BCM_Log(spec, "a");
    BCM_Log_SetLogLevel(log, ESS_LOG_ERR | ESS_LOG_WRN);
    static std::vector<std::string> seen;
    BCM_Log_SetHook(
        log,
        [](void* ctx, const char* file, int line, int level, const char* msg) {
            seen.push_back(std::string(static_cast<const char*>(ctx)) + file + std::to_string(line) + ":" +
                           std::to_string(level) + msg);
            return 0;
        },
        const_cast<char*>("ctx:"));
    BCM_Log_Write(log, "f", 1, ESS_LOG_WRN, "kept");
    BCM_Log_Write(log, "f", 2, ESS_LOG_INF, "dropped");
    EXPECT_EQ(seen, (std::vector<std::string>{"ctx:f1:2kept"}));
    EXPECT_EQ(home.read_file("hooked.log"), "");
    Free_BCM_Log(log);
    EXPECT_EQ(BCM_Log_Write(nullptr, "f", 1, 1, "x"), -1);
}

TEST_F(BcmLogTest, ConcurrentWritersGiveWholeLinesNumberedOnce) {
    char spec[] = "busy.log";
    BCM_Log* log = New_BCM_Log(spec, "a");
    BCM_Log_SetLogLevel(log, ESS_LOG_ALL);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([log, t] {
            for (int i = 0; i < 50; ++i) BCM_Log_Write(log, "t.c", t, ESS_LOG_INF, "a line of some length to write");
        });
    for (auto& t : threads) t.join();
    std::set<int> numbers;
    for (const auto& line : testbed::lines_of(home.read_file("busy.log"))) {
        ASSERT_TRUE(std::regex_match(line, std::regex("[0-9]+:.*:INF:t.c:[0-5]:a line of some length to write")))
            << line;
        EXPECT_TRUE(numbers.insert(std::stoi(line)).second);
    }
    EXPECT_EQ(numbers.size(), 300u);
    EXPECT_EQ(*numbers.rbegin(), 300);
    Free_BCM_Log(log);
}

TEST_F(BcmLogTest, SetLogFileRefusesALinkAndTouchesNothing) {
    home.write_file("target.log", "precious\n");
    chmod("target.log", 0600);
    ASSERT_EQ(symlink("target.log", "link-existing.log"), 0);
    ASSERT_EQ(symlink("missing.log", "link-missing.log"), 0);
    for (const char* name : {"link-existing.log", "link-missing.log"}) {
        char error[128] = "";
        std::string spec = std::string(name) + ",666";
        EXPECT_EQ(ESS_SetLogFile(spec.data(), error, sizeof error), nullptr);
        EXPECT_EQ(std::string(error), std::string(name) + " is a link now. File substitution attemp detected!");
    }
    EXPECT_FALSE(home.exists("missing.log"));
    EXPECT_EQ(home.read_file("target.log"), "precious\n");
    EXPECT_EQ(mode_of("target.log"), 0600u);

    char error[16] = "";
    char spec[] = "no-such-dir/x.log";
    EXPECT_EQ(ESS_SetLogFile(spec, error, sizeof error), nullptr);
    EXPECT_STREQ(error, "Cannot initiali");  // cut to the caller's room

    char good[] = "ok.log";
    ESS_Log* log = ESS_SetLogFile(good, error, sizeof error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(BCM_Log_GetLogLevel(log), ESS_LOG_ALL);
    Free_BCM_Log(log);
}

// A FIFO at the log's path would hold an open for writing until a reader came, or take the
// lines when one is there: either way the call returns at once without a log and the FIFO stays.
TEST_F(BcmLogTest, SetLogFileRefusesAFifoAtOnce) {
    ASSERT_EQ(mkfifo("fifo.log", 0600), 0);
    for (const bool with_reader : {false, true}) {
        SCOPED_TRACE(with_reader ? "with a reader" : "without a reader");
        const int reader = with_reader ? open("fifo.log", O_RDONLY | O_NONBLOCK) : -1;
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            alarm(10);  // a call that blocks ends the child instead of the test
            char spec[] = "fifo.log";
            char error[64] = "";
            ESS_Log* log = ESS_SetLogFile(spec, error, sizeof error);
            _exit(log == nullptr && std::strcmp(error, "Cannot initialize log.") == 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (reader >= 0) close(reader);
        struct stat st;
        ASSERT_EQ(lstat("fifo.log", &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
}

}  // namespace
