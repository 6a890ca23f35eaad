// Log lines written from inside the parameter code while the tables the log reads its settings
// from are being loaded or walked.
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

#include <sys/time.h>

#include <string>

#include <gtest/gtest.h>

namespace {

class DiagParamTest : public testbed::AgentHomeTest {};

TEST_F(DiagParamTest, LinesLoggedWhileATableLoadsLeaveOneCachedCopy) {
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

TEST_F(DiagParamTest, LoggingDoesNotMoveTheCursorOfATableBeingWalked) {
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
