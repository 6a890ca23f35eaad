/* Schedule conversion of request discovery: turns the requested start and the release class of an
 * OEBS request (or its older resubmission fields) into the scheduler's scheduling rows (TIMEFROM,
 * CYCLIC, INTERVALFROM, INTERVAL, DAYS, MONTH, WEEKDAYS, CAL_ANDOR, DATEFROM, DATEUNTIL), appended
 * to a job's parameter-table list in their fixed order. */
#include "be_def.h"
#include "gm_param.h"
#include "gm_time.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr int kMonths = 12;
// Flags of a specific-days class: 1 to 31 the days of the month, 32 the last day, 33 to 39 the
// days of the week.
constexpr int kLastDayFlag = 32;
constexpr int kFirstWeekdayFlag = 33;
constexpr int kLastWeekdayFlag = 39;

// A piece of a "YYYYMMDDHH24MISS" date: len characters from pos as a decimal number.
int date_piece(const char* date, std::size_t pos, std::size_t len) {
    int value = 0;
    const std::size_t n = date ? strnlen(date, pos + len) : 0;
    for (std::size_t i = pos; i < pos + len; ++i) {
        const char c = i < n ? date[i] : '0';
        value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    return value;
}

bool has_end_date(const char* end_date) { return end_date && *end_date != '\0' && std::strcmp(end_date, "NULL") != 0; }

class Rows {
public:
    explicit Rows(ZPALIST_handle_typ* list) : list_(list) {}
    void add(const char* key, const std::string& value) { GM_PARAM_list_append(list_, key, value.c_str()); }
    void replace(const char* key, const std::string& value) { GM_PARAM_list_set(list_, key, value.c_str()); }
    void month(int m) {
        if (m >= 1 && m <= kMonths) add("MONTH", std::string(kMonthNames[m - 1]) + " Y");
    }
    // MONTH "ALL N", then one row per month from the start month to the end month of one year.
    void month_range(int from, int to) {
        add("MONTH", "ALL N");
        for (int m = from; m <= to && m <= kMonths; ++m) month(m);
    }

private:
    ZPALIST_handle_typ* list_;
};

std::string number(int n) { return std::to_string(n); }

// Adds a number to a comma-separated list.
void add_listed(std::string& list, int n) {
    if (!list.empty()) list += ',';
    list += number(n);
}

// The months of an every-n-months class from the start month. When n divides the year the walk
// goes on past December (3 from November: NOV, FEB, MAY, AUG); otherwise it stops at December.
void monthly_rows(Rows& rows, int start_month, int n, int start_day) {
    if (n == 1) {
        rows.add("MONTH", "ALL Y");
    } else {
        rows.add("MONTH", "ALL N");
        if (kMonths % n == 0) {
            for (int k = 0; k < kMonths / n; ++k) rows.month((start_month - 1 + k * n) % kMonths + 1);
        } else {
            for (int m = start_month; m >= 1 && m <= kMonths; m += n) {
                rows.month(m);
                if (n > kMonths - m) break;
            }
        }
    }
    rows.add("DAYS", number(start_day));
}

// A whole, positive count ("15"; blanks around it allowed); 0 when there is none.
int positive_count(const std::string& field) {
    const char* p = field.c_str();
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return 0;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(p, &end, 10);
    while (*end == ' ') ++end;
    if (errno != 0 || *end != '\0' || n < 1 || n > INT_MAX / 7) return 0;
    return static_cast<int>(n);
}

std::vector<std::string> split(const char* text, char separator) {
    std::vector<std::string> fields(1);
    for (const char* p = text; *p; ++p) {
        if (*p == separator)
            fields.emplace_back();
        else
            fields.back() += *p;
    }
    return fields;
}

void periodic_rows(Rows& rows, const char* start_date, const char* class_info) {
    if (!class_info || *class_info == '\0') return;
    const std::vector<std::string> fields = split(class_info, ':');
    const int n = fields.size() >= 3 ? positive_count(fields[0]) : 0;
    if (n < 1) {
        BE_TRACE(2, "Release class info '%s' is not a count, a unit and a start: no schedule beyond the time",
                 class_info);
        return;
    }
    const char unit = fields[1].empty() ? '\0' : fields[1][0];
    const char from = fields[2].empty() ? '\0' : fields[2][0];
    const char* interval_from = from == 'S' ? "START" : from == 'C' ? "END" : nullptr;
    auto cyclic = [&](const std::string& interval) {
        rows.add("CYCLIC", "Y");
        if (interval_from) rows.add("INTERVALFROM", interval_from);
        rows.add("INTERVAL", interval);
    };
    switch (unit) {
    case 'N':
        cyclic(number(n) + "M");
        rows.add("DAYS", "ALL");
        break;
    case 'H':
        cyclic(number(n) + "H");
        rows.add("DAYS", "ALL");
        break;
    case 'D':
        cyclic(number(n) + "D");
        rows.add("MONTH", "ALL Y");
        break;
    case 'W':
        if (n == 1) {
            rows.add("MONTH", "ALL Y");
            int day = -1;
            if (GM_TIME_fmt_get_day_of_week(start_date, &day) == CM_RC_OK)
                rows.add("WEEKDAYS", number(day));
            else
                BE_TRACE(2, "Start date '%s' has no day of the week", start_date);
        } else {
            cyclic(number(7 * n) + "D");
            rows.add("MONTH", "ALL Y");
        }
        break;
    case 'M':
        monthly_rows(rows, GM_TIME_fmt_get_month_number(start_date), n, GM_TIME_fmt_get_day_number(start_date));
        break;
    default: break;
    }
}

void specific_days_rows(Rows& rows, const char* start_date, const char* end_date, const char* class_info) {
    const std::size_t length = class_info ? std::strlen(class_info) : 0;
    auto flag = [&](int position) {
        return static_cast<std::size_t>(position) <= length && class_info[position - 1] == '1';
    };
    std::string days;
    for (int p = 1; p < kLastDayFlag; ++p)
        if (flag(p)) add_listed(days, p);
    if (flag(kLastDayFlag)) days += days.empty() ? "L1" : ",L1";
    std::string weekdays;
    for (int p = kFirstWeekdayFlag; p <= kLastWeekdayFlag; ++p)
        if (flag(p)) add_listed(weekdays, (p - kLastDayFlag) % 7);
    if (!days.empty()) rows.add("DAYS", days);
    if (!weekdays.empty()) rows.add("WEEKDAYS", weekdays);
    if (!days.empty() && !weekdays.empty()) rows.add("CAL_ANDOR", "AND");

    if (!has_end_date(end_date)) {
        rows.add("MONTH", "ALL Y");
        return;
    }
    const int start_year = BE_DUZ_fmt_get_year_number(start_date);
    const int end_year = BE_DUZ_fmt_get_year_number(end_date);
    if (end_year > start_year) {
        rows.add("MONTH", "ALL Y");
    } else if (end_year == start_year) {
        const int start_month = GM_TIME_fmt_get_month_number(start_date);
        const int end_month = GM_TIME_fmt_get_month_number(end_date);
        rows.month_range(start_month, end_month);
        if (end_month < start_month) return;
    } else {
        rows.add("MONTH", "ALL N");
        return;
    }
    rows.add("DATEFROM", std::string(start_date, strnlen(start_date, 8)));
    rows.add("DATEUNTIL", std::string(end_date, strnlen(end_date, 8)));
}

// The day, month and year rows of the older conversion for a schedule that ends: the months up to
// the end month, and every day or the days up to the end day. replace_days puts the day list in
// place of an earlier DAYS row.
void resubmission_range_rows(Rows& rows, const char* start_date, const char* end_date, bool replace_days) {
    const int start_year = BE_DUZ_fmt_get_year_number(start_date);
    const int end_year = BE_DUZ_fmt_get_year_number(end_date);
    if (end_year > start_year) {
        rows.add("MONTH", "ALL Y");
        rows.add("DAYS", "ALL");
        return;
    }
    if (end_year < start_year) return;
    const int start_month = GM_TIME_fmt_get_month_number(start_date);
    const int end_month = GM_TIME_fmt_get_month_number(end_date);
    rows.month_range(start_month, end_month);
    if (start_month < end_month) {
        rows.add("DAYS", "ALL");
    } else if (start_month == end_month) {
        std::string days;
        const int end_day = GM_TIME_fmt_get_day_number(end_date);
        for (int d = GM_TIME_fmt_get_day_number(start_date); d <= end_day && d <= 31; ++d) add_listed(days, d);
        if (replace_days)
            rows.replace("DAYS", days);
        else
            rows.add("DAYS", days);
    }
}

std::string time_from(const char* start_date) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2d%.2d", date_piece(start_date, 8, 2), date_piece(start_date, 10, 2));
    return text;
}

}  // namespace

CM_EXTERN_C_BEGIN

int BE_DUZ_fmt_get_year_number(const char* date) { return date_piece(date, 0, 4); }

void BE_DUZ11_ConvertDUZSchedule2ORVSchedule(ZPALIST_handle_typ* list, const char* start_date, const char* end_date,
                                             const char* class_type, const char* class_info) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ11_ConvertDUZSchedule2ORVSchedule");
    if (!list || !start_date) return;
    try {
        Rows rows(list);
        rows.add("TIMEFROM", time_from(start_date));
        const char type = class_type ? class_type[0] : '\0';
        switch (type) {
        case '\0':
        case 'O':
        case 'A':
            rows.add("DAYS", number(GM_TIME_fmt_get_day_number(start_date)));
            rows.add("MONTH", "ALL N");
            rows.month(GM_TIME_fmt_get_month_number(start_date));
            break;
        case 'P': periodic_rows(rows, start_date, class_info); break;
        case 'S': specific_days_rows(rows, start_date, end_date, class_info); break;
        default: break;
        }
    } catch (...) {
        DIAG_printf("%s: out of memory", "BE_DUZ11_ConvertDUZSchedule2ORVSchedule");
    }
}

void BE_DUZ10_ConvertDUZSchedule2ORVSchedule(ZPALIST_handle_typ* list, const char* start_date, const char* end_date,
                                             int interval, const char* unit, const char* from,
                                             const char* resubmit_time) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ10_ConvertDUZSchedule2ORVSchedule");
    if (!list || !start_date) return;
    try {
        Rows rows(list);
        const std::string timefrom = time_from(start_date);
        rows.add("TIMEFROM", timefrom);
        const bool resubmits = resubmit_time && *resubmit_time != '\0';
        const int start_month = GM_TIME_fmt_get_month_number(start_date);
        const int start_day = GM_TIME_fmt_get_day_number(start_date);
        if (!resubmits && interval < 1) {
            rows.add("MONTH", "ALL N");
            rows.month(start_month);
            rows.add("DAYS", number(start_day));
            return;
        }
        if (resubmits) {
            rows.replace("TIMEFROM", timefrom);
            if (!has_end_date(end_date)) {
                rows.add("DAYS", "ALL");
                rows.add("MONTH", "ALL Y");
            } else {
                resubmission_range_rows(rows, start_date, end_date, true);
            }
            return;
        }
        const std::string u = unit ? unit : "";
        if (has_end_date(end_date) && u != "MONTHS") resubmission_range_rows(rows, start_date, end_date, false);
        const char* interval_from = from && std::strcmp(from, "END") == 0 ? "END" : "START";
        const char* suffix = u == "MINUTES" ? "M" : u == "HOURS" ? "H" : u == "DAYS" ? "D" : nullptr;
        if (suffix) {
            rows.add("CYCLIC", "Y");
            rows.add("INTERVALFROM", interval_from);
            rows.add("INTERVAL", number(interval) + suffix);
        } else if (u == "MONTHS") {
            monthly_rows(rows, start_month, interval, start_day);
        }
    } catch (...) {
        DIAG_printf("%s: out of memory", "BE_DUZ10_ConvertDUZSchedule2ORVSchedule");
    }
}

CM_EXTERN_C_END
