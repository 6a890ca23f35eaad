/* The agent library's clock and its time texts: every reading of "now" goes through one place that
 * an accelerated test clock can replace (ORVANTA_TIME_ACC and its files under /tmp), every time text
 * is one of the named formats, and fixed-position parsers turn those texts back into times and days. */
#ifndef GM_TIME_H
#define GM_TIME_H

#include <sys/time.h>
#include <time.h>

#include "cmpltfrm.h"

/* Fixed-size texts (room for the terminator included). */
typedef char TIME_D_typ[5];      /* HHMM */
typedef char DAYTIME_D_typ[7];   /* signed day-start time: +HHMM or -HHMM */
typedef char DATETYPE_D_typ[9];  /* YYYYMMDD */
typedef char DATETIME_D_typ[18]; /* holds every format of GM_TIME_FMT_typ except format 5 (19 characters) */
typedef int SLEEPINT_D_typ;      /* seconds to sleep */

typedef enum {
    GM_TIME_FMT_HHMM = 0,                /* "%H%M"                         4 */
    GM_TIME_FMT_HH_MM = 1,               /* "%H:%M"                        5 */
    GM_TIME_FMT_DD_MMM_YYYY = 2,         /* "%d-%b-%Y"                    11 */
    GM_TIME_FMT_YYYYMMDD = 3,            /* "%Y%m%d"                       8 */
    GM_TIME_FMT_YYYYMMDDHHMMSS = 4,      /* "%Y%m%d%H%M%S"                14 */
    GM_TIME_FMT_YYYY_MM_DD_HH_MM_SS = 5, /* "%Y-%m-%d %H:%M:%S"           19 */
    GM_TIME_FMT_MMDD = 6,                /* "%m%d"                         4 */
    GM_TIME_FMT_DDMMYYYY = 7,            /* "%d%m%Y"                       8 */
    GM_TIME_FMT_HHMMSS = 8,              /* "%H%M%S"                       6 */
    GM_TIME_FMT_HH_MM_SS = 9,            /* "%H:%M:%S"                     8 */
    GM_TIME_FMT_HH_MM_SS_CC = 10,        /* "%H:%M:%S:" hundredths        11 */
    GM_TIME_FMT_HH_MM_SS_CCC = 11,       /* "%H:%M:%S:" milliseconds      12 */
    GM_TIME_FMT_MMDD_HH_MM_SS_CCC = 12,  /* "%m%d %H:%M:%S:" milliseconds 17 (log line time) */
    GM_TIME_FMT_HHMMSS_CCC = 13,         /* "%H%M%S" milliseconds          9 */
    GM_TIME_FMT_YYYYMMDD_HHMMSS_CCC = 14 /* "%Y%m%d%H%M%S" milliseconds   17 */
} GM_TIME_FMT_typ;

typedef enum { GM_TIME_GT = 0, GM_TIME_EQ = 1, GM_TIME_LT = 2 } GM_TIME_CMP_typ;

typedef struct {
    struct timeval time_before; /* wall clock at start */
    long cpu_time;              /* hundredths of a second */
    long real_time;             /* hundredths of a second */
} OS_TIME_TIMER_typ;

/* Test-clock files shared by every process of the machine. */
#define OS_TIME_FACTOR_FILE "/tmp/ORVANTA_FACTOR"
#define OS_TIME_ODATE_FILE "/tmp/ORVANTA_ODAT"
#define OS_TIME_SDATE_FILE "/tmp/ORVANTA_START_SYS"

CM_EXTERN_C_BEGIN

/* Clock. */
void GM_TIME_bin_get_timer(time_t* now);
void GM_TIME_bin_get_gmt_timer(time_t* now);
void OS_TIME_bin_get_timer2(time_t* now, unsigned short* milliseconds);
void OS_TIME_get_hr_time(time_t* now, int* milliseconds);
long OS_TIME_creat_uniq(void);
CM_RC OS_TIME_sleep(SLEEPINT_D_typ seconds);
void os_time_sleep_select(int seconds);
void OS_TIME_timer(int start_stop, OS_TIME_TIMER_typ* timer);

/* Formatting; a text buffer holds at least the format's length plus one: DATETIME_D_typ fits every
 * format but GM_TIME_FMT_YYYY_MM_DD_HH_MM_SS, which needs 20 bytes. */
void GM_TIME_fmt_to_ascii(GM_TIME_FMT_typ format, time_t when, char* text);
void GM_TIME_fmt_gmt_to_ascii(GM_TIME_FMT_typ format, time_t when, char* text);
void GM_TIME_fmt_to_ascii2(GM_TIME_FMT_typ format, time_t when, unsigned short milliseconds, char* text);
void GM_TIME_fmt_get_time(GM_TIME_FMT_typ format, char* text);
void GM_TIME_fmt_get_gmt_time(GM_TIME_FMT_typ format, char* text);
void GM_TIME_fmt_get_time2(GM_TIME_FMT_typ format, char* text);
void GM_TIME_fmt_get_time_zero(GM_TIME_FMT_typ format, char* text);

/* Parsing and arithmetic over fixed-position texts (no validation). */
void GM_TIME_fmt_to_bin(const char* text, time_t* when);
long GM_TIME_fmt_YYYYMMDDHHMMSS_to_seconds(const char* text);
long GM_TIME_fmt_HHMM_to_seconds(const char* text);
long GM_TIME_fmt_HHMMSS_to_seconds(const char* text);
int GM_TIME_fmt_get_year_number(const char* date);
int GM_TIME_fmt_get_month_number(const char* date);
int GM_TIME_fmt_get_day_number(const char* date);
int gm_time_int_year_to_full_year(int year);
long GM_TIME_fmt_date_to_int(const char* date);
long GM_TIME_fmt_compare_dates(const char* date1, const char* date2);
int GM_TIME_fmt_date_to_julday(const char* date);
void GM_TIME_fmt_calcdate(char* date, int days);
CM_RC GM_TIME_fmt_get_day_of_week(const char* date, int* day_of_week);
void GM_TIME_fmt_get_day_name(const char* date, char* name);   /* name: 4 bytes */
void GM_TIME_fmt_get_month_name(const char* date, char* name); /* name: 4 bytes */
char* GM_TIME_add_delta(const char* text, char* out, long seconds);
char* GM_TIME_get_fmt_HHMM_delta(char* out, int minutes);
void GM_TIME_bin_get_timer_diff(time_t time1, time_t time2, long* diff);
void GM_TIME_bin_get_timer_elapsed(time_t since, long* elapsed);
void GM_TIME_bin_get_timer_string(time_t since, char* text);                     /* text: 80 bytes */
void GM_TIME_get_delta_string(const char* text1, const char* text2, char* text); /* text: 80 bytes */
void GM_TIME_bin_get_timer_elements(time_t when, int* seconds, int* minutes, int* hours, int* day_of_month, int* month,
                                    int* year, int* day_of_week, int* day_of_year);
void GM_TIME_bin_get_timer_date(time_t when, int* days);
long GM_TIME_bin_timer_to_seconds(time_t when);
GM_TIME_CMP_typ GM_TIME_fmt_compare(const char* text, time_t* gap);

/* Day windows. */
CM_RC GM_TIME_window_check(const char* from, const char* until, const char* job_odate, const char* curr_odate,
                           const char* daytime);
int GM_TIME_daytime_delta(const char* daytime);

/* Test clock. The get functions fill a DATETIME_D_typ buffer (at most 17 characters of the file's
 * first word); set writes the text without newline; each returns 1, or 2 on failure. */
void OS_TIME_acceleration(time_t* now);
CM_RC OS_TIME_get_factor(char* text);
CM_RC OS_TIME_set_factor(const char* text);
CM_RC OS_TIME_delete_factor(void);
CM_RC OS_TIME_get_odate(char* text);
CM_RC OS_TIME_set_odate(const char* text);
CM_RC OS_TIME_delete_odate(void);
CM_RC OS_TIME_get_sdate(char* text);
CM_RC OS_TIME_set_sdate(const char* text);
CM_RC OS_TIME_delete_sdate(void);

CM_EXTERN_C_END

#endif
