/* One parameter's value before it is submitted or shown: its default worked out by default type
 * (constant, profile, SQL, segment of an earlier parameter, current date or time), the value
 * brought into the form of its format type and size, and the report value handed to the
 * E-Business Suite. Also the Oracle date formats by format type and size. */
#include "be_parm_internal.h"

#include "gm_param.h"
#include "gm_str.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kSysdateSql = "select to_char(SYSDATE, :fmt) from dual";
constexpr const char* kSkipConvertKey = "SKIP_CONVERT_DFLT_DATETIME_FORMAT";
constexpr const char* kOebsTable = "OEBS";
/* Releases after this one (compared as text) keep standard dates as they are. */
constexpr const char* kLastConvertingRelease = "12";

constexpr std::size_t kReportRoom = sizeof(BE_DUZ_report_parm::report_value);
constexpr std::size_t kValueRoom = sizeof(BE_DUZ_report_parm::value);
constexpr std::size_t kDefaultRoom = sizeof(BE_DUZ_report_parm::dft_value);

/* The non-empty pieces of text between separators. */
std::vector<std::string> split(const std::string& text, const char* separators) {
    std::vector<std::string> parts;
    std::size_t at = text.find_first_not_of(separators);
    while (at != std::string::npos) {
        const std::size_t end = text.find_first_of(separators, at);
        parts.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : text.find_first_not_of(separators, end);
    }
    return parts;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

/* The integer of a text as atoi reads it, held within the int range. */
int to_int(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

/* A whole number (as the agent library judges it) between low and high. */
bool number_within(const std::string& text, int low, int high) {
    if (GM_STR_isnumber(text.c_str()) != CM_RC_OK) return false;
    const int value = to_int(text);
    return value >= low && value <= high;
}

/* Two-digit and three-digit years: 50 and less are in this century, 51 to 999 in the last. */
int with_century(int year) {
    if (year <= 50) return year + 2000;
    if (year <= 999) return year + 1900;
    return year;
}

void set_value(BE_DUZ_report_parm* p, const std::string& value) { be_parm_copy(p->value, value.c_str(), kValueRoom); }

/* An ill-formed value is emptied; the error record names the format, then the emptying. */
void set_null(BE_DUZ_report_parm* p, const char* kind, ZPAError* Error) {
    BE_DUZ_UpdateErrorSet(Error, 1, "Report parameter '%s' value '%s' is not %s format", p->parm_name, p->value, kind);
    BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
    BE_DUZ_UpdateErrorSet(Error, 1, "Set Report parameter '%s' value to NULL", p->parm_name);
    p->value[0] = '\0';
}

/* Whether standard dates are converted: not after release 12 (as text), unless the agent's OEBS
 * table says otherwise; convert when neither is known. */
bool convert_standard_dates(BE_DUZ_Handles* session, ZPAError* Error) {
    bool convert = true;
    char release[5] = {0, 0, 0, 0, 0};
    if (BE_DUZ_get_oebs_version(release, session, Error) == 0 && std::strcmp(release, kLastConvertingRelease) > 0)
        convert = false;
    GM_PARAM_VALUE_typ skip = "";
    if (GM_PARAM_get(kOebsTable, kSkipConvertKey, skip) == CM_RC_OK) convert = skip[0] != 'Y';
    return convert;
}

enum class Step { GoOn, End };

/* Standard date or date-time (X, Y). rc receives a failed conversion's result. */
Step format_standard(BE_DUZ_Handles* session, BE_DUZ_report_parm* p, ZPARC& rc, ZPAError* Error) {
    if (!convert_standard_dates(session, Error)) return Step::GoOn;
    const std::string value = be_parm_upper(p->value);
    if (value.find('/') != std::string::npos) {
        std::vector<std::string> parts = split(value, value.find(':') != std::string::npos ? "/ :" : "/");
        if (parts.size() >= 3) {
            if (parts.size() < 6) set_value(p, parts[0] + "/" + parts[1] + "/" + parts[2] + " 00:00:00");
            return Step::End;
        }
    }
    std::vector<std::string> parts = split(value, "- :");
    if (parts.size() < 3) {
        set_null(p, "DATE", Error);
        return Step::End;
    }
    std::string in_format = parts[2].size() == 2 ? "DD-MON-RR" : "DD-MON-YYYY";
    if (parts.size() >= 6) in_format += " HH24:MI:SS";
    char converted[BE_DUZ_DATE_OUT_SIZE] = "";
    rc = BE_DUZ_convert_date_format(session, p->value, in_format.data(), converted,
                                    const_cast<char*>(BE_DUZ_STANDARD_DATE_FORMAT), Error);
    if (rc == 0) set_value(p, converted);
    return Step::GoOn;
}

Step format_time(BE_DUZ_report_parm* p, ZPAError* Error) {
    const std::vector<std::string> parts = split(p->value, ":");
    const std::string minute = parts.size() > 1 ? parts[1] : "00";
    const std::string second = parts.size() > 2 ? parts[2] : "00";
    if (parts.empty() || !number_within(parts[0], 0, 24) || !number_within(minute, 0, 60) ||
        !number_within(second, 0, 60)) {
        set_null(p, "Time", Error);
        return Step::End;
    }
    if (p->maxsize == 5)
        set_value(p, format("%.2d:%.2d", to_int(parts[0]), to_int(minute)));
    else if (p->maxsize == 8)
        set_value(p, format("%.2d:%.2d:%.2d", to_int(parts[0]), to_int(minute), to_int(second)));
    return Step::GoOn;
}

Step format_date(BE_DUZ_report_parm* p, ZPAError* Error) {
    const std::vector<std::string> parts = split(be_parm_upper(p->value), "-");
    if (parts.size() < 3) {
        set_null(p, "Date", Error);
        return Step::End;
    }
    const int day = to_int(parts[0]);
    const std::string& month = parts[1];
    const int year = to_int(parts[2]);
    if (p->maxsize == 11) {
        set_value(p, format("%.2d-%s-%d", day, month.c_str(), with_century(year)));
    } else if (p->maxsize == 9) {
        const std::string year_text = year > 99 ? parts[2].substr(parts[2].size() - 2) : parts[2];
        set_value(p, format("%.2d-%s-%s", day, month.c_str(), year_text.c_str()));
    } else {
        set_value(p, format("%.2d-%s-%d", day, month.c_str(), year));
    }
    return Step::GoOn;
}

Step format_date_time(BE_DUZ_report_parm* p, ZPAError* Error) {
    const std::vector<std::string> parts = split(be_parm_upper(p->value), "- :");
    auto ill_formed = [&] {
        set_null(p, "DateTime", Error);
        return Step::End;
    };
    if (parts.size() < 3) return ill_formed();
    const int size = p->maxsize;
    const int day = to_int(parts[0]);
    const std::string& month = parts[1];
    int year = to_int(parts[2]);
    if (size == 17 || size == 20)
        year = with_century(year);
    else if (year > 99)
        year = to_int(parts[2].substr(parts[2].size() - 2));
    int clock[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        if (parts.size() <= 3 + i) continue;
        if (!number_within(parts[3 + i], 0, i == 0 ? 24 : 60)) return ill_formed();
        clock[i] = to_int(parts[3 + i]);
    }
    const char* m = month.c_str();
    if (size == 15)
        set_value(p, format("%.2d-%s-%.2d %.2d:%.2d", day, m, year, clock[0], clock[1]));
    else if (size == 17)
        set_value(p, format("%.2d-%s-%d %.2d:%.2d", day, m, year, clock[0], clock[1]));
    else if (size == 18)
        set_value(p, format("%.2d-%s-%.2d %.2d:%.2d:%.2d", day, m, year, clock[0], clock[1], clock[2]));
    else if (size == 20)
        set_value(p, format("%.2d-%s-%d %.2d:%.2d:%.2d", day, m, year, clock[0], clock[1], clock[2]));
    return Step::GoOn;
}

struct Directive {
    const char* text;
    char type;
    bool trim_leading;
};
/* In the order they are tested. */
constexpr Directive kDirectives[] = {
    {"DUZ_SQL:", 'S', false},     {"DUZ_PROFILE:", 'P', true},       {"DUZ_SEGMENT:", 'A', true},
    {"DUZ_CONSTANT:", 'C', true}, {"DUZ_CURRENT_DATE:", 'D', false}, {"DUZ_CURRENT_TIME:", 'T', false},
};

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_DATE_TIME_fmtcode(char fmt_code, int length, char* out_str) {
    const char* format = BE_DUZ_STANDARD_DATE_FORMAT;
    switch (fmt_code) {
    case 'C': format = "DD-MON-YYYY"; break;
    case 'D':
        if (length == 9)
            format = "DD-MON-YY";
        else if (length == 11)
            format = "DD-MON-YYYY";
        break;
    case 'I':
        if (length == 5)
            format = "HH24:MI";
        else if (length == 8)
            format = "HH24:MI:SS";
        break;
    case 'T':
        if (length == 15)
            format = "DD-MON-YY HH24:MI";
        else if (length == 17)
            format = "DD-MON-YYYY HH24:MI";
        else if (length == 18)
            format = "DD-MON-YY HH24:MI:SS";
        else if (length == 20)
            format = "DD-MON-YYYY HH24:MI:SS";
        break;
    default: break;
    }
    be_parm_copy(out_str, format, BE_DUZ_DATE_OUT_SIZE);
    return 0;
}

ZPARC BE_DUZ_DATE_TIME_fmtcode_2(char fmt_code, char parm_type, int length, char* out_str) {
    /* Only character values take their format from the default type. */
    if (fmt_code != 'C') return BE_DUZ_DATE_TIME_fmtcode(fmt_code, length, out_str);
    const char* format = BE_DUZ_STANDARD_DATE_FORMAT;
    if (parm_type == 'D') {
        if (length >= 11)
            format = "DD-MON-YYYY";
        else if (length >= 9)
            format = "DD-MON-RR";
    } else if (parm_type == 'T') {
        if (length >= 20)
            format = "DD-MON-YYYY HH24:MI:SS";
        else if (length >= 18)
            format = "DD-MON-RR HH24:MI:SS";
        else if (length == 17)
            format = "DD-MON-YYYY HH24:MI";
        else if (length >= 15)
            format = "DD-MON-RR HH24:MI";
        else if (length >= 8)
            format = "HH24:MI:SS";
        else if (length >= 5)
            format = "HH24:MI";
    }
    be_parm_copy(out_str, format, BE_DUZ_DATE_OUT_SIZE);
    return 0;
}

ZPARC BE_DUZ_DATE_TIME_fmt(BE_DUZ_Handles* DUZ_handle, char fmt_code, char param_type, int length, char* out_str,
                           ZPAError* Error) {
    if (out_str == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing output", BE_POS);
        return 1;
    }
    char date_format[BE_DUZ_DATE_OUT_SIZE] = "";
    BE_DUZ_DATE_TIME_fmtcode_2(fmt_code, param_type, length, date_format);
    char date[BE_DUZ_DATE_OUT_SIZE] = "";
    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc;
    if ((rc = be_parm_logged(stmt.prepare(kSysdateSql), "Fail to prepare", Error)) != 0) return rc;
    if ((rc = be_parm_logged(stmt.bind_text(":fmt", date_format, sizeof date_format), "Fail to bind format", Error)) !=
        0)
        return rc;
    if ((rc = be_parm_logged(stmt.define_text(1, date, sizeof date), "Fail to define date string", Error)) != 0)
        return rc;
    if ((rc = be_parm_logged(stmt.execute(), "Fail to execute", Error)) != 0) return rc;
    be_parm_copy(out_str, date, BE_DUZ_DATE_OUT_SIZE);
    return 0;
}

ZPARC BE_DUZ_convert_default_value(BE_DUZ_Handles* JOB_handle, BE_DUZ_report_parm* parm_rec,
                                   BE_DUZ_report_parm** parm_recs, int parmcount, int parmindex, ZPAError* Error) {
    if (parm_rec == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter", BE_POS);
        return 1;
    }
    char computed[BE_DUZ_PARM_VALUE_SIZE] = "";
    ZPARC rc = 0;
    switch (parm_rec->parm_type[0]) {
    case 'C': be_parm_copy(computed, parm_rec->dft_value, sizeof computed); break;
    case 'P': rc = BE_DUZ_reslove_bind_p_var(JOB_handle, parm_rec->dft_value, computed, Error); break;
    case 'S':
        rc = BE_DUZ_reslove_sql(JOB_handle, parm_rec->dft_value, parm_recs, parmcount, parmindex, computed, Error);
        break;
    case 'A': {
        /* A name alone, or a name, '.' and a field. */
        std::string name = parm_rec->dft_value;
        std::string field = "ID";
        if (const std::size_t dot = name.find('.'); dot != std::string::npos) {
            field = name.substr(dot + 1);
            name.resize(dot);
        }
        rc = BE_DUZ_reslove_bind_v_var(JOB_handle, kBeParmModeSql, name.c_str(), field.data(), parm_recs, parmcount,
                                       parmindex, computed, Error);
        break;
    }
    case 'D':
    case 'T':
        rc = BE_DUZ_DATE_TIME_fmt(JOB_handle, parm_rec->formatype[0], parm_rec->parm_type[0], parm_rec->maxsize,
                                  computed, Error);
        break;
    default: BE_TRACE(4, "No default_type is defined for '%s'", parm_rec->parm_name); return 0;
    }
    /* A failure leaves the value as it was and the failing step's text in the error record. */
    if (rc != 0) return rc;
    set_value(parm_rec, computed);
    return 0;
}

ZPARC BE_DUZ_format_default_value(BE_DUZ_Handles* DUZ_handle, BE_DUZ_report_parm* parm_rec,
                                  BE_DUZ_report_parm** parm_recs, int parmcount, int parmindex, ZPAError* Error) {
    (void)parm_recs;
    (void)parmcount;
    (void)parmindex;
    if (parm_rec == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter", BE_POS);
        return 1;
    }
    /* An empty value has no form to check: it stays empty. */
    if (parm_rec->value[0] == '\0') return 0;
    const char format_type = parm_rec->formatype[0];
    if (format_type != 'X' && format_type != 'Y' &&
        std::strlen(parm_rec->value) > static_cast<std::size_t>(std::max(parm_rec->maxsize, 0)))
        BE_TRACE(4, "%s: Report parameter '%s' value '%s' is over the max size", BE_POS, parm_rec->parm_name,
                 parm_rec->value);

    ZPARC rc = 0;
    Step step = Step::GoOn;
    switch (format_type) {
    case 'X':
    case 'Y': step = format_standard(DUZ_handle, parm_rec, rc, Error); break;
    case 'N':
        if (BE_DUZ_isNumber(parm_rec->value) != CM_RC_OK) set_null(parm_rec, "Number", Error);
        break;
    case 'I': step = format_time(parm_rec, Error); break;
    case 'D': step = format_date(parm_rec, Error); break;
    case 'T': step = format_date_time(parm_rec, Error); break;
    default: break;
    }
    if (step == Step::End) return rc;
    if (parm_rec->uppercase[0] == 'Y') GM_STR_toupper(parm_rec->value);
    return rc;
}

ZPARC BE_DUZ_convert_report_value(int check_id, BE_DUZ_report_parm* parm_rec, BE_DUZ_report_parm** parm_recs,
                                  int parmcount, int parmindex, ZPAError* Error) {
    (void)parm_recs;
    (void)parmcount;
    (void)parmindex;
    (void)Error;
    if (parm_rec == nullptr) return 0;
    if (parm_rec->value_set_type[0] != 'F') {
        be_parm_copy(parm_rec->report_value, parm_rec->value, kReportRoom);
        return 0;
    }
    if (check_id != 0) return 0;
    char has_id[BE_DUZ_PARM_VALUE_SIZE] = "";
    if (GM_PARAM_list_get(&parm_rec->list, "HAS_ID", has_id, sizeof has_id) == CM_RC_OK &&
        std::strcmp(has_id, "YES") == 0) {
        char id[BE_DUZ_PARM_VALUE_SIZE] = "";
        GM_PARAM_list_get(&parm_rec->list, "ID", id, sizeof id);
        be_parm_copy(parm_rec->report_value, id, kReportRoom);
    } else {
        be_parm_copy(parm_rec->report_value, parm_rec->value, kReportRoom);
    }
    return 0;
}

ZPARC BE_DUZ_reset_default_parm_value(char* parm_value, BE_DUZ_report_parm** parm_recs, int i) {
    if (parm_value == nullptr) return 1;
    std::size_t length = std::strlen(parm_value);
    while (length > 0 && parm_value[length - 1] == ' ') parm_value[--length] = '\0';
    if (parm_recs == nullptr || i < 0 || i >= BE_DUZ_MAX_REPORT_PARMS || parm_recs[i] == nullptr) return 1;
    for (const Directive& d : kDirectives) {
        const std::size_t prefix = std::strlen(d.text);
        if (std::strncmp(parm_value, d.text, prefix) != 0) continue;
        const char* rest = parm_value + prefix;
        if (d.trim_leading)
            while (*rest == ' ') ++rest;
        BE_DUZ_report_parm* p = parm_recs[i];
        p->parm_type[0] = d.type;
        p->parm_type[1] = '\0';
        be_parm_copy(p->dft_value, rest, kDefaultRoom);
        BE_TRACE(4, "Reset default_type = %s", p->parm_type);
        BE_TRACE(4, "Reset default_value = %s", p->dft_value);
        return 0;
    }
    return 1;
}

int BE_DUZ_return_month_number(const char* mon_str) {
    static constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (mon_str == nullptr) return 0;
    for (int m = 0; m < 12; ++m)
        if (std::strcmp(mon_str, kMonths[m]) == 0) return m + 1;
    return 0;
}

CM_EXTERN_C_END
