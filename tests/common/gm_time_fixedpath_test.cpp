#include <cstring>
#include <ctime>
#include <string>

#include "gm_time.h"
#include "test_clock.h"

using testbed::TestClockTest;

namespace {

std::string now_text(GM_TIME_FMT_typ format) {
    char text[32];
    GM_TIME_fmt_get_time(format, text);
    return text;
}

std::string real_now_text(long offset_seconds) {
    DATETIME_D_typ text;
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, time(nullptr) + offset_seconds, text);
    return text;
}

// Freezes the clock at a YYYYMMDDHHMMSS time: factor 0 leaves only the order-date base.
void freeze_at(const char* when) {
    ASSERT_EQ(OS_TIME_set_factor("0"), CM_RC_OK);
    ASSERT_EQ(OS_TIME_set_odate(when), CM_RC_OK);
}

}  // namespace

TEST_F(TestClockTest, FrozenClockGivesTheOrderDateToEveryReading) {
    freeze_at("20250315233000");
    EXPECT_EQ(now_text(GM_TIME_FMT_YYYYMMDDHHMMSS), "20250315233000");
    EXPECT_EQ(now_text(GM_TIME_FMT_HHMM), "2330");
    char with_millis[32];
    GM_TIME_fmt_get_time2(GM_TIME_FMT_MMDD_HH_MM_SS_CCC, with_millis);
    EXPECT_EQ(std::string(with_millis).substr(0, 14), "0315 23:30:00:");
    char gmt[32];
    GM_TIME_fmt_get_gmt_time(GM_TIME_FMT_YYYYMMDDHHMMSS, gmt);
    EXPECT_STREQ(gmt, "20250315233000");
    char hhmm[8];
    EXPECT_STREQ(GM_TIME_get_fmt_HHMM_delta(hhmm, 60), "0030");
    EXPECT_STREQ(GM_TIME_get_fmt_HHMM_delta(hhmm, -90), "2200");
    time_t gap = 99;
    EXPECT_EQ(GM_TIME_fmt_compare("20250315233000", &gap), GM_TIME_EQ);
    EXPECT_EQ(gap, 0);
}

TEST_F(TestClockTest, WindowCheckAtAFrozenTime) {
    struct Case {
        const char* now;
        const char* from;
        const char* until;
        const char* job_odate;
        const char* curr_odate;
        const char* daytime;
        CM_RC rc;
    } cases[] = {
        {"20250315010000", "2200", "0200", "20250315", "20250315", "+0000", CM_RC_OK},    // past midnight
        {"20250315120000", "2200", "0200", "20250315", "20250315", "+0000", CM_RC_FAIL},  // outside
        {"20250315120000", "0800", "1700", "20250315", "20250315", "+0000", CM_RC_OK},
        {"20250315170000", "0800", "1700", "20250315", "20250315", "+0000", CM_RC_FAIL},  // until excluded
        {"20250315080000", "0800", "1700", "20250315", "20250315", "+0000", CM_RC_OK},    // from included
        {"20250315120000", "", "", "20250315", "20250315", "+0600", CM_RC_OK},            // no window
        {"20250315120000", "    ", "    ", "20250315", "20250315", "+0600", CM_RC_OK},    // blank window
        {"20250315050000", "", "1000", "20250315", "20250315", "+0600", CM_RC_FAIL},      // from := 0600
        {"20250315070000", "", "1000", "20250315", "20250315", "+0600", CM_RC_OK},
        {"20250315050000", "0400", "", "20250315", "20250315", "+0600", CM_RC_OK},     // until := 0600
        {"20250315120000", "1000", ">", "20250314", "20250315", "+0600", CM_RC_OK},    // older order date
        {"20250315080000", "1000", ">", "20250315", "20250315", "+0600", CM_RC_FAIL},  // until := 0600
        {"20250315050000", "1000", ">", "20250315", "20250315", "+0600", CM_RC_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.now) + " from " + c.from + " until " + c.until);
        freeze_at(c.now);
        EXPECT_EQ(GM_TIME_window_check(c.from, c.until, c.job_odate, c.curr_odate, c.daytime), c.rc);
    }
}

TEST_F(TestClockTest, DaytimeDeltaShiftsTheOrderDate) {
    struct Case {
        const char* now;
        const char* daytime;
        int delta;
    } cases[] = {
        {"20250315070000", "-0600", 1},  {"20250315050000", "-0600", 0}, {"20250315060000", "-0600", 1},
        {"20250315050000", "+0600", -1}, {"20250315070000", "+0600", 0}, {"20250315060000", "+0600", 0},
        {"20250315000000", "+0000", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.now) + " " + c.daytime);
        freeze_at(c.now);
        EXPECT_EQ(GM_TIME_daytime_delta(c.daytime), c.delta);
    }
}

TEST_F(TestClockTest, FactorSpeedsTimeFromTheSharedStartAndChangesAtOnce) {
    // A start ten real seconds ago, shared through the start file.
    const std::string start = real_now_text(-10);
    write_clock_file("/tmp/ORVANTA_START_SYS", start);
    time_t start_time = 0;
    GM_TIME_fmt_to_bin(start.c_str(), &start_time);

    write_clock_file("/tmp/ORVANTA_FACTOR", "3600\n");
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    EXPECT_GE(now, start_time + 10 * 3600);
    EXPECT_LE(now, start_time + 12 * 3600);

    // The start is read once per process: a new start file changes nothing.
    write_clock_file("/tmp/ORVANTA_START_SYS", "20000101000000");
    write_clock_file("/tmp/ORVANTA_FACTOR", "0");
    GM_TIME_bin_get_timer(&now);
    EXPECT_EQ(now, start_time);

    // Without the factor file the next reading is real time again.
    ASSERT_EQ(OS_TIME_delete_factor(), CM_RC_OK);
    GM_TIME_bin_get_timer(&now);
    EXPECT_NEAR(now, time(nullptr), 1);
    EXPECT_EQ(OS_TIME_delete_factor(), CM_RC_FAIL);
}

TEST_F(TestClockTest, FactorTooLargeForTheClockLeavesRealTime) {
    write_clock_file("/tmp/ORVANTA_START_SYS", "20000101000000");
    write_clock_file("/tmp/ORVANTA_FACTOR", "99999999999999999");
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    EXPECT_NEAR(now, time(nullptr), 1);
}

TEST_F(TestClockTest, FirstAcceleratedReadingRecordsTheStartTime) {
    write_clock_file("/tmp/ORVANTA_FACTOR", "1");
    const time_t before = time(nullptr);
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    EXPECT_NEAR(now, before, 1);
    char start[sizeof(DATETIME_D_typ)];
    ASSERT_EQ(OS_TIME_get_sdate(start), CM_RC_OK);
    time_t start_time = 0;
    GM_TIME_fmt_to_bin(start, &start_time);
    EXPECT_NEAR(start_time, before, 1);
}

TEST_F(TestClockTest, ClockFilesHoldOneWord) {
    char text[sizeof(DATETIME_D_typ)] = "junk";
    EXPECT_EQ(OS_TIME_get_odate(text), CM_RC_FAIL);  // missing
    EXPECT_STREQ(text, "");
    write_clock_file("/tmp/ORVANTA_ODAT", "");
    EXPECT_EQ(OS_TIME_get_odate(text), CM_RC_FAIL);  // empty
    write_clock_file("/tmp/ORVANTA_ODAT", "  20250101000000 trailing\n");
    EXPECT_EQ(OS_TIME_get_odate(text), CM_RC_OK);
    EXPECT_STREQ(text, "20250101000000");
    write_clock_file("/tmp/ORVANTA_ODAT", std::string(400, '7'));
    EXPECT_EQ(OS_TIME_get_odate(text), CM_RC_OK);  // cut to the buffer
    EXPECT_EQ(std::string(text), std::string(sizeof text - 1, '7'));

    EXPECT_EQ(OS_TIME_set_factor("60"), CM_RC_OK);
    EXPECT_EQ(testbed::read_whole_file("/tmp/ORVANTA_FACTOR"), "60");
    EXPECT_EQ(OS_TIME_get_factor(text), CM_RC_OK);
    EXPECT_STREQ(text, "60");
    EXPECT_EQ(OS_TIME_set_sdate("20250101000000"), CM_RC_OK);
    EXPECT_EQ(OS_TIME_delete_sdate(), CM_RC_OK);
    EXPECT_EQ(OS_TIME_get_sdate(text), CM_RC_FAIL);
    EXPECT_EQ(OS_TIME_delete_odate(), CM_RC_OK);
}
