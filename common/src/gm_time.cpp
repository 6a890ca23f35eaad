/* The agent library's clock, its named time formats and the fixed-position time parsers.
 * Owns the test clock (ORVANTA_TIME_ACC with its files under /tmp) and the remembered
 * daylight-saving flag that turns dates back into times. */
#include "gm_time.h"

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "os_diag.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_proc.h" /* the process name: the test clock asks whether this process resets the start time */

namespace {

enum class Millis { none, hundredths, colon_millis, millis };

struct FormatSpec {
    const char* pattern;  // strftime pattern of the seconds part
    size_t length;        // length of the whole text
    Millis millis;        // what follows the seconds part
};

// Indexed by GM_TIME_FMT_typ.
constexpr FormatSpec kFormats[] = {
    {"%H%M", 4, Millis::none},
    {"%H:%M", 5, Millis::none},
    {"%d-%b-%Y", 11, Millis::none},
    {"%Y%m%d", 8, Millis::none},
    {"%Y%m%d%H%M%S", 14, Millis::none},
    {"%Y-%m-%d %H:%M:%S", 19, Millis::none},
    {"%m%d", 4, Millis::none},
    {"%d%m%Y", 8, Millis::none},
    {"%H%M%S", 6, Millis::none},
    {"%H:%M:%S", 8, Millis::none},
    {"%H:%M:%S", 11, Millis::hundredths},
    {"%H:%M:%S", 12, Millis::colon_millis},
    {"%m%d %H:%M:%S", 17, Millis::colon_millis},
    {"%H%M%S", 9, Millis::millis},
    {"%Y%m%d%H%M%S", 17, Millis::millis},
};
constexpr int kLastPlainFormat = GM_TIME_FMT_HH_MM_SS;
constexpr int kLastFormat = GM_TIME_FMT_YYYYMMDD_HHMMSS_CCC;

constexpr const char* kDayNames[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr const char* kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Longest first word kept from a test-clock file (a DATETIME_D_typ text).
constexpr size_t kClockWordMax = sizeof(DATETIME_D_typ) - 1;

// Daylight-saving flag of the last clock reading; used when dates are turned back into times.
std::atomic<int> is_dst{0};

// Test-clock state: decided once per process, start time fixed on the first accelerated reading.
std::mutex clock_mutex;
[[maybe_unused]] const bool clock_fork_safe = os_fork::hold_across_fork(os_fork::Rank::clock, clock_mutex);
// 0 not yet decided, 1 active, 2 inactive. Read on every clock reading (every log line): a flag
// rather than a lock.
std::atomic<int> time_acc_active{0};
bool start_sys_known = false;
time_t start_sys_time = 0;

// Reads len characters from pos as decimal digits: each character counts by its code minus '0'
// (no validation); characters past the end of the text count as 0, so nothing past the
// terminator is read.
long digits(const char* text, size_t pos, size_t len) {
    if (!text) return 0;
    const size_t n = strnlen(text, pos + len);
    long value = 0;
    for (size_t i = pos; i < pos + len; ++i) value = value * 10 + (i < n ? text[i] - '0' : 0);
    return value;
}

struct tm local_tm(time_t when) {
    struct tm tm {};
    localtime_r(&when, &tm);
    return tm;
}

struct tm gmt_tm(time_t when) {
    struct tm tm {};
    gmtime_r(&when, &tm);
    return tm;
}

// The date fields of a YYYYMMDD text at the given hour, with the given daylight-saving flag.
struct tm date_tm(const char* date, int hour, int isdst) {
    struct tm tm {};
    tm.tm_year = static_cast<int>(digits(date, 0, 4)) - 1900;
    tm.tm_mon = static_cast<int>(digits(date, 4, 2)) - 1;
    tm.tm_mday = static_cast<int>(digits(date, 6, 2));
    tm.tm_hour = hour;
    tm.tm_isdst = isdst;
    return tm;
}

// Formats broken-down time into text, cut to the format's length.
void format_tm(int format, const struct tm& tm, int milliseconds, char* text) {
    const FormatSpec& spec = kFormats[format];
    char buffer[64];
    size_t used = std::strftime(buffer, sizeof buffer, spec.pattern, &tm);
    int extra = 0;
    switch (spec.millis) {
    case Millis::none: break;
    case Millis::hundredths:
        extra = std::snprintf(buffer + used, sizeof buffer - used, ":%02d", milliseconds / 10);
        break;
    case Millis::colon_millis: extra = std::snprintf(buffer + used, sizeof buffer - used, ":%03d", milliseconds); break;
    case Millis::millis: extra = std::snprintf(buffer + used, sizeof buffer - used, "%03d", milliseconds); break;
    }
    if (extra > 0) used += static_cast<size_t>(extra);
    if (used >= sizeof buffer) used = sizeof buffer - 1;
    const size_t n = used < spec.length ? used : spec.length;
    std::memcpy(text, buffer, n);
    text[n] = '\0';
}

std::string elapsed_words(long seconds) {
    char text[80];
    std::snprintf(text, sizeof text, "%d days %d hours %d minutes %d seconds", static_cast<int>(seconds / 86400),
                  static_cast<int>(seconds % 86400 / 3600), static_cast<int>(seconds % 3600 / 60),
                  static_cast<int>(seconds % 60));
    return text;
}

bool blank(const char* text) {
    if (!text) return true;
    for (; *text; ++text)
        if (*text != ' ') return false;
    return true;
}

// The HHMM part of a signed day-start time ("+0600", "-0600").
std::string daytime_hhmm(const char* daytime) {
    if (!daytime) return "";
    if (*daytime == '+' || *daytime == '-' || *daytime == ' ') ++daytime;
    return std::string(daytime, strnlen(daytime, 4));
}

// First word of a test-clock file into text (emptied first); 2 when the file is missing or empty.
CM_RC read_first_word(const char* path, char* text) {
    if (!text) return CM_RC_FAIL;
    text[0] = '\0';
    const int fd = os_file::open_regular(path, O_RDONLY);  // a FIFO planted there never holds the clock
    if (fd < 0) return CM_RC_FAIL;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0) return CM_RC_FAIL;
    size_t i = 0;
    const size_t end = static_cast<size_t>(got);
    while (i < end && std::strchr(" \t\r\n", buffer[i]) && buffer[i]) ++i;
    size_t n = 0;
    while (i + n < end && buffer[i + n] && !std::strchr(" \t\r\n", buffer[i + n]) && n < kClockWordMax) ++n;
    if (n == 0) return CM_RC_FAIL;
    std::memcpy(text, buffer + i, n);
    text[n] = '\0';
    return CM_RC_OK;
}

CM_RC write_clock_file(const char* path, const char* text) {
    if (!text) return CM_RC_FAIL;
    const int fd = os_file::open_regular(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return CM_RC_FAIL;
    const size_t len = std::strlen(text);
    const bool ok = write(fd, text, len) == static_cast<ssize_t>(len);
    close(fd);
    return ok ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC delete_clock_file(const char* path) { return unlink(path) == 0 ? CM_RC_OK : CM_RC_FAIL; }

bool test_clock_active() {
    int active = time_acc_active.load(std::memory_order_acquire);
    if (active == 0) {
        // Threads deciding at once all read the same environment; the first decision stays.
        int undecided = 0;
        active = std::getenv("ORVANTA_TIME_ACC") ? 1 : 2;
        if (!time_acc_active.compare_exchange_strong(undecided, active, std::memory_order_acq_rel)) active = undecided;
    }
    return active == 1;
}

bool is_start_resetting_process() {
    const char* name = OS_PROC_name();
    return name && std::strcmp(name, "SU") == 0;
}

void trace_window(const char* format, const char* a, const char* b) { DIAG_TRACE(3, format, a ? a : "", b ? b : ""); }

}  // namespace

extern "C" {

/* ---- clock ---- */

void OS_TIME_acceleration(time_t* now) {
    if (!now || !test_clock_active()) return;
    char word[sizeof(DATETIME_D_typ)];
    if (read_first_word(OS_TIME_FACTOR_FILE, word) != CM_RC_OK) return;
    const long factor = std::atol(word);

    std::lock_guard<std::mutex> lock(clock_mutex);
    if (!start_sys_known) {
        if (is_start_resetting_process()) unlink(OS_TIME_SDATE_FILE);
        char start_text[sizeof(DATETIME_D_typ)];
        if (read_first_word(OS_TIME_SDATE_FILE, start_text) == CM_RC_OK) {
            GM_TIME_fmt_to_bin(start_text, &start_sys_time);
        } else {
            start_sys_time = *now;
            GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, *now, start_text);
            write_clock_file(OS_TIME_SDATE_FILE, start_text);
        }
        start_sys_known = true;
    }
    time_t base = start_sys_time;
    char odate[sizeof(DATETIME_D_typ)];
    if (read_first_word(OS_TIME_ODATE_FILE, odate) == CM_RC_OK) GM_TIME_fmt_to_bin(odate, &base);
    // The factor comes from a file anyone may write: a reading it would carry beyond the range of
    // a time stays real time.
    long scaled = 0;
    long accelerated = 0;
    if (__builtin_mul_overflow(factor, static_cast<long>(*now - start_sys_time), &scaled) ||
        __builtin_add_overflow(scaled, static_cast<long>(base), &accelerated))
        return;
    *now = static_cast<time_t>(accelerated);
}

void GM_TIME_bin_get_timer(time_t* now) {
    if (!now) return;
    time_t t = std::time(nullptr);
    OS_TIME_acceleration(&t);
    is_dst = local_tm(t).tm_isdst;
    *now = t;
}

void GM_TIME_bin_get_gmt_timer(time_t* now) {
    if (!now) return;
    time_t t = std::time(nullptr);
    OS_TIME_acceleration(&t);
    is_dst = gmt_tm(t).tm_isdst;
    *now = t;
}

void OS_TIME_bin_get_timer2(time_t* now, unsigned short* milliseconds) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    OS_TIME_acceleration(&t);
    if (now) *now = t;
    if (milliseconds) *milliseconds = static_cast<unsigned short>(tv.tv_usec / 1000);
}

void OS_TIME_get_hr_time(time_t* now, int* milliseconds) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    if (now) *now = tv.tv_sec;
    if (milliseconds) *milliseconds = static_cast<int>(tv.tv_usec / 1000);
}

long OS_TIME_creat_uniq(void) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    const struct tm tm = local_tm(tv.tv_sec);
    return tm.tm_hour * 10000000L + tm.tm_min * 100000L + tm.tm_sec * 1000L + tv.tv_usec / 1000;
}

void os_time_sleep_select(int seconds) {
    struct timeval timeout {};
    timeout.tv_sec = seconds;
    // A signal (the shutdown request among them) ends the sleep early: a wake-up, not a failure.
    if (select(0, nullptr, nullptr, nullptr, &timeout) < 0 && errno != EINTR)
        std::perror("select - os_time_sleep_select");
}

CM_RC OS_TIME_sleep(SLEEPINT_D_typ seconds) {
    if (seconds > 0) os_time_sleep_select(seconds);
    return CM_RC_OK;
}

void OS_TIME_timer(int start_stop, OS_TIME_TIMER_typ* timer) {
    if (!timer) return;
    if (start_stop == 0) {
        gettimeofday(&timer->time_before, nullptr);
        return;
    }
    struct timeval now {};
    gettimeofday(&now, nullptr);
    timer->real_time =
        (now.tv_sec - timer->time_before.tv_sec) * 100L + (now.tv_usec - timer->time_before.tv_usec) / 10000L;
    timer->cpu_time = static_cast<long>(std::clock() / (CLOCKS_PER_SEC / 100));
}

/* ---- formatting ---- */

void GM_TIME_fmt_to_ascii(GM_TIME_FMT_typ format, time_t when, char* text) {
    if (!text) return;
    text[0] = '\0';
    if (format < 0 || format > kLastPlainFormat) return;
    format_tm(format, local_tm(when), 0, text);
}

void GM_TIME_fmt_gmt_to_ascii(GM_TIME_FMT_typ format, time_t when, char* text) {
    if (!text) return;
    text[0] = '\0';
    if (format < 0 || format > kLastPlainFormat) return;
    format_tm(format, gmt_tm(when), 0, text);
}

void GM_TIME_fmt_to_ascii2(GM_TIME_FMT_typ format, time_t when, unsigned short milliseconds, char* text) {
    if (!text) return;
    text[0] = '\0';
    if (format < 0 || format > kLastFormat) return;
    format_tm(format, local_tm(when), milliseconds, text);
}

void GM_TIME_fmt_get_time(GM_TIME_FMT_typ format, char* text) {
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    GM_TIME_fmt_to_ascii(format, now, text);
}

void GM_TIME_fmt_get_gmt_time(GM_TIME_FMT_typ format, char* text) {
    time_t now = 0;
    GM_TIME_bin_get_gmt_timer(&now);
    GM_TIME_fmt_gmt_to_ascii(format, now, text);
}

void GM_TIME_fmt_get_time2(GM_TIME_FMT_typ format, char* text) {
    time_t now = 0;
    unsigned short milliseconds = 0;
    OS_TIME_bin_get_timer2(&now, &milliseconds);
    GM_TIME_fmt_to_ascii2(format, now, milliseconds, text);
}

void GM_TIME_fmt_get_time_zero(GM_TIME_FMT_typ format, char* text) { GM_TIME_fmt_to_ascii(format, 0, text); }

/* ---- parsing and arithmetic ---- */

void GM_TIME_fmt_to_bin(const char* text, time_t* when) {
    if (!text || !when) return;
    struct tm tm = date_tm(text, static_cast<int>(digits(text, 8, 2)), is_dst);
    tm.tm_min = static_cast<int>(digits(text, 10, 2));
    tm.tm_sec = static_cast<int>(digits(text, 12, 2));
    *when = mktime(&tm);
}

long GM_TIME_fmt_YYYYMMDDHHMMSS_to_seconds(const char* text) {
    if (!text) return 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = 0;
    return static_cast<long>(mktime(&tm));
}

long GM_TIME_fmt_HHMM_to_seconds(const char* text) { return digits(text, 0, 2) * 3600 + digits(text, 2, 2) * 60; }

long GM_TIME_fmt_HHMMSS_to_seconds(const char* text) { return GM_TIME_fmt_HHMM_to_seconds(text) + digits(text, 4, 2); }

int GM_TIME_fmt_get_year_number(const char* date) { return static_cast<int>(digits(date, 0, 4)); }
int GM_TIME_fmt_get_month_number(const char* date) { return static_cast<int>(digits(date, 4, 2)); }
int GM_TIME_fmt_get_day_number(const char* date) { return static_cast<int>(digits(date, 6, 2)); }
int gm_time_int_year_to_full_year(int year) { return year + 1900; }

long GM_TIME_fmt_date_to_int(const char* date) {
    struct tm tm = date_tm(date, 0, is_dst);
    return static_cast<long>(mktime(&tm) / 86400) + 1;
}

long GM_TIME_fmt_compare_dates(const char* date1, const char* date2) {
    return GM_TIME_fmt_date_to_int(date1) - GM_TIME_fmt_date_to_int(date2);
}

int GM_TIME_fmt_date_to_julday(const char* date) {
    struct tm tm = date_tm(date, 0, -1);
    mktime(&tm);
    return tm.tm_yday + 1;
}

void GM_TIME_fmt_calcdate(char* date, int days) {
    if (!date || strnlen(date, 8) < 8 || days == 0) return;
    DIAG_TRACE(2, "GM_TIME_fmt_calcdate: ODATE:%s, delta: %d", date, days);
    // Noon keeps a daylight-saving change from moving the result to another day.
    struct tm tm = date_tm(date, 12, -1);
    tm.tm_mday += days;
    mktime(&tm);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    std::memcpy(date, text, 8);
    date[8] = '\0';
}

CM_RC GM_TIME_fmt_get_day_of_week(const char* date, int* day_of_week) {
    int dummy = 0;
    if (!day_of_week) day_of_week = &dummy;
    *day_of_week = -1;
    if (!date) return CM_RC_FAIL;
    struct tm tm = date_tm(date, 0, -1);
    const int day = tm.tm_mday;
    const time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) || t < 0 || tm.tm_mday != day) return CM_RC_FAIL;
    *day_of_week = tm.tm_wday + 1;
    return CM_RC_OK;
}

void GM_TIME_fmt_get_day_name(const char* date, char* name) {
    if (!name) return;
    int day = -1;
    if (GM_TIME_fmt_get_day_of_week(date, &day) != CM_RC_OK) {
        name[0] = '\0';
        return;
    }
    std::memcpy(name, kDayNames[day - 1], 4);
}

void GM_TIME_fmt_get_month_name(const char* date, char* name) {
    if (!name) return;
    const int month = GM_TIME_fmt_get_month_number(date);
    std::memcpy(name, month >= 1 && month <= 12 ? kMonthNames[month - 1] : "   ", 4);
}

char* GM_TIME_add_delta(const char* text, char* out, long seconds) {
    if (!out) return out;
    time_t t = 0;
    GM_TIME_fmt_to_bin(text, &t);
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, t + seconds, out);
    return out;
}

char* GM_TIME_get_fmt_HHMM_delta(char* out, int minutes) {
    if (!out) return out;
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    if (now + minutes * 60L > 0) now += minutes * 60L;
    const struct tm tm = local_tm(now);
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d", tm.tm_hour, tm.tm_min);
    std::memcpy(out, text, sizeof(TIME_D_typ) - 1);
    out[sizeof(TIME_D_typ) - 1] = '\0';
    return out;
}

void GM_TIME_bin_get_timer_diff(time_t time1, time_t time2, long* diff) {
    if (diff) *diff = static_cast<long>(time1 > time2 ? time1 - time2 : time2 - time1);
}

void GM_TIME_bin_get_timer_elapsed(time_t since, long* elapsed) {
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    GM_TIME_bin_get_timer_diff(now, since, elapsed);
}

void GM_TIME_bin_get_timer_string(time_t since, char* text) {
    if (!text) return;
    long elapsed = 0;
    GM_TIME_bin_get_timer_elapsed(since, &elapsed);
    const std::string words = elapsed_words(elapsed);
    std::memcpy(text, words.c_str(), words.size() + 1);
}

void GM_TIME_get_delta_string(const char* text1, const char* text2, char* text) {
    if (!text) return;
    time_t t1 = 0, t2 = 0;
    GM_TIME_fmt_to_bin(text1, &t1);
    GM_TIME_fmt_to_bin(text2, &t2);
    long diff = 0;
    GM_TIME_bin_get_timer_diff(t1, t2, &diff);
    const std::string words = elapsed_words(diff);
    std::memcpy(text, words.c_str(), words.size() + 1);
}

void GM_TIME_bin_get_timer_elements(time_t when, int* seconds, int* minutes, int* hours, int* day_of_month, int* month,
                                    int* year, int* day_of_week, int* day_of_year) {
    const struct tm tm = local_tm(when);
    if (seconds) *seconds = tm.tm_sec;
    if (minutes) *minutes = tm.tm_min;
    if (hours) *hours = tm.tm_hour;
    if (day_of_month) *day_of_month = tm.tm_mday;
    if (month) *month = tm.tm_mon + 1;
    if (year) *year = gm_time_int_year_to_full_year(tm.tm_year);
    if (day_of_week) *day_of_week = tm.tm_wday;
    if (day_of_year) *day_of_year = tm.tm_yday;
}

void GM_TIME_bin_get_timer_date(time_t when, int* days) {
    if (days) *days = static_cast<int>(when / 86400);
}

long GM_TIME_bin_timer_to_seconds(time_t when) {
    struct tm tm = local_tm(when);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = is_dst;
    return static_cast<long>(when - mktime(&tm));
}

GM_TIME_CMP_typ GM_TIME_fmt_compare(const char* text, time_t* gap) {
    time_t then = 0, now = 0;
    GM_TIME_fmt_to_bin(text, &then);
    GM_TIME_bin_get_timer(&now);
    if (gap) *gap = then > now ? then - now : now - then;
    if (then > now) return GM_TIME_GT;
    return then == now ? GM_TIME_EQ : GM_TIME_LT;
}

/* ---- day windows ---- */

CM_RC GM_TIME_window_check(const char* from, const char* until, const char* job_odate, const char* curr_odate,
                           const char* daytime) {
    TIME_D_typ now;
    GM_TIME_fmt_get_time(GM_TIME_FMT_HHMM, now);
    DIAG_TRACE(3, "GM_TIME_window_check_lower: curr:%s, from:%s, until:%s, dtime:%s", now, from ? from : "",
               until ? until : "", daytime ? daytime : "");
    if (blank(from) && blank(until)) {
        trace_window("OK:until='%s' and from='%s'", until, from);
        return CM_RC_OK;
    }
    const std::string day_start = daytime_hhmm(daytime);
    std::string from_hhmm = from ? from : "";
    std::string until_hhmm = until ? until : "";
    if (blank(from)) {
        trace_window("Set from to %s (old=%s)", day_start.c_str(), from);
        from_hhmm = day_start;
    }
    if (blank(until)) {
        trace_window("Set Until to %s (old=%s)", day_start.c_str(), until);
        until_hhmm = day_start;
    }
    if (until_hhmm[0] == '>') {
        trace_window("Set Until to %s (old=%s)", day_start.c_str(), until_hhmm.c_str());
        until_hhmm = day_start;
        if (job_odate && curr_odate && std::atol(job_odate) < std::atol(curr_odate)) {
            DIAG_TRACE(3, "Until=%s, Job's Odate:%s LT  Curr Odate:%s. Job ", until_hhmm.c_str(), job_odate,
                       curr_odate);
            return CM_RC_OK;
        }
    }
    const long f = digits(from_hhmm.c_str(), 0, 4);
    const long u = digits(until_hhmm.c_str(), 0, 4);
    const long n = digits(now, 0, 4);
    const bool inside = u > f ? (f <= n && n < u) : (n >= f || n < u);
    return inside ? CM_RC_OK : CM_RC_FAIL;
}

int GM_TIME_daytime_delta(const char* daytime) {
    if (!daytime) return 0;
    TIME_D_typ now;
    GM_TIME_fmt_get_time(GM_TIME_FMT_HHMM, now);
    const long n = digits(now, 0, 4);
    const long start = digits(daytime_hhmm(daytime).c_str(), 0, 4);
    if (std::strchr(daytime, '-')) return n >= start ? 1 : 0;
    return n < start ? -1 : 0;
}

/* ---- test-clock files ---- */

CM_RC OS_TIME_get_factor(char* text) {
    if (text) text[0] = '\0';
    if (!test_clock_active()) return CM_RC_FAIL;
    return read_first_word(OS_TIME_FACTOR_FILE, text);
}
CM_RC OS_TIME_set_factor(const char* text) { return write_clock_file(OS_TIME_FACTOR_FILE, text); }
CM_RC OS_TIME_delete_factor(void) { return delete_clock_file(OS_TIME_FACTOR_FILE); }
CM_RC OS_TIME_get_odate(char* text) { return read_first_word(OS_TIME_ODATE_FILE, text); }
CM_RC OS_TIME_set_odate(const char* text) { return write_clock_file(OS_TIME_ODATE_FILE, text); }
CM_RC OS_TIME_delete_odate(void) { return delete_clock_file(OS_TIME_ODATE_FILE); }
CM_RC OS_TIME_get_sdate(char* text) { return read_first_word(OS_TIME_SDATE_FILE, text); }
CM_RC OS_TIME_set_sdate(const char* text) { return write_clock_file(OS_TIME_SDATE_FILE, text); }
CM_RC OS_TIME_delete_sdate(void) { return delete_clock_file(OS_TIME_SDATE_FILE); }

}  // extern "C"
