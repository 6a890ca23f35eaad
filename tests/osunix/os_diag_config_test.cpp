// The diagnostic log's settings read from the parameter tables: the mode of a new log (table OS),
// the reset interval of a raised level and the rotation limits (table CONFIG), and log lines
// written from inside the parameter code while those tables are being read.
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <string>

#include <gtest/gtest.h>

namespace {

class DiagConfigTest : public testbed::AgentHomeTest {};

TEST_F(DiagConfigTest, NewLogTakesItsModeFromTableOs) {
    home.write_file("data/OS.dat", "PROCLOG_MODE 0600\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    DIAG_TRACE(1, "first line");
    struct stat st {};
    ASSERT_EQ(stat(testbed::diag_log_path("Oebs_CM").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(DiagConfigTest, ReportAnnouncesTheConfiguredResetInterval) {
    home.write_file("data/CONFIG.dat", "DBG_RESET_INTERVAL 42\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_ERROR("an error");
    EXPECT_NE(testbed::read_diag_log("Oebs_CM").find("Debug level will reset in 42 seconds."), std::string::npos);
}

TEST_F(DiagConfigTest, RotationLimitsComeFromConfig) {
    home.write_file("data/CONFIG.dat", "LIMIT_LOG_FILE_SIZE 0\n");  // 0 turns rotation off
    OS_DIAG_initialize(nullptr, "AT");
    DIAG_set_debug_level(1);
    DIAG_TRACE(1, "line");
    ASSERT_EQ(truncate(testbed::diag_log_path("AT").c_str(), 10485760 + 1), 0);
    for (int i = 0; i < 150; ++i) DIAG_TRACE(1, "line %d", i);
    EXPECT_FALSE(home.exists("proclog/AT_" + std::to_string(getpid()) + "_01.log"));
}

TEST_F(DiagConfigTest, LinesLoggedWhileATableLoadsLeaveOneCachedCopy) {
    // At level 6 the table code logs while it loads table OS, and every logged line reads key
    // PROCLOG_MODE of that same table: the load must still leave one copy, the one reloaded later.
    home.write_file("data/OS.dat", "K old\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(6);
    char value[2048] = "";
    ASSERT_EQ(GM_PARAM_get("OS", "K", value), CM_RC_OK);
    EXPECT_STREQ(value, "old");
    home.write_file("data/OS.dat", "K new\n");
    struct timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
    ASSERT_EQ(utimes("data/OS.dat", times), 0);
    ASSERT_EQ(GM_PARAM_load("OS", 0), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_get("OS", "K", value), CM_RC_OK);
    EXPECT_STREQ(value, "new");
}

TEST_F(DiagConfigTest, LoggingDoesNotMoveTheCursorOfATableBeingWalked) {
    home.write_file("data/CONFIG.dat", "A 1\nB 2\nC 3\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    GM_PARAM_table_list* table = nullptr;
    ASSERT_EQ(GM_PARAM_table_find(&table, "CONFIG"), CM_RC_OK);
    std::string keys;
    char* key = nullptr;
    void* row_value = nullptr;
    for (int guard = 0; guard < 10 && GM_PARAM_list_next(&table->table, &key, &row_value) == CM_RC_OK; ++guard) {
        keys += key;
        DIAG_ERROR("row %s", key);  // an error line at level 0 reads CONFIG's reset interval
    }
    EXPECT_EQ(keys, "ABC");
}

}  // namespace
