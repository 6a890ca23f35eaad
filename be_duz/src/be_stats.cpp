/* The "STATISTICS" action: the ended job's exit status, code and message, end time, elapsed time
 * and output size for the agent, from the request tree's rows (or from the jobs failure table for
 * a job that failed before or while it ran); the job's output is fetched into its sysout. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_str.h"
#include "gm_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;
using be_job::non_empty;

constexpr const char* kStatsSql =
    "SELECT request_id,phase_code, status_code, 'MSG:'||completion_text, LPAD('->', 3*level, '-'), "
    "'NULL='||TO_CHAR(ACTUAL_START_DATE,'YYYYMMDDHH24MISS'), 'NULL='||TO_CHAR(ACTUAL_COMPLETION_DATE, "
    "'YYYYMMDDHH24MISS') FROM FND_CONCURRENT_REQUESTS connect by prior request_id = parent_request_id start with "
    "request_id = :ID";
constexpr const char* kNormalText = "Normal Completion";
constexpr const char* kFailedText = "Job or child job completed with Warning or Error";
constexpr const char* kDownloadFailed = "Failed to download job's Sysout. ";
/* Room of the notice of a failed output download, its terminator included. */
constexpr std::size_t kDownloadNoticeRoom = 1024;
/* The failure table's code of a notice whose code is its message's first word. */
constexpr int kCodeFromMessage = -9999;

void set(ZPAAttrList* list, const char* name, const std::string& value) {
    ZPAAPI_UTILS_AttrListValueSet(list, const_cast<char*>(name), const_cast<char*>(value.c_str()));
}

std::string upper(const char* text) {
    std::string value = text != nullptr ? text : "";
    GM_STR_toupper(value.data());
    return value;
}

std::string now_text() {
    DATETIME_D_typ text = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, text);
    return text;
}

/* Seconds times 100 from start to end, in 64 bits; "0" when the start lies after the end. */
std::string hundredths(long long start, long long end) { return std::to_string(end > start ? (end - start) * 100 : 0); }

/* A job of the jobs failure table: its start (START_TIME or now) to now, the failure notice in
 * its output, the table's message and code. */
ZPARC failed_job(ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, const char* orderno, const char* runno,
                 const char* message, ZPAError* Error) {
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    time_t start = now;
    const char* start_text = attr(AttributesIn, "START_TIME");
    if (non_empty(start_text))
        GM_TIME_fmt_to_bin(start_text, &start);
    else
        BE_TRACE(4, "Couldn't get the start time, set to current time instead");
    DATETIME_D_typ end_text = "";
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, now, end_text);
    set(AttributesOut, "END_TIME", end_text);
    set(AttributesOut, "ELAPSEDTIME", hundredths(start, now));
    int code = 0;
    BE_SYSOUT_handle_update_sysout(AttributesIn, AttributesOut, orderno, runno, message, kCodeFromMessage, &code,
                                   Error);
    set(AttributesOut, "EXITSTATUS", "N");
    set(AttributesOut, "EXITMSG", message);
    set(AttributesOut, "EXITCODE", std::to_string(code));
    return 0;
}

/* Whether the job's account (or the job itself) turns warnings into success. */
bool warnings_convert(ZPAAttrList* AttributesIn) {
    const char* job_value = attr(AttributesIn, "DUZ-CONVERT_WARNING2OK");
    std::string value;
    if (non_empty(job_value)) {
        value = job_value;
    } else {
        BE_TRACE(4, "CONVERT WARNING 2 OK not found in AttributesIn, value will be taken from account definition.");
        const char* account = attr(AttributesIn, "DUZ-INSTANCE");
        be_account_rows rows;
        ZPAError ignored{};
        if (rows.load(account, AttributesIn, "TRACK", &ignored) != 0) {
            DIAG_printf("Failed to load account '%s' from file %s", account != nullptr ? account : "",
                        "./data/" BE_DUZ_ACCOUNTS_FILE_NAME ".dat");
        } else {
            rows.get("CONVERT_WARNING2OK", &value);
        }
    }
    return upper(value.c_str()).rfind('Y', 0) == 0;
}

/* The output: the sysout rebuilt from the database, its size; a download that failed with an
 * Oracle error leaves its notice in the sysout. */
void fetch_output(ZPAConnHandle* Connection, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                  const char* sysout_path, ZPAError* Error) {
    set(AttributesOut, "SYSOUTSIZE", "0");
    void* handle = nullptr;
    const ZPARC rc = BE_DUZ_HndlSysoutWhenDone(Connection, &handle, AttributesIn, 1, Error);
    if (rc == 0) {
        if (handle == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "sysout File Pointer is NULL.");
            return;
        }
        std::fclose(static_cast<FILE*>(handle));
        char size[32] = "";
        if (BE_DUZ_get_file_size(sysout_path, size) == 0)
            set(AttributesOut, "SYSOUTSIZE", size);
        else
            DIAG_printf("Failed to get the size of file '%s'", sysout_path);
        return;
    }
    if (Error == nullptr || Error->code == 1) return;
    DIAG_printf("Failed in sysout download due to OEBS error");
    std::string notice = std::string(kDownloadFailed) + be_job::reason(Error);
    if (notice.size() > kDownloadNoticeRoom - 1) notice.resize(kDownloadNoticeRoom - 1);
    const char* orderno = attr(AttributesIn, "ORDERNO");
    const char* runno = attr(AttributesIn, "RUNNO");
    int code = 0;
    BE_SYSOUT_handle_update_sysout(AttributesIn, AttributesOut, orderno, runno, notice.c_str(),
                                   static_cast<int>(Error->code), &code, Error);
}

ZPARC action_stats(ZPAConnHandle* Connection, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                   ZPAAttrList* AttributesOut, ZPAError* Error) {
    const char* orderno = nullptr;
    const char* runno = nullptr;
    if (!be_job::job_identity(AttributesIn, &orderno, &runno, Error)) return 1;
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    if (be_job_find_in_jobs_failure_file(orderno, runno, message) == 0)
        return failed_job(AttributesIn, AttributesOut, orderno, runno, message, Error);

    const bool convert = warnings_convert(AttributesIn);
    PATHNAME_D_typ sysout_path = "";
    ZPARC rc = BE_DUZ_build_sysout_fname(AttributesIn, sysout_path, Error);
    if (rc != 0) return rc;
    const char* substatus = attr(AttributesIn, "DUZ-SUBSTATUS");
    const char* wait_child = attr(AttributesIn, "DUZ-WAITCHILD");
    const bool root_only = upper(non_empty(substatus) ? substatus : "Y")[0] == 'N' ||
                           upper(non_empty(wait_child) ? wait_child : "Y")[0] == 'N';
    const char* procid = attr(AttributesIn, "PROCID");
    if (procid == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found", "PROCID");
        return 1;
    }
    int root_id = std::atoi(procid);

    be_sql::Statement stmt(session, Error);
    int request_id = 0;
    char phase[81] = "", status[81] = "", text[256] = "", level[81] = "", start[81] = "", end[81] = "";
    if (stmt.prepare(kStatsSql) != 0) return 1;
    if ((rc = stmt.bind_int(":ID", &root_id)) != 0) return rc;
    if ((rc = stmt.define_int(1, &request_id)) != 0 || (rc = stmt.define_text(2, phase, sizeof phase)) != 0 ||
        (rc = stmt.define_text(3, status, sizeof status)) != 0 || (rc = stmt.define_text(4, text, sizeof text)) != 0 ||
        (rc = stmt.define_text(5, level, sizeof level)) != 0 || (rc = stmt.define_text(6, start, sizeof start)) != 0 ||
        (rc = stmt.define_text(7, end, sizeof end)) != 0)
        return rc;
    /* A tree of many requests comes in a few round trips, not one a row. */
    if ((rc = stmt.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != 0 || (rc = stmt.execute()) != 0) return rc;

    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    /* Only rows that have both dates count: a row without them changes neither bound. */
    bool dated = false;
    long long earliest_start = 0, latest_end = 0;
    std::string last_end_text;
    std::string elapsed = "0";
    bool failed = false;
    for (;;) {
        BE_DUZ_interpret_status(phase, status);
        const char* start_text = std::strchr(start, '=') != nullptr ? std::strchr(start, '=') + 1 : "";
        const char* end_text = std::strchr(end, '=') != nullptr ? std::strchr(end, '=') + 1 : "";
        if (*start_text != '\0' && *end_text != '\0') {
            time_t row_start = 0, row_end = 0;
            GM_TIME_fmt_to_bin(start_text, &row_start);
            GM_TIME_fmt_to_bin(end_text, &row_end);
            if (!dated || row_start < earliest_start) earliest_start = row_start;
            if (!dated || row_end > latest_end) {
                latest_end = row_end;
                last_end_text = end_text;
            }
            dated = true;
        }
        if (std::strcmp(status, "DELETED") == 0) {
            BE_TRACE(3, "Job canceled, setting Elapsed Time to '1'");
            elapsed = "1";
            last_end_text = now_text();
        } else {
            elapsed = dated ? std::to_string(std::llabs(latest_end - earliest_start) * 100) : "0";
        }
        failed = !(std::strcmp(status, "NORMAL") == 0 || (convert && std::strcmp(status, "WARNING") == 0));
        if (failed) {
            BE_TRACE(3, "Request %d ended with error. break. ", request_id);
            break;
        }
        if (root_only) break;
        const be_sql::Fetch next = stmt.fetch();
        if (next == be_sql::Fetch::End) break;
        /* A failed fetch is no end of the tree: the rows not read may hold a failed request. */
        if (next == be_sql::Fetch::Error) return 1;
    }

    set(AttributesOut, "EXITSTATUS", failed ? "N" : "Y");
    set(AttributesOut, "EXITMSG", failed ? kFailedText : kNormalText);
    set(AttributesOut, "EXITCODE", failed ? "1" : "0");
    while (!last_end_text.empty() && last_end_text.back() == ' ') last_end_text.pop_back();
    set(AttributesOut, "END_TIME", last_end_text.empty() ? now_text() : last_end_text);
    set(AttributesOut, "ELAPSEDTIME", elapsed);

    fetch_output(Connection, AttributesIn, AttributesOut, sysout_path, Error);
    return 0;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_action_stats(ZPAConnHandle* Connection, BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn,
                      ZPAAttrList* AttributesOut, ZPAError* Error) {
    try {
        return action_stats(Connection, JOB_handle, AttributesIn, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_action_stats");
        return 1;
    }
}

CM_EXTERN_C_END
