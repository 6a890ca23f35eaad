#include "os_diag.h"

#include "testbed.h"

using testbed::AgentHomeTest;

TEST_F(AgentHomeTest, LinesAtOrBelowTheDebugLevelReachTheProcessLog) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_TRACE(4, "written %d", 4);
    DIAG_TRACE(5, "dropped %d", 5);
    std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Oebs_CM:written 4"), std::string::npos);
    EXPECT_EQ(log.find("dropped"), std::string::npos);
}

TEST_F(AgentHomeTest, OutOfRangeDebugLevelWarnsOnStandardErrorAndBecomesZero) {
    testbed::StderrCapture err;
    DIAG_set_debug_level(7);
    EXPECT_EQ(DIAG_debug_level(), 0);
    EXPECT_EQ(err.text(),
              "Warning: debug level 7 is not in the range of 0-6.\nIt will be set to 0 by default.\n");
}
