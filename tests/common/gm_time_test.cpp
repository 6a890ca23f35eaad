#include "gm_time.h"

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "testbed.h"

namespace {

// Runs a test in a named time zone (UTC unless said otherwise).
class GmTimeTest : public ::testing::Test {
protected:
    void SetUp() override { use_zone("UTC"); }
    static void use_zone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    // 2026-03-12 14:05:09 UTC
    static constexpr time_t kSample = 1773324309;
};

std::string fmt2(GM_TIME_FMT_typ format, time_t when, unsigned short ms) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    GM_TIME_fmt_to_ascii2(format, when, ms, text);
    return text;
}

std::string fmt(GM_TIME_FMT_typ format, time_t when) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    GM_TIME_fmt_to_ascii(format, when, text);
    return text;
}

std::string gmt_fmt(GM_TIME_FMT_typ format, time_t when) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    GM_TIME_fmt_gmt_to_ascii(format, when, text);
    return text;
}

}  // namespace

TEST_F(GmTimeTest, EveryNamedFormatGivesItsTextAtItsLength) {
    struct Case {
        GM_TIME_FMT_typ format;
        const char* text;
    } cases[] = {
        {GM_TIME_FMT_HHMM, "1405"},
        {GM_TIME_FMT_HH_MM, "14:05"},
        {GM_TIME_FMT_DD_MMM_YYYY, "12-Mar-2026"},
        {GM_TIME_FMT_YYYYMMDD, "20260312"},
        {GM_TIME_FMT_YYYYMMDDHHMMSS, "20260312140509"},
        {GM_TIME_FMT_YYYY_MM_DD_HH_MM_SS, "2026-03-12 14:05:09"},
        {GM_TIME_FMT_MMDD, "0312"},
        {GM_TIME_FMT_DDMMYYYY, "12032026"},
        {GM_TIME_FMT_HHMMSS, "140509"},
        {GM_TIME_FMT_HH_MM_SS, "14:05:09"},
        {GM_TIME_FMT_HH_MM_SS_CC, "14:05:09:04"},
        {GM_TIME_FMT_HH_MM_SS_CCC, "14:05:09:042"},
        {GM_TIME_FMT_MMDD_HH_MM_SS_CCC, "0312 14:05:09:042"},
        {GM_TIME_FMT_HHMMSS_CCC, "140509042"},
        {GM_TIME_FMT_YYYYMMDD_HHMMSS_CCC, "20260312140509042"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(fmt2(c.format, kSample, 42), c.text);
        // The second-grain formatters know formats 0 to 9 only.
        EXPECT_EQ(fmt(c.format, kSample), c.format <= GM_TIME_FMT_HH_MM_SS ? c.text : "");
        EXPECT_EQ(gmt_fmt(c.format, kSample), c.format <= GM_TIME_FMT_HH_MM_SS ? c.text : "");
    }
}

TEST_F(GmTimeTest, FormatOutsideTheTableYieldsEmptyText) {
    for (int format : {-1, 15, 1000}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(fmt(static_cast<GM_TIME_FMT_typ>(format), kSample), "");
        EXPECT_EQ(fmt2(static_cast<GM_TIME_FMT_typ>(format), kSample, 1), "");
        EXPECT_EQ(gmt_fmt(static_cast<GM_TIME_FMT_typ>(format), kSample), "");
    }
}

TEST_F(GmTimeTest, LocalAndUniversalFormattersDifferByTheZoneOffset) {
    use_zone("Asia/Kolkata");  // +05:30, no daylight saving
    EXPECT_EQ(fmt(GM_TIME_FMT_HH_MM_SS, kSample), "19:35:09");
    EXPECT_EQ(gmt_fmt(GM_TIME_FMT_HH_MM_SS, kSample), "14:05:09");
    DATETIME_D_typ zero;
    GM_TIME_fmt_get_time_zero(GM_TIME_FMT_YYYYMMDDHHMMSS, zero);
    EXPECT_STREQ(zero, "19700101053000");
}

TEST_F(GmTimeTest, FixedPositionTextsReadBackIntoTimes) {
    time_t when = 0;
    GM_TIME_fmt_to_bin("20260312140509", &when);
    EXPECT_EQ(when, kSample);
    EXPECT_EQ(GM_TIME_fmt_YYYYMMDDHHMMSS_to_seconds("20260312140509"), kSample);
    EXPECT_EQ(GM_TIME_fmt_HHMM_to_seconds("1405"), 14 * 3600 + 5 * 60);
    EXPECT_EQ(GM_TIME_fmt_HHMMSS_to_seconds("140509"), 14 * 3600 + 5 * 60 + 9);
    EXPECT_EQ(GM_TIME_fmt_get_year_number("20260312"), 2026);
    EXPECT_EQ(GM_TIME_fmt_get_month_number("20260312"), 3);
    EXPECT_EQ(GM_TIME_fmt_get_day_number("20260312"), 12);
    EXPECT_EQ(gm_time_int_year_to_full_year(126), 2026);
    // No validation: a non-digit counts by its character code ('A' - '0' = 17).
    EXPECT_EQ(GM_TIME_fmt_get_month_number("2026A1"), 171);
}

TEST_F(GmTimeTest, ShortTextsAreNeverReadPastTheirEnd) {
    // Exact-size heap copies let the address sanitizer catch a read past the terminator.
    for (const char* text : {"", "2", "2026", "202603", "2026031"}) {
        SCOPED_TRACE(text);
        std::unique_ptr<char[]> copy(new char[std::strlen(text) + 1]);
        std::strcpy(copy.get(), text);
        time_t when = 0;
        GM_TIME_fmt_to_bin(copy.get(), &when);
        GM_TIME_fmt_YYYYMMDDHHMMSS_to_seconds(copy.get());
        GM_TIME_fmt_HHMMSS_to_seconds(copy.get());
        GM_TIME_fmt_get_day_number(copy.get());
        GM_TIME_fmt_date_to_julday(copy.get());
        int dow = 0;
        GM_TIME_fmt_get_day_of_week(copy.get(), &dow);
        char name[4];
        GM_TIME_fmt_get_month_name(copy.get(), name);
        GM_TIME_fmt_calcdate(copy.get(), 3);
        EXPECT_STREQ(copy.get(), text);  // fewer than 8 characters: left as it is
    }
    // Missing fields read as zero.
    EXPECT_EQ(GM_TIME_fmt_get_day_number("202603"), 0);
    EXPECT_EQ(GM_TIME_fmt_HHMMSS_to_seconds("14"), 14 * 3600);
}

TEST_F(GmTimeTest, CalcdateMovesTheDateAcrossMonthAndYearEnds) {
    struct Case {
        const char* zone;
        const char* date;
        int days;
        const char* moved;
    } cases[] = {
        {"UTC", "20250228", 1, "20250301"},
        {"UTC", "20250301", -1, "20250228"},
        {"UTC", "20240228", 1, "20240229"},
        {"UTC", "20241231", 1, "20250101"},
        {"UTC", "20250115", 365, "20260115"},
        {"UTC", "20250301", 0, "20250301"},
        {"UTC", "20250301XYZ", 1, "20250302"},  // a longer text is cut after the date
        // Noon keeps the daylight-saving change from skipping or repeating a day.
        {"Europe/Berlin", "20250330", 1, "20250331"},
        {"Europe/Berlin", "20250331", -1, "20250330"},
        {"America/New_York", "20251102", 1, "20251103"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.date);
        use_zone(c.zone);
        char date[16];
        std::strcpy(date, c.date);
        GM_TIME_fmt_calcdate(date, c.days);
        EXPECT_STREQ(date, c.moved);
    }
    GM_TIME_fmt_calcdate(nullptr, 1);
}

TEST_F(GmTimeTest, DayOfWeekRefusesDaysThatDoNotExist) {
    struct Case {
        const char* date;
        CM_RC rc;
        int day;
        const char* name;
        const char* month;
    } cases[] = {
        {"20240229", CM_RC_OK, 5, "THU", "FEB"}, {"20260308", CM_RC_OK, 1, "SUN", "MAR"},
        {"20260314", CM_RC_OK, 7, "SAT", "MAR"}, {"20230229", CM_RC_FAIL, -1, "", "FEB"},
        {"20250431", CM_RC_FAIL, -1, "", "APR"}, {"19691231", CM_RC_FAIL, -1, "", "DEC"},
        {"20251315", CM_RC_OK, 5, "THU", "   "},  // the month itself is not tested
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        int day = 0;
        EXPECT_EQ(GM_TIME_fmt_get_day_of_week(c.date, &day), c.rc);
        EXPECT_EQ(day, c.day);
        char name[4] = "zzz";
        GM_TIME_fmt_get_day_name(c.date, name);
        EXPECT_STREQ(name, c.name);
        GM_TIME_fmt_get_month_name(c.date, name);
        EXPECT_STREQ(name, c.month);
    }
}

TEST_F(GmTimeTest, DateNumbersCountDaysBetweenDates) {
    struct Case {
        const char* zone;
        const char* date1;
        const char* date2;
        long days;
    } cases[] = {
        {"UTC", "20250301", "20250228", 1},           {"UTC", "20250228", "20250301", -1},
        {"UTC", "20250101", "20241231", 1},           {"UTC", "20250301", "20240301", 365},
        {"Europe/Berlin", "20250331", "20250330", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.date1 + " " + c.date2);
        use_zone(c.zone);
        EXPECT_EQ(GM_TIME_fmt_compare_dates(c.date1, c.date2), c.days);
    }
    use_zone("UTC");
    EXPECT_EQ(GM_TIME_fmt_date_to_int("19700101"), 1);
    EXPECT_EQ(GM_TIME_fmt_date_to_julday("20250101"), 1);
    EXPECT_EQ(GM_TIME_fmt_date_to_julday("20241231"), 366);
}

TEST_F(GmTimeTest, DeltasAndElapsedTimesInWords) {
    char out[80];
    EXPECT_STREQ(GM_TIME_add_delta("20251231235959", out, 2), "20260101000001");
    EXPECT_STREQ(GM_TIME_add_delta("20260101000001", out, -2), "20251231235959");
    GM_TIME_get_delta_string("20260312140509", "20260310120000", out);
    EXPECT_STREQ(out, "2 days 2 hours 5 minutes 9 seconds");
    GM_TIME_get_delta_string("20260310120000", "20260312140509", out);
    EXPECT_STREQ(out, "2 days 2 hours 5 minutes 9 seconds");
    long diff = 0;
    GM_TIME_bin_get_timer_diff(100, 250, &diff);
    EXPECT_EQ(diff, 150);
    GM_TIME_bin_get_timer_diff(250, 100, &diff);
    EXPECT_EQ(diff, 150);
    int days = 0;
    GM_TIME_bin_get_timer_date(kSample, &days);
    EXPECT_EQ(days, 20524);
    EXPECT_EQ(GM_TIME_bin_timer_to_seconds(kSample), 14 * 3600 + 5 * 60 + 9);
    int sec, min, hour, mday, mon, year, wday, yday;
    GM_TIME_bin_get_timer_elements(kSample, &sec, &min, &hour, &mday, &mon, &year, &wday, &yday);
    EXPECT_EQ((std::vector<int>{sec, min, hour, mday, mon, year, wday, yday}),
              (std::vector<int>{9, 5, 14, 12, 3, 2026, 4, 70}));
}

TEST_F(GmTimeTest, TimesAreComparedWithNow) {
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    DATETIME_D_typ later, earlier;
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, now + 3600, later);
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, now - 3600, earlier);
    time_t gap = 0;
    EXPECT_EQ(GM_TIME_fmt_compare(later, &gap), GM_TIME_GT);
    EXPECT_NEAR(gap, 3600, 2);
    EXPECT_EQ(GM_TIME_fmt_compare(earlier, &gap), GM_TIME_LT);
    EXPECT_NEAR(gap, 3600, 2);
    long elapsed = 0;
    GM_TIME_bin_get_timer_elapsed(now - 90, &elapsed);
    EXPECT_NEAR(elapsed, 90, 2);
    char words[80];
    GM_TIME_bin_get_timer_string(now - 3 * 86400 - 60, words);
    EXPECT_EQ(std::string(words).rfind("3 days 0 hours 1 minutes ", 0), 0u) << words;
}

TEST_F(GmTimeTest, TimerMeasuresRealTimeInHundredths) {
    OS_TIME_TIMER_typ timer{};
    OS_TIME_timer(0, &timer);
    EXPECT_EQ(OS_TIME_sleep(1), CM_RC_OK);
    EXPECT_EQ(OS_TIME_sleep(0), CM_RC_OK);
    OS_TIME_timer(1, &timer);
    EXPECT_GE(timer.real_time, 99);
    EXPECT_LT(timer.real_time, 300);
    EXPECT_GE(timer.cpu_time, 0);
    const long uniq = OS_TIME_creat_uniq();
    EXPECT_GE(uniq, 0);
    EXPECT_LT(uniq, 240000000);
}

void wake_up(int) {}

TEST_F(GmTimeTest, SleepEndedByASignalIsQuietAndAFailedSleepSaysWhy) {
    struct sigaction action {};
    action.sa_handler = wake_up;
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    {
        // Signalled a moment into a sleep of 30 seconds: it ends at once and says nothing.
        testbed::StderrCapture captured;
        const pthread_t sleeper = pthread_self();
        std::thread signaller([sleeper] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pthread_kill(sleeper, SIGUSR1);
        });
        const auto start = std::chrono::steady_clock::now();
        os_time_sleep_select(30);
        const auto slept = std::chrono::steady_clock::now() - start;
        signaller.join();
        EXPECT_LT(slept, std::chrono::seconds(10));
        EXPECT_EQ(captured.text(), "");
    }
    {
        testbed::StderrCapture captured;
        os_time_sleep_select(-1);
        EXPECT_EQ(captured.text(), std::string("select - os_time_sleep_select: ") + std::strerror(EINVAL) + "\n");
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(GmTimeTest, WithoutTheTestClockTheFactorIsNotRead) {
    unsetenv("ORVANTA_TIME_ACC");
    char factor[sizeof(DATETIME_D_typ)] = "junk";
    EXPECT_EQ(OS_TIME_get_factor(factor), CM_RC_FAIL);
    EXPECT_STREQ(factor, "");
    time_t before = time(nullptr), now = 0;
    GM_TIME_bin_get_timer(&now);
    EXPECT_NEAR(now, before, 1);
}
