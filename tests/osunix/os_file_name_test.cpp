// Files by name: status and existence, copy, rename and delete, owners and permission bits,
// the longest-line measure and the line-end translations.
#include "os_file.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "file_probe.h"
#include "testbed.h"

using file_probe::bits_of;
using testbed::AgentHomeTest;

namespace {

void set_mtime(const char* path, time_t when) {
    struct timeval times[2] = {{when, 0}, {when, 0}};
    utimes(path, times);
}

}  // namespace

TEST_F(AgentHomeTest, StatGivesSizeAndModificationTimeAsBothDates) {
    setenv("TZ", "UTC", 1);
    tzset();
    home.write_file("data/T.dat", "0123456789");
    set_mtime("data/T.dat", 1741788309);  // 2025-03-12 14:05:09 UTC
    long size = -1, lines = -1;
    DATETIME_D_typ created, modified;
    ASSERT_EQ(OS_FILE_stat("data/T.dat", &size, &lines, created, modified), CM_RC_OK);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(lines, 0);
    EXPECT_STREQ(created, "20250312140509");
    EXPECT_STREQ(modified, "20250312140509");
    int64_t size64 = -1;
    ASSERT_EQ(OS_FILE_stat64("data/T.dat", &size64, &lines, created, modified), CM_RC_OK);
    EXPECT_EQ(size64, 10);
    errno = 0;
    EXPECT_EQ(OS_FILE_stat64("data/NONE.dat", &size64, &lines, created, modified), CM_RC_FAIL);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(OS_FILE_stat("data/NONE.dat", &size, &lines, created, modified), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, CheckExistenceTellsPresentMissingRefusedAndUnreadable) {
    home.write_file("data/here", "x");
    home.write_file("locked/inside", "x");
    chmod("locked", 0700);
    chmod(".", 0711);  // an unprivileged user may pass through the home, not into "locked"
    struct Case {
        const char* path;
        int access_kind;
        CM_RC rc;
    } cases[] = {
        {"data/here", OS_FILE_ACCESS_EXIST, CM_RC_OK},
        {"data/here", OS_FILE_ACCESS_READ, CM_RC_OK},
        {"data/gone", OS_FILE_ACCESS_EXIST, CM_RC_FAIL},
        {"data/here", 4, CM_RC_FAIL},
        {"data/here/below", OS_FILE_ACCESS_EXIST, CM_RC_STAT_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(OS_FILE_check_existence(c.path, static_cast<OS_FILE_ACCESS_typ>(c.access_kind)), c.rc);
    }
    int refused = file_probe::as_nobody([] { return OS_FILE_check_existence("locked/inside", OS_FILE_ACCESS_EXIST); });
    EXPECT_EQ(refused, CM_RC_NOT_PERMITTED);
}

TEST_F(AgentHomeTest, CopyGivesANewFileTheSourceBitsAndKeepsAnExistingFilesOwn) {
    std::string content;
    for (int i = 0; i < 1000; ++i) content += "line " + std::to_string(i) + "\n";  // several blocks
    home.write_file("data/src", content);
    chmod("data/src", 0751);
    ASSERT_EQ(OS_FILE_copy("data/src", "temp/new", OS_FILE_WRITE), CM_RC_OK);
    EXPECT_EQ(home.read_file("temp/new"), content);
    EXPECT_EQ(bits_of("temp/new"), 0751u);

    home.write_file("temp/old", "longer previous content that must disappear entirely");
    chmod("temp/old", 0600);
    ASSERT_EQ(OS_FILE_copy("data/src", "temp/old", OS_FILE_WRITE), CM_RC_OK);
    EXPECT_EQ(home.read_file("temp/old"), content);
    EXPECT_EQ(bits_of("temp/old"), 0600u);

    EXPECT_EQ(OS_FILE_copy("data/none", "temp/x", OS_FILE_WRITE), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("temp/x"));
}

// Copying a file onto itself (directly or through another name for it) would empty it first;
// it is refused and the file keeps its content.
TEST_F(AgentHomeTest, CopyOntoItselfIsRefusedAndLosesNothing) {
    home.write_file("data/src", "precious");
    ASSERT_EQ(link("data/src", "temp/alias"), 0);
    EXPECT_EQ(OS_FILE_copy("data/src", "data/src", OS_FILE_WRITE), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_copy("data/src", "./temp/../data/src", OS_FILE_WRITE), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_copy("data/src", "temp/alias", OS_FILE_WRITE), CM_RC_FAIL);
    EXPECT_EQ(home.read_file("data/src"), "precious");
}

TEST_F(AgentHomeTest, RenameDeleteAndCreateEmpty) {
    home.write_file("temp/a", "content");
    EXPECT_EQ(OS_FILE_rename("temp/a", "temp/b"), CM_RC_OK);
    EXPECT_EQ(home.read_file("temp/b"), "content");
    EXPECT_EQ(OS_FILE_rename("temp/a", "temp/c"), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_create_empty("temp/b"), CM_RC_OK);
    EXPECT_EQ(home.read_file("temp/b"), "");
    EXPECT_EQ(OS_FILE_delete("temp/b"), CM_RC_OK);
    EXPECT_FALSE(home.exists("temp/b"));
    EXPECT_EQ(OS_FILE_delete("temp/b"), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_is_dir("temp"), 1);
    EXPECT_EQ(OS_FILE_is_dir("temp/b"), 0);
}

TEST_F(AgentHomeTest, OwnersAreReadSetAndTakenFromTheAgentHome) {
    home.write_file("temp/f", "x");
    ASSERT_EQ(OS_FILE_set_file_owner("temp/f", file_probe::kNobody, file_probe::kNogroup), CM_RC_OK);
    uid_t uid;
    gid_t gid;
    ASSERT_EQ(OS_FILE_get_file_owner("temp/f", &uid, &gid), CM_RC_OK);
    EXPECT_EQ(uid, file_probe::kNobody);
    EXPECT_EQ(gid, file_probe::kNogroup);
    ASSERT_EQ(OS_FILE_set_agent_owner("temp/f"), CM_RC_OK);  // the home (".") belongs to root
    ASSERT_EQ(OS_FILE_get_file_owner("temp/f", &uid, &gid), CM_RC_OK);
    EXPECT_EQ(uid, getuid());
    EXPECT_EQ(OS_FILE_get_file_owner("temp/none", &uid, &gid), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, SetPermissionBuildsBitsFromThreeSets) {
    home.write_file("temp/f", "x");
    struct Case {
        OS_FILE_PERMISSION_typ owner, group, general;
        mode_t bits;
    } cases[] = {
        {OS_FILE_READ_WRITE_EXEC_PERMISSION, OS_FILE_READ_EXEC_PERMISSION, OS_FILE_READ_PERMISSION, 0754},
        {OS_FILE_READ_WRITE_PERMISSION, OS_FILE_NO_PERMISSION, OS_FILE_NO_PERMISSION, 0600},
        {OS_FILE_WRITE_EXEC_PERMISSION, OS_FILE_WRITE_PERMISSION, OS_FILE_EXEC_PERMISSION, 0321},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_FILE_set_permission("temp/f", c.owner, c.group, c.general), CM_RC_OK);
        EXPECT_EQ(bits_of("temp/f"), c.bits);
    }
    EXPECT_EQ(
        OS_FILE_set_permission("temp/none", OS_FILE_READ_PERMISSION, OS_FILE_NO_PERMISSION, OS_FILE_NO_PERMISSION),
        CM_RC_FAIL);
    int refused = file_probe::as_nobody([] {
        return OS_FILE_set_permission("temp/f", OS_FILE_READ_WRITE_EXEC_PERMISSION, OS_FILE_NO_PERMISSION,
                                      OS_FILE_NO_PERMISSION);
    });
    EXPECT_EQ(refused, CM_RC_FAIL);
    EXPECT_EQ(bits_of("temp/f"), 0321u);
}

TEST_F(AgentHomeTest, WidthMeasuresTheLongestChunkAndStopsAtTheMaximum) {
    home.write_file("temp/w", "ab\n" + std::string(9, 'x') + "\nabc");
    long longest = 0;
    EXPECT_EQ(OS_FILE_width("temp/w", &longest, 0), CM_RC_OK);
    EXPECT_EQ(longest, 10);
    EXPECT_EQ(OS_FILE_width("temp/w", &longest, 10), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_width("temp/w", &longest, 11), CM_RC_OK);
    home.write_file("temp/long", std::string(1200, 'y'));  // read in 499-character chunks
    EXPECT_EQ(OS_FILE_width("temp/long", &longest, 0), CM_RC_OK);
    EXPECT_EQ(longest, 499);
    EXPECT_EQ(OS_FILE_width("temp/none", &longest, 0), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, LineEndsTranslateBetweenPcAndUnix) {
    char pc[] = "a\r\nb\r\n\x1a";
    int length = 7;
    EXPECT_EQ(OS_FILE_translate_pc_to_unix(pc, &length), CM_RC_OK);
    EXPECT_EQ(std::string(pc, static_cast<size_t>(length)), "a\nb\n\n");
    char unix_text[16] = "a\nb\n";
    length = 4;
    EXPECT_EQ(OS_FILE_translate_unix_to_pc(unix_text, &length), CM_RC_OK);
    EXPECT_EQ(std::string(unix_text, static_cast<size_t>(length)), "a\r\nb\r\n");
}
