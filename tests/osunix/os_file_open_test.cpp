// OS_FILE_open's modes (flags, permission bits, truncation, locks, owners) and the raw
// descriptor reads and writes.
#include "os_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "file_probe.h"
#include "os_diag.h"
#include "testbed.h"

using file_probe::bits_of;
using file_probe::lock_seen_from_outside;
using testbed::AgentHomeTest;

namespace {

constexpr int kUntouched = -1;  // permission bits of an existing file stay as they were

struct ModeCase {
    OS_FILE_MODE_typ mode;
    const char* name;
    CM_RC on_missing;       // result when the file does not exist
    int bits_when_created;  // bits of a file the mode created
    CM_RC on_existing;      // result on an existing file holding "old content", bits 0640
    int bits_on_existing;   // kUntouched or the bits it gets
    bool truncates;
    int lock;  // F_UNLCK, F_RDLCK or F_WRLCK as another process sees it
};

const ModeCase kModes[] = {
    {OS_FILE_CREATE, "CREATE", 1, 0744, 1, 0744, true, F_WRLCK},
    {OS_FILE_LOCK, "LOCK", 11, 0, 1, kUntouched, true, F_WRLCK},
    {OS_FILE_LOCK_NOWAIT, "LOCK_NOWAIT", 1, 0777, 1, kUntouched, false, F_WRLCK},
    {OS_FILE_NOLOCK, "NOLOCK", 11, 0, 1, kUntouched, false, F_UNLCK},
    {OS_FILE_READ, "READ", 11, 0, 1, kUntouched, false, F_RDLCK},
    {OS_FILE_READ_NOLOCK, "READ_NOLOCK", 11, 0, 1, kUntouched, false, F_UNLCK},
    {OS_FILE_WRITE, "WRITE", 11, 0, 1, kUntouched, true, F_WRLCK},
    {OS_FILE_APPEND, "APPEND", 1, 0764, 1, 0764, false, F_WRLCK},
    {OS_FILE_TRUNC, "TRUNC", 11, 0, 1, kUntouched, true, F_WRLCK},
    {OS_FILE_UPDATE, "UPDATE", 2, 0, 2, kUntouched, false, F_UNLCK},
    {OS_FILE_WRITE_BINARY, "WRITE_BINARY", 11, 0, 1, kUntouched, true, F_WRLCK},
    {OS_FILE_APPEND_BINARY, "APPEND_BINARY", 1, 0764, 1, 0764, false, F_WRLCK},
    {OS_FILE_READ_BINARY, "READ_BINARY", 11, 0, 1, kUntouched, false, F_RDLCK},
    {OS_FILE_READ_BINARY_NOLOCK, "READ_BINARY_NOLOCK", 11, 0, 1, kUntouched, false, F_UNLCK},
    {OS_FILE_CREATE_777, "CREATE_777", 1, 0777, 1, 0777, true, F_WRLCK},
    {OS_FILE_WRITE_NOLOCK, "WRITE_NOLOCK", 1, 0600, 1, 0600, true, F_UNLCK},
    {OS_FILE_WRITE_CHECK_DISKSPACE, "WRITE_CHECK_DISKSPACE", 1, 0600, 1, 0600, false, F_UNLCK},
    {OS_FILE_CREATE_CHECK_DISKSPACE, "CREATE_CHECK_DISKSPACE", 2, 0, 2, kUntouched, false, F_UNLCK},
};

class FileOpen : public AgentHomeTest {
protected:
    void SetUp() override { setenv("LOGNAME", "root", 1); }
};

}  // namespace

TEST_F(FileOpen, EveryModeGivesItsResultBitsTruncationAndLock) {
    for (const ModeCase& c : kModes) {
        SCOPED_TRACE(c.name);
        std::string missing = std::string("temp/missing_") + c.name;
        OS_FD_typ fd = -1;
        EXPECT_EQ(OS_FILE_open(&fd, missing.c_str(), c.mode), c.on_missing);
        if (c.on_missing == CM_RC_OK) {
            EXPECT_EQ(bits_of(missing), static_cast<mode_t>(c.bits_when_created));
            EXPECT_EQ(lock_seen_from_outside(missing), c.lock);
            OS_FILE_close(fd);
        } else {
            EXPECT_FALSE(home.exists(missing));
        }

        std::string existing = std::string("temp/existing_") + c.name;
        home.write_file(existing, "old content");
        chmod(existing.c_str(), 0640);
        fd = -1;
        EXPECT_EQ(OS_FILE_open(&fd, existing.c_str(), c.mode), c.on_existing);
        if (c.on_existing == CM_RC_OK) {
            EXPECT_EQ(lock_seen_from_outside(existing), c.lock);
            OS_FILE_close(fd);
        }
        EXPECT_EQ(bits_of(existing), static_cast<mode_t>(c.bits_on_existing == kUntouched ? 0640 : c.bits_on_existing));
        EXPECT_EQ(home.read_file(existing), c.truncates ? "" : "old content");
    }
}

TEST_F(FileOpen, LocksEndWithTheDescriptorOrWithRelease) {
    home.write_file("temp/f", "x");
    OS_FD_typ fd = -1;
    ASSERT_EQ(OS_FILE_open(&fd, "temp/f", OS_FILE_LOCK_NOWAIT), CM_RC_OK);
    OS_FILE_lseek(fd, 1, OS_FILE_BEGIN);  // released whatever the offset
    EXPECT_EQ(OS_FILE_release(fd), CM_RC_OK);
    EXPECT_EQ(lock_seen_from_outside("temp/f"), F_UNLCK);
    EXPECT_EQ(OS_FILE_lock("temp/f", fd, 2), CM_RC_OK);
    EXPECT_EQ(lock_seen_from_outside("temp/f"), F_WRLCK);
    EXPECT_EQ(OS_FILE_close(fd), CM_RC_OK);
    EXPECT_EQ(lock_seen_from_outside("temp/f"), F_UNLCK);
    EXPECT_EQ(OS_FILE_lock("temp/f", fd, 4), CM_RC_FAIL);
}

TEST_F(FileOpen, NoWaitModeReturnsLockedAtOnceWhileAnotherProcessHoldsTheLock) {
    home.write_file("temp/busy", "held");
    file_probe::LockHolder holder("temp/busy");
    ASSERT_TRUE(holder.locked());
    auto start = std::chrono::steady_clock::now();
    OS_FD_typ fd = -1;
    EXPECT_EQ(OS_FILE_open(&fd, "temp/busy", OS_FILE_LOCK_NOWAIT), CM_RC_LOCKED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    int probe_fd = open("temp/busy", O_RDWR);
    EXPECT_EQ(OS_FILE_lock("temp/busy", probe_fd, 2), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_lock("temp/busy", probe_fd, 3), CM_RC_FAIL);
    close(probe_fd);
    EXPECT_EQ(home.read_file("temp/busy"), "held");
}

// A rewriting mode waits for the writer in progress and empties the file only once it holds the
// lock: the first writer's content stays whole while it still writes.
TEST_F(FileOpen, RewritingModesWaitForTheLockBeforeEmptyingTheFile) {
    for (OS_FILE_MODE_typ mode : {OS_FILE_WRITE, OS_FILE_CREATE, OS_FILE_CREATE_777}) {
        SCOPED_TRACE(static_cast<int>(mode));
        home.write_file("temp/shared", "first writer's content");
        file_probe::LockHolder holder("temp/shared");
        ASSERT_TRUE(holder.locked());
        OS_FD_typ fd = -1;
        CM_RC rc = 0;
        auto start = std::chrono::steady_clock::now();
        std::thread second([&] { rc = OS_FILE_open(&fd, "temp/shared", mode); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(home.read_file("temp/shared"), "first writer's content");
        holder.release();
        second.join();
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_EQ(rc, CM_RC_OK);
        EXPECT_EQ(home.read_file("temp/shared"), "");
        OS_FILE_close(fd);
    }
}

TEST_F(FileOpen, ConcurrentRewritesLeaveOneWholeContentForLockedReaders) {
    const std::string a(8192, 'a'), b(8192, 'b');
    home.write_file("temp/table", a);
    auto writer = [](const std::string& content) {
        return [content] {
            for (int i = 0; i < 150; ++i) {
                OS_FD_typ fd;
                if (OS_FILE_open(&fd, "temp/table", OS_FILE_WRITE) != CM_RC_OK) return 1;
                for (size_t off = 0; off < content.size(); off += 1024)
                    if (OS_FILE_write(fd, content.data() + off, 1024) != CM_RC_OK) return 2;
                OS_FILE_close(fd);
            }
            return 0;
        };
    };
    pid_t first = fork();
    if (first == 0) _exit(writer(a)());
    pid_t second = fork();
    if (second == 0) _exit(writer(b)());
    int torn = 0;
    for (int i = 0; i < 150; ++i) {
        OS_FD_typ fd;
        ASSERT_EQ(OS_FILE_open(&fd, "temp/table", OS_FILE_READ), CM_RC_OK);
        std::string seen(9000, '\0');
        int size = 9000;
        OS_FILE_read(fd, seen.data(), &size);
        OS_FILE_close(fd);
        seen.resize(static_cast<size_t>(size - 1));
        if (seen != a && seen != b) ++torn;
    }
    int status_a = 0, status_b = 0;
    waitpid(first, &status_a, 0);
    waitpid(second, &status_b, 0);
    EXPECT_EQ(WEXITSTATUS(status_a), 0);
    EXPECT_EQ(WEXITSTATUS(status_b), 0);
    EXPECT_EQ(torn, 0);
    std::string last = home.read_file("temp/table");
    EXPECT_TRUE(last == a || last == b);
}

TEST_F(FileOpen, CreateGivesTheFileToTheLognameUserAndGroup) {
    setenv("LOGNAME", "nobody", 1);
    OS_FD_typ fd = -1;
    ASSERT_EQ(OS_FILE_open(&fd, "temp/owned", OS_FILE_CREATE), CM_RC_OK);
    OS_FILE_close(fd);
    uid_t uid;
    gid_t gid;
    ASSERT_EQ(OS_FILE_get_file_owner("temp/owned", &uid, &gid), CM_RC_OK);
    EXPECT_EQ(uid, file_probe::kNobody);
    EXPECT_EQ(gid, file_probe::kNogroup);

    unsetenv("LOGNAME");  // the process's own user then
    ASSERT_EQ(OS_FILE_open(&fd, "temp/owned", OS_FILE_CREATE), CM_RC_OK);
    OS_FILE_close(fd);
    ASSERT_EQ(OS_FILE_get_file_owner("temp/owned", &uid, &gid), CM_RC_OK);
    EXPECT_EQ(uid, getuid());

    setenv("LOGNAME", "no_such_user_here", 1);
    EXPECT_EQ(OS_FILE_open(&fd, "temp/unowned", OS_FILE_CREATE), CM_RC_FAIL);
}

// The owner change of OS_FILE_CREATE_777 runs no shell: a file name with shell syntax in it is
// only a name, and the owner is set all the same (the group is left alone).
TEST_F(FileOpen, Create777ChangesOwnerWithoutAShell) {
    setenv("LOGNAME", "nobody", 1);
    const char* name = "temp/x;touch injected;#";
    OS_FD_typ fd = -1;
    ASSERT_EQ(OS_FILE_open(&fd, name, OS_FILE_CREATE_777), CM_RC_OK);
    OS_FILE_close(fd);
    uid_t uid;
    gid_t gid;
    ASSERT_EQ(OS_FILE_get_file_owner(name, &uid, &gid), CM_RC_OK);
    EXPECT_EQ(uid, file_probe::kNobody);
    EXPECT_EQ(gid, getgid());
    EXPECT_FALSE(home.exists("injected"));
    EXPECT_FALSE(home.exists("temp/injected"));

    setenv("LOGNAME", "no_such_user_here", 1);  // an unknown user only leaves the owner as it is
    EXPECT_EQ(OS_FILE_open(&fd, "temp/plain", OS_FILE_CREATE_777), CM_RC_OK);
    OS_FILE_close(fd);
}

TEST_F(FileOpen, RefusedOpensAsAnUnprivilegedUser) {
    home.write_file("temp/private", "secret");
    chmod("temp/private", 0600);
    chmod(".", 0711);  // an unprivileged user may pass through the home to the file
    int read_rc = file_probe::as_nobody([] {
        OS_FD_typ fd;
        return OS_FILE_open(&fd, "temp/private", OS_FILE_READ);
    });
    EXPECT_EQ(read_rc, CM_RC_OPEN_FAILED);
    int create_rc = file_probe::as_nobody([] {
        OS_FD_typ fd;
        return OS_FILE_open(&fd, "temp/private", OS_FILE_CREATE);
    });
    EXPECT_EQ(create_rc, CM_RC_CREATE_FAILED);
    int disk_rc = file_probe::as_nobody([] {
        OS_FD_typ fd;
        return OS_FILE_open(&fd, "temp/private", OS_FILE_WRITE_CHECK_DISKSPACE);
    });
    EXPECT_EQ(disk_rc, CM_RC_FAIL);
    EXPECT_EQ(home.read_file("temp/private"), "secret");
}

TEST_F(FileOpen, ReadReportsWholeShortAndEmptyReads) {
    struct Case {
        const char* content;
        int asked;
        CM_RC rc;
        int size_after;
        const char* text;
    } cases[] = {
        {"abcd", 10, CM_RC_EOF, 5, "abcd"},
        {"abcd", 4, CM_RC_OK, 5, "abcd"},
        {"abcdef", 3, CM_RC_OK, 4, "abc"},
        {"", 10, CM_RC_FAIL, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        home.write_file("temp/r", c.content);
        OS_FD_typ fd;
        ASSERT_EQ(OS_FILE_open(&fd, "temp/r", OS_FILE_READ_NOLOCK), CM_RC_OK);
        char buf[16];
        memset(buf, 'X', sizeof buf);
        int size = c.asked;
        EXPECT_EQ(OS_FILE_read(fd, buf, &size), c.rc);
        EXPECT_EQ(size, c.size_after);
        EXPECT_STREQ(buf, c.text);
        OS_FILE_close(fd);
    }
    // A descriptor that cannot be read gives an empty buffer and nothing before it.
    char guard[4] = {'G', 'G', 'G', 'G'};
    int size = 2;
    EXPECT_EQ(OS_FILE_read(-1, guard + 1, &size), CM_RC_FAIL);
    EXPECT_EQ(guard[0], 'G');
    EXPECT_EQ(guard[1], '\0');
}

TEST_F(FileOpen, GetsReadsLineByLineAndLeavesTheOffsetAfterEachNewline) {
    home.write_file("temp/lines", "first\nsecond line that is long\nlast");
    OS_FD_typ fd;
    ASSERT_EQ(OS_FILE_open(&fd, "temp/lines", OS_FILE_READ), CM_RC_OK);
    char line[12];
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_OK);
    EXPECT_STREQ(line, "first");
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_OK);  // a chunk without newline
    EXPECT_STREQ(line, "second line");
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_OK);
    EXPECT_STREQ(line, " that is lo");
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_OK);
    EXPECT_STREQ(line, "ng");
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_OK);
    EXPECT_STREQ(line, "last");
    EXPECT_EQ(OS_FILE_gets(line, sizeof line, fd), CM_RC_FAIL);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(OS_FILE_lseek(fd, 0, OS_FILE_END), 35);
    EXPECT_EQ(OS_FILE_lseek(fd, 0, static_cast<OS_FILE_DIRECTION_typ>(3)), -1);
    OS_FILE_close(fd);
}

TEST_F(FileOpen, AppendWritesAddToTheEnd) {
    for (const char* part : {"one,", "two"}) {
        OS_FD_typ fd;
        ASSERT_EQ(OS_FILE_open(&fd, "temp/log", OS_FILE_APPEND), CM_RC_OK);
        EXPECT_EQ(OS_FILE_write(fd, part, static_cast<int>(strlen(part))), CM_RC_OK);
        OS_FILE_close(fd);
    }
    EXPECT_EQ(home.read_file("temp/log"), "one,two");
    EXPECT_EQ(OS_FILE_write(-1, "x", 1), CM_RC_FAIL);
}

TEST_F(FileOpen, TracesOpenAndErrorLines) {
    OS_DIAG_initialize(nullptr, "FT");
    DIAG_set_debug_level(4);
    OS_FD_typ fd;
    ASSERT_EQ(OS_FILE_open(&fd, "temp/traced", OS_FILE_APPEND), CM_RC_OK);
    OS_FILE_close(fd);
    EXPECT_EQ(OS_FILE_open(&fd, "temp/traced", OS_FILE_UPDATE), CM_RC_FAIL);
    std::string log = testbed::read_diag_log_texts("FT");
    EXPECT_NE(log.find("FT:OS_FILE_open\nFT:file_name='temp/traced'\n"), std::string::npos);
    EXPECT_NE(log.find("FT:OS_FILE_open succeeded: opened descriptor "), std::string::npos);
    EXPECT_NE(log.find("FT:OS_FILE_open failed - errno="), std::string::npos);
}
