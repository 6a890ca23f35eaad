#include <string>

#include "gm_time.h"
#include "os_diag.h"
#include "test_clock.h"

using testbed::TestClockTest;

namespace {

void freeze_at(const char* when) {
    ASSERT_EQ(OS_TIME_set_factor("0"), CM_RC_OK);
    ASSERT_EQ(OS_TIME_set_odate(when), CM_RC_OK);
}

}  // namespace

TEST_F(TestClockTest, LogLineTimeFollowsTheTestClock) {
    freeze_at("20250315233000");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_TRACE(4, "stamped");
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_EQ(log.substr(0, 14), "0315 23:30:00:");
    EXPECT_EQ(log.substr(17), " Oebs_CM:stamped\n");
}

TEST_F(TestClockTest, RaisedLevelDropsBackToZeroAfterTheResetInterval) {
    freeze_at("20250315120000");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_set_buffered_level(4);
    DIAG_ERROR("the error");
    EXPECT_EQ(DIAG_debug_level(), 4);

    // Within the interval: lines are written, a further error does not extend the period.
    freeze_at("20250315120500");
    DIAG_TRACE(4, "five minutes later");
    DIAG_ERROR("second error");
    freeze_at("20250315121000");  // exactly 600 seconds: not yet more than the interval
    DIAG_TRACE(4, "ten minutes later");
    EXPECT_EQ(DIAG_debug_level(), 4);

    freeze_at("20250315121001");
    DIAG_TRACE(4, "past the interval");
    EXPECT_EQ(DIAG_debug_level(), 0);
    DIAG_TRACE(4, "only buffered again");

    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    const std::string tail = log.substr(log.find("seconds.\n\n") + 10);
    EXPECT_EQ(tail,
              "Oebs_CM:five minutes later\nOebs_CM:second error\nOebs_CM:ten minutes later\n"
              "Oebs_CM:past the interval\nOebs_CM:Reseting debug level to 0 after 600 seconds\n");
}
