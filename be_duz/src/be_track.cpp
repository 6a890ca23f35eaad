/* The "TRACK" action: reads the job's request and its tree of child requests, decides the job
 * status for the agent ("4" running, "5" ended, "7" no valid request id), reports up to 40
 * requests as active-request attributes and hands the procid file's pairs back. Owns the mapping of
 * OEBS phase and status codes to words, which the output and statistics use too. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_shared_file_internal.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using be_job::attr;
using be_job::non_empty;

constexpr const char* kTreeSql =
    "SELECT DISTINCT f.request_id, (SELECT DISTINCT t.USER_CONCURRENT_PROGRAM_NAME FROM fnd_concurrent_programs_tl t "
    "WHERE t.LANGUAGE(+) = USERENV('LANG') AND t.CONCURRENT_PROGRAM_ID = f.concurrent_program_id AND "
    "t.application_id = f.program_application_id AND upper(t.USER_CONCURRENT_PROGRAM_NAME) != 'REQUEST SET STAGE'), "
    "NVL(f.description, ' '), f.phase_code, f.status_code, NVL(f.parent_request_id, 0), f.priority, "
    "NVL(f.hold_flag, 'N'), NVL(f.request_type, ' '), NVL(TO_CHAR(f.actual_completion_date,'MM/DD/YYYY'),'NA') "
    "FROM fnd_concurrent_requests f WHERE nvl(f.request_type, 'X') != 'S' CONNECT BY PRIOR f.request_id = "
    "f.parent_request_id START WITH f.request_id = :ID ORDER BY f.request_id";

/* Rows reported as active-request attributes; the rows after them are tracked all the same. */
constexpr int kReportedRows = 40;
constexpr const char* kJobVariable = "%%";
constexpr const char* kNoData = "no data";
/* The six attributes of a reported row, in their order. */
constexpr const char* kActiveFields[] = {"REQUEST_ID", "PARENT", "REQ_NAME", "PHASE", "STATUS", "PRIORITY"};

/* Phase and status letters and their words. */
struct Word {
    char letter;
    const char* word;
};
constexpr Word kPhaseWords[] = {{'R', "RUNNING"}, {'P', "PENDING"}, {'C', "COMPLETE"}, {'I', "INACTIVE"}};
constexpr Word kStatusWords[] = {
    {'R', "NORMAL"},    {'T', "TERMINATING"}, {'A', "WAITING"},    {'B', "RESUMING"}, {'I', "NORMAL"},
    {'Q', "STANDBY"},   {'F', "SCHEDULED"},   {'W', "PAUSED"},     {'D', "DELETED"},  {'H', "ON_HOLD"},
    {'S', "SUSPENDED"}, {'U', "DISABLED"},    {'M', "NO_MANAGER"}, {'C', "NORMAL"},   {'G', "WARNING"},
    {'E', "ERROR"},     {'X', "TERMINATED"},
};
/* Statuses that make the phase "inactive". */
constexpr std::string_view kInactiveStatuses = "HSUM";

template <std::size_t N>
const char* word_of(const Word (&table)[N], char letter) {
    for (const Word& w : table)
        if (w.letter == letter) return w.word;
    return "";
}

/* One row of the tree query, with the root's id. */
struct TreeRow {
    int request_id = 0;
    char name[241] = "";
    char description[241] = "";
    char phase[81] = "";
    char status[81] = "";
    int parent = 0;
    int priority = 0;
    char hold[2] = "";
    char type[81] = "";
    char completed[81] = "";
};

/* Copies text into a buffer of size bytes, cut to size - 1 characters and terminated. */
void copy_cut(char* out, std::size_t size, std::string_view text) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

/* An int as decimal text ("%d"). */
struct Decimal {
    char text[16];
    explicit Decimal(int value) { *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0'; }
};

/* The names of a row's active-request attributes, "%%DUZ-ACTIVE-ATTR%.3d-" and a field: the
 * row's part is made once for its six names (the number as "%.3d" writes it: at least three
 * digits, zeros in front). */
class ActiveName {
public:
    explicit ActiveName(int row) : prefix_(make_prefix(row)) {}
    const char* operator()(const char* field) {
        copy_cut(text_ + prefix_, sizeof text_ - prefix_, field);
        return text_;
    }

private:
    std::size_t make_prefix(int row) {
        static constexpr std::string_view kPrefix = "DUZ-ACTIVE-ATTR";
        constexpr std::size_t kDigitsMin = 3;
        char* out = text_;
        for (std::string_view part : {std::string_view(kJobVariable), kPrefix})
            out = std::copy(part.begin(), part.end(), out);
        if (row < 0) *out++ = '-';
        char digits[16];
        char* end = std::to_chars(digits, digits + sizeof digits, row < 0 ? -static_cast<long long>(row) : row).ptr;
        const std::size_t count = static_cast<std::size_t>(end - digits);
        if (count < kDigitsMin) out = std::fill_n(out, kDigitsMin - count, '0');
        out = std::copy(digits, end, out);
        *out++ = '-';
        return static_cast<std::size_t>(out - text_);
    }

    char text_[64];
    std::size_t prefix_;
};

void set_status(ZPAAttrList* AttributesOut, const char* status) {
    ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("JOBSTATUS"), const_cast<char*>(status));
}

/* A rerun's procid file says CLEAR_ACTIVE "Y" once: the rows of the earlier run beyond the last row
 * handled now are blanked ("no data") and the key becomes "N". One locked cycle on the file, taken
 * only when the file has the key. `rows` receives the file's rows as read; true when they are the
 * file as it stands (it was not rewritten), so that they serve the pairs handed back. */
bool clear_earlier_rows(const char* procid_path, int last_row, ZPAAttrList* AttributesIn, ZPALIST_handle_typ* active,
                        ZPALIST_handle_typ* rows) {
    char clear[8] = "";
    if (GM_PARAM_load_file(rows, procid_path) != CM_RC_OK) return false;
    if (GM_PARAM_list_get(rows, "CLEAR_ACTIVE", clear, sizeof clear) != CM_RC_OK) return true;
    GM_PARAM_list_clear(rows);

    os_shared::FileLock lock(procid_path);
    if (!lock || !lock.exists()) return false;
    if (GM_PARAM_load_file(rows, procid_path) != CM_RC_OK) return false;
    if (GM_PARAM_list_get(rows, "CLEAR_ACTIVE", clear, sizeof clear) == CM_RC_OK) {
        if (std::strcmp(clear, "Y") == 0) {
            gm_param::KeyedRows by_name(active);  // a set per attribute without a walk of the list each
            for (int n = last_row + 1; attr(AttributesIn, ActiveName(n)("REQUEST_ID")) != nullptr; ++n) {
                ActiveName name(n);
                for (const char* field : {"REQUEST_ID", "REQ_NAME", "PARENT", "PHASE", "STATUS", "PRIORITY"})
                    by_name.set(name(field), kNoData);
            }
        }
        GM_PARAM_list_set(rows, "CLEAR_ACTIVE", "N");
        std::string text;
        GM_PARAM_list_reset(rows);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(rows, &key, &value) == CM_RC_OK)
            text += be_procid_row(key, static_cast<const char*>(value));
        if (lock.rewrite(text) != CM_RC_OK) DIAG_printf("Failed to save file '%s'", procid_path);
    }
    GM_PARAM_list_clear(rows);
    return false;
}

/* BE_DUZ_track_req with the active-request attributes appended through a builder (none: not
 * reported). */
ZPARC track_req(BE_DUZ_Handles* JOB_handle, int priority, int parent_id, int request_id, char* request_name,
                char* description, char* phase, char* phase_word, char* status, char* hold_flag, char* completion_date,
                gm_param::RowBuilder* active, int row, int* has_ended, ZPAError* Error) {
    try {
        /* Only the first letter of each code counts. */
        char phase_text[BE_DUZ_STATUS_WORD_SIZE] = {phase != nullptr ? phase[0] : '\0', '\0'};
        char status_text[BE_DUZ_STATUS_WORD_SIZE] = {status != nullptr ? status[0] : '\0', '\0'};
        BE_DUZ_req_status(phase_text, status_text, hold_flag);
        BE_DUZ_interpret_status(phase_text, status_text);
        if (phase_word != nullptr) copy_cut(phase_word, BE_DUZ_STATUS_WORD_SIZE, phase_text);

        if (row <= kReportedRows && active != nullptr) {
            std::string root_name;
            const char* name = request_name != nullptr ? request_name : "";
            if (row == 1 && description != nullptr && std::strcmp(description, " ") != 0) {
                root_name = std::string(description) + " (" + name + ")";
                name = root_name.c_str();
            }
            const Decimal id(request_id), parent(parent_id), priority_text(priority);
            const char* values[] = {id.text,     row == 1 ? "" : parent.text, name, phase_text,
                                    status_text, priority_text.text};
            ActiveName names(row);
            for (std::size_t i = 0; i < std::size(kActiveFields); ++i)
                active->append(names(kActiveFields[i]), values[i]);
        }
        const std::string_view status_word = status_text;
        const bool ended = std::strcmp(phase_text, "COMPLETE") == 0 &&
                           ((completion_date != nullptr && std::strcmp(completion_date, "NA") != 0) ||
                            status_word == "TERMINATED" || status_word == "DELETED" || status_word == "ERROR");
        if (has_ended != nullptr) *has_ended = ended ? 1 : 0;
        BE_TRACE(4, "Request %d: %s/%s%s", request_id, phase_text, status_text, ended ? " (ended)" : "");

        if (JOB_handle == nullptr || JOB_handle->stmthp == nullptr) return 2;
        const sword fetched = OCIStmtFetch(JOB_handle->stmthp, JOB_handle->errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
        if (fetched == OCI_NO_DATA) return 2;
        return BE_DUZ_OCI_error(JOB_handle->errhp, fetched, Error) == 0 ? 0 : 1;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_track_req");
        return 1;
    }
}

/* The tree query: JOBSTATUS "5" when every handled request has ended, else "4". false when the
 * query failed (the reason in Error). */
bool track_tree(BE_DUZ_Handles* session, int root_id, bool whole_tree, ZPALIST_handle_typ* active, int* last_row,
                bool* finished, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    TreeRow row;
    ZPARC rc = stmt.prepare(kTreeSql);
    if (rc == 0) rc = stmt.bind_int(":ID", &root_id);
    if (rc == 0) rc = stmt.define_int(1, &row.request_id);
    if (rc == 0) rc = stmt.define_text(2, row.name, sizeof row.name);
    if (rc == 0) rc = stmt.define_text(3, row.description, sizeof row.description);
    if (rc == 0) rc = stmt.define_text(4, row.phase, sizeof row.phase);
    if (rc == 0) rc = stmt.define_text(5, row.status, sizeof row.status);
    if (rc == 0) rc = stmt.define_int(6, &row.parent);
    if (rc == 0) rc = stmt.define_int(7, &row.priority);
    if (rc == 0) rc = stmt.define_text(8, row.hold, sizeof row.hold);
    if (rc == 0) rc = stmt.define_text(9, row.type, sizeof row.type);
    if (rc == 0) rc = stmt.define_text(10, row.completed, sizeof row.completed);
    /* A tree of many requests comes in a few round trips, not one a row. */
    if (rc == 0) rc = stmt.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS);
    if (rc == 0) rc = stmt.execute_no_fetch();
    if (rc != 0) return false;
    const be_sql::Fetch first = stmt.fetch();
    if (first == be_sql::Fetch::Error) return false;
    if (first == be_sql::Fetch::End) {
        /* No such request: the job cannot be followed. */
        BE_DUZ_UpdateErrorSet(Error, OCI_NO_DATA, "Error - OCI_NODATA\n");
        return false;
    }
    const int root = row.request_id;
    *finished = true;
    gm_param::RowBuilder rows(active);  // the tree's attributes in order, without a walk of the list per row
    for (int number = 1;; ++number) {
        const int parent = number > 1 && row.type[0] == 'P' ? root : row.parent;
        char phase_word[81] = "";
        int ended = 0;
        rc = track_req(session, row.priority, parent, row.request_id, row.name, row.description, row.phase, phase_word,
                       row.status, row.hold, row.completed, &rows, number, &ended, Error);
        *last_row = number;
        if (!ended) *finished = false;
        if (rc == 1) return false;
        if (rc == 2 || !whole_tree) break;
        stmt.row_fetched_elsewhere();
    }
    return true;
}

/* What TRACK appends to AttributesOut: the active-request attributes, then the procid file's pairs,
 * each converted (and shown at level 4) on its own and appended together, so that the attributes
 * already there are copied once. */
class ReturnedAttributes {
public:
    ReturnedAttributes() = default;
    ~ReturnedAttributes() {
        release(rows_);
        release(pairs_);
    }
    ReturnedAttributes(const ReturnedAttributes&) = delete;
    ReturnedAttributes& operator=(const ReturnedAttributes&) = delete;

    /* The active-request rows, when there are any. 0, or 1 (none converted). */
    ZPARC convert_rows(ZPALIST_handle_typ* active) {
        return active->first != nullptr && ZPAAPI_UTILS_list2attr(active, &rows_) != 0 ? 1 : 0;
    }

    /* The pairs of the procid file at path, as BE_DUZ_append_file2Attr reads them (errors in Error);
     * read_before holds its rows when TRACK has just read the file, else it is read now. */
    ZPARC load_pairs(const char* path, ZPALIST_handle_typ* read_before, ZPAError* Error) {
        be_param_list file;
        if (read_before == nullptr && GM_PARAM_load_file(&file.list, path) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load file: '%s'", path);
            return 1;
        }
        if (ZPAAPI_UTILS_list2attr(read_before != nullptr ? read_before : &file.list, &pairs_) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to convert list to listAttributes.");
            return 1;
        }
        pairs_loaded_ = true;
        return 0;
    }

    /* Appends the rows and the pairs (in this order) to target, their blocks moved there rather
     * than copied (what remains here is released empty). 0, or 1 with the reason in Error. */
    ZPARC append_to(ZPAAttrList* target, ZPAError* Error) {
        const int count = rows_.Count + pairs_.Count;
        if (rows_.Count == 0 && !pairs_loaded_) return 0;  // loaded pairs are appended even when none
        /* A list that only lends the attributes of both to the one append. */
        std::vector<ZPAAttr> both;
        both.reserve(static_cast<std::size_t>(count));
        for (const ZPAAttrList* part : {&rows_, &pairs_})
            if (part->Attributes != nullptr) both.insert(both.end(), part->Attributes, part->Attributes + part->Count);
        ZPAAttrList joined{count, both.data(), 0};
        if (be_append_attributes(&joined, target, true) == 0) {
            for (ZPAAttrList* part : {&rows_, &pairs_})
                for (int i = 0; i < part->Count; ++i) part->Attributes[i].Name = nullptr;
            return 0;
        }
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to convert ZPAlist to job attribute list");
        return 1;
    }

private:
    static void release(ZPAAttrList& list) {
        if (list.Attributes != nullptr) ZPAAPI_utils_release_attr(&list);
    }
    ZPAAttrList rows_{0, nullptr, 0};
    ZPAAttrList pairs_{0, nullptr, 0};
    bool pairs_loaded_ = false;
};

ZPARC action_track(BE_DUZ_Handles* session, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                   ZPAAttrList* AttributesOut, ZPAError* Error) {
    const char* orderno = nullptr;
    const char* runno = nullptr;
    if (!be_job::job_identity(AttributesIn, &orderno, &runno, Error)) {
        set_status(AttributesOut, "5");
        return 1;
    }
    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);

    be_param_list active;
    be_param_list procid_rows;  // the procid file, when read for CLEAR_ACTIVE and left as it was
    bool procid_read = false;
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    const char* status = "5";
    if (be_job_find_in_jobs_failure_file(orderno, runno, message) == 0) {
        BE_TRACE(3, "Job found in failure file: no query");
    } else if (session == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "The connection object is NULL, can't track.");
        DIAG_printf("%s", Error != nullptr ? Error->text : "");
        set_status(AttributesOut, "5");
        return 1;
    } else {
        const char* procid = attr(AttributesIn, "PROCID");
        if (procid == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", "PROCID");
            set_status(AttributesOut, "5");
            return 1;
        }
        const int root_id = std::atoi(procid);
        if (root_id <= 0) {
            set_status(AttributesOut, "7");
            return 0;
        }
        const char* wait_child = attr(AttributesIn, "DUZ-WAITCHILD");
        if (wait_child == nullptr) wait_child = attr(ConnectionAttributes, "DUZ-WAITCHILD");
        std::string wait = wait_child != nullptr ? wait_child : "";
        GM_STR_toupper(wait.data());
        const bool whole_tree = wait != "N" && wait != "NO";

        int last_row = 0;
        bool finished = false;
        if (!track_tree(session, root_id, whole_tree, &active.list, &last_row, &finished, Error)) {
            /* A query that failed ends the job; statistics reports it from the failure table. */
            DIAG_printf("Tracking of request %d failed: %s", root_id, Error != nullptr ? Error->text : "");
            BE_SYSOUT_create_job_failure_msg(Error, message);
            BE_JOB_write_jobs_failure_file(orderno, runno, message);
            GM_PARAM_list_clear(&active.list);
        } else {
            procid_read = clear_earlier_rows(procid_path, last_row, AttributesIn, &active.list, &procid_rows.list);
            status = finished ? "5" : "4";
        }
    }

    set_status(AttributesOut, status);
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    const std::string seconds = std::to_string(static_cast<long long>(now));
    ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("CMRTPROP"), const_cast<char*>(seconds.c_str()));
    ZPARC rc = 0;
    ReturnedAttributes returned;
    if (returned.convert_rows(&active.list) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to convert ZPAlist to job attribute list");
        rc = 1;
    }

    /* The procid file's pairs go back to the agent (the job's script view reads them). */
    if (be_run_number(runno) < 1) {
        orderno = attr(AttributesIn, "MEMLIB");
        runno = attr(AttributesIn, "MEMNAME");
        if (orderno == nullptr || runno == nullptr) {
            returned.append_to(AttributesOut, Error);
            BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory",
                                  orderno == nullptr ? "MEMLIB" : "MEMNAME");
            return 1;
        }
    }
    if (be_run_number(runno) > 0) {
        PATHNAME_D_typ pairs_path = "";
        BE_DUZ_build_procid_fname(pairs_path, orderno, runno);
        const bool same_file = procid_read && std::strcmp(pairs_path, procid_path) == 0;
        rc = returned.load_pairs(pairs_path, same_file ? &procid_rows.list : nullptr, Error);
        if (returned.append_to(AttributesOut, Error) != 0) rc = 1;
        if (rc != 0)
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                                  "Fail to load file '%s'. JCL won't be available", pairs_path);
    } else {
        if (returned.append_to(AttributesOut, Error) != 0) rc = 1;
        BE_DUZ_UpdateErrorSet(Error, 1, "No valid orderno and runno are found. JCL won't be available");
    }
    return rc;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_req_status(char* phase, char* status, char* hold_flag) {
    if (phase == nullptr || status == nullptr) return 0;
    const bool held = hold_flag != nullptr && hold_flag[0] == 'Y';
    auto set_letter = [](char* text, char letter) {
        text[0] = letter;
        text[1] = '\0';
    };
    if (phase[0] == 'P' && held)
        set_letter(status, 'H');
    else if (phase[0] == 'R' && held)
        set_letter(status, 'S');
    else if (phase[0] == 'R' && (status[0] == 'Q' || status[0] == 'I'))
        set_letter(status, 'B');
    if (status[0] != '\0' && kInactiveStatuses.find(status[0]) != std::string_view::npos) set_letter(phase, 'I');
    return 0;
}

ZPARC BE_DUZ_interpret_status(char* phase, char* status) {
    /* Both buffers hold at least BE_DUZ_STATUS_WORD_SIZE bytes: the longest word fits. */
    if (phase != nullptr) copy_cut(phase, BE_DUZ_STATUS_WORD_SIZE, word_of(kPhaseWords, phase[0]));
    if (status != nullptr) copy_cut(status, BE_DUZ_STATUS_WORD_SIZE, word_of(kStatusWords, status[0]));
    return 0;
}

ZPARC BE_DUZ_track_req(BE_DUZ_Handles* JOB_handle, int priority, int parent_id, int request_id, char* request_name,
                       char* description, char* phase, char* phase_word, char* status, char* hold_flag,
                       char* completion_date, ZPALIST_handle_typ* active_list, int row, int* has_ended,
                       ZPAError* Error) {
    gm_param::RowBuilder rows(active_list);
    return track_req(JOB_handle, priority, parent_id, request_id, request_name, description, phase, phase_word, status,
                     hold_flag, completion_date, active_list != nullptr ? &rows : nullptr, row, has_ended, Error);
}

ZPARC BE_action_track(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                      ZPAAttrList* AttributesOut, ZPAError* Error) {
    try {
        return action_track(JOB_handle, ConnectionAttributes, AttributesIn, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_action_track");
        set_status(AttributesOut, "5");
        return 1;
    }
}

CM_EXTERN_C_END
