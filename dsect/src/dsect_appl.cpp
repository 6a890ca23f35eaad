/* Record-type layouts of the agent protocol. Each record type has one table of rows (field name,
 * field type, version gate, and what is special about the row); the same table drives the type's
 * reader and, for the types this side sends, its writer. Owns the record dispatch table, the job
 * variables carried as nested records, and the in-stream script file of a submitted job. */
#include "dsect_appl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "dsect_internal.h"
#include "dsect_list.h"
#include "gm_param.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_lib.h"
#include "os_workfile.h"

namespace {

using dsect::always;
using dsect::between;
using dsect::from;
using dsect::Gate;
using dsect::up_to;

constexpr char kBuiltInVersion[] = "DSECT dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012";
constexpr int kSetvarNameKept = 40;
constexpr int kPingRunMax = 999;
constexpr int kSetvarLimitBefore10 = 999;
constexpr int kSetvarLimitFrom10 = 9999;
constexpr mode_t kInstreamFileMode = 0644;  // as a writing stream makes it under the usual umask

enum class Special {
    none,
    setvar_run,     /* a count, then that many job-variable records */
    on_run,         /* a stored count, then that many ON records kept whole */
    instream,       /* the in-stream script, when INSTREAM_USE is "Y" */
    rest_of_buffer, /* everything up to the NUL, kept whole */
    count_only      /* a count that is read and not stored */
};

struct Row {
    const char* name;
    DSECT_FLD_typ type;
    Gate gate = always;
    Special special = Special::none;
    const char* missing = nullptr;  /* list writers: the row is mandatory; the message when absent */
    const char* fallback = "";      /* list writers: the value when the row is absent */
    const char* too_wide = nullptr; /* list writers: sent in place of a number too wide for its field */
};
using Layout = std::span<const Row>;

// Row groups shared by several layouts, kept as written.
// clang-format off
#define PROCID_ROWS {"PROCID", DF_C6, up_to("01")}, {"PROCID", DF_VAR2, from("02")}
#define SSH_ROWS(g)                                                                                              \
    {"CONNECTION_PROTOCOL", DF_C1, g}, {"TARGET_MACHINE", DF_VAR3, g}, {"SSH_PORT_NUMBER", DF_I5, g},            \
        {"PASS_KEY_FLAG", DF_C1, g}, {"PASSWORD_KEY", DF_VAR5, g}, {"KEY_PASSPHRASE", DF_VAR3, g},               \
        {"SSH_ENC_ALG", DF_VAR2, g}, {"SSH_COMPRESSION", DF_C1, g}
#define SETVAR_ROWS                                                                                              \
    {"DSECT_SETVAR_COUNT", DF_I3, between("06", "09"), Special::setvar_run},                                     \
        {"DSECT_SETVAR_COUNT", DF_I4, from("10"), Special::setvar_run}
// clang-format on

constexpr Row kDwnsys[] = {{"ORDERNO", DF_B5},
                           {"RUNNO", DF_I5},
                           {"MEMNAME", DF_VAR2},
                           {"JOBNAME", DF_VAR2, from("02")},
                           {"TASKTYPE", DF_C1},
                           {"PROCID", DF_VAR2, from("09")},
                           SSH_ROWS(from("09")),
                           {"SYSOUT_DIRECTORY", DF_VAR4, from("09")},
                           {"OUTPUT_LIMIT_SIZE_START", DF_I6, from("10")},
                           {"OUTPUT_LIMIT_SIZE_END", DF_I6, from("10")}};

constexpr Row kSyshnd[] = {{"SYSOUT_ACTION", DF_C1},
                           {"SYSOUT_ACTION_PARAM", DF_VAR2, up_to("04")},
                           {"SYSOUT_ACTION_PARAM", DF_VAR3, from("05")},
                           {"ORDERNO", DF_B5},
                           {"RUNNO", DF_I5},
                           {"MEMNAME", DF_VAR2},
                           {"JOBNAME", DF_VAR2, from("02")},
                           {"TASKTYPE", DF_C1},
                           {"OWNER", DF_VAR2},
                           {"PROCID", DF_VAR2, from("09")},
                           SSH_ROWS(from("09")),
                           {"SYSOUT_DIRECTORY", DF_VAR4, from("09")}};

constexpr Row kErrcd[] = {{"DSECT_ERROR_CODE", DF_I6}, {"DSECT_ERROR_MESSAGE", DF_VAR3}};

constexpr Row kJcldoc[] = {{"MEMNAME", DF_VAR2},
                           {"JOBNAME", DF_VAR2, from("02")},
                           {"MEMLIB", DF_VAR2, up_to("04")},
                           {"MEMLIB", DF_VAR3, from("05")},
                           {"OVERLIB", DF_VAR2, up_to("04")},
                           {"OVERLIB", DF_VAR3, from("05")},
                           {"USER", DF_VAR2},
                           {"TASKTYPE", DF_C1, from("03")},
                           {"ORDERNO", DF_B5, from("05")},
                           {"RUNNO", DF_I5, from("05")},
                           SSH_ROWS(from("07")),
                           {"SYSOUT_DIRECTORY", DF_VAR4, from("07")}};

constexpr Row kKilljb[] = {PROCID_ROWS,
                           {"TASKTYPE", DF_C1},
                           {"USER", DF_VAR2},
                           {"ORDERNO", DF_B5, from("03")},
                           {"RUNNO", DF_I5, from("03")},
                           SSH_ROWS(from("07"))};

constexpr Row kLongex[] = {{"PROCID", DF_C6, up_to("01")},
                           {"PROCID", DF_VAR2, from("02")},
                           {"TASKTYPE", DF_C1, always, Special::none, "TASKTYPE not found."},
                           {"ORDERNO", DF_B5, always, Special::none, "ORDERNO not found."},
                           {"RUNNO", DF_I5, always, Special::none, "RUNNO not found"},
                           {"JOBSTATUS", DF_C1, always, Special::none, "JOBSTATUS not found."},
                           {"EXITSTATUS", DF_C1, always, Special::none, nullptr, "N"},
                           {"EXITCODE", DF_IVAR1, always, Special::none, nullptr, "0", "999999999"},
                           {"EXITMSG", DF_VAR2, up_to("06")},
                           {"EXITMSG", DF_VAR3, from("07")},
                           {"SYSOUTSIZE", DF_IVAR1, always, Special::none, nullptr, "0", "999999999"},
                           {"CPUUSED", DF_IVAR1, always, Special::none, nullptr, "0", "0"},
                           {"ELAPSEDTIME", DF_IVAR1, always, Special::none, nullptr, "0", "0"},
                           {"DSECT_ON_MATCH", DF_VAR4},
                           {"END_TIME", DF_C14, from("02"), Special::none, "END_TIME not found."},
                           SETVAR_ROWS,
                           {"CM_STATUS", DF_VAR2, from("09")}};

constexpr Row kShexit[] = {{"PROCID", DF_C6, up_to("01"), Special::none, "PROCID not found."},
                           {"PROCID", DF_VAR2, from("02"), Special::none, "PROCID not found."},
                           {"TASKTYPE", DF_C1, always, Special::none, "TASKTYPE not found."},
                           {"ORDERNO", DF_B5, always, Special::none, "ORDERNO not found."},
                           {"RUNNO", DF_I5, always, Special::none, "RUNNO not found"},
                           {"JOBSTATUS", DF_C1, always, Special::none, "JOBSTATUS not found."},
                           {"START_TIME", DF_C14, from("02"), Special::none, "START_TIME not found."},
                           SETVAR_ROWS,
                           {"CM_STATUS", DF_VAR2, from("09")}};

constexpr Row kNewday[] = {{"SYSKEEPDAYS", DF_I3}};
constexpr Row kProcid[] = {PROCID_ROWS, {"TASKTYPE", DF_C1}, {"ORDERNO", DF_B5}, {"RUNNO", DF_I5}};

constexpr Row kSubmit[] = {{"MEMNAME", DF_VAR2},
                           {"JOBNAME", DF_VAR2, from("02")},
                           {"TASKTYPE", DF_C1},
                           {"CMDLINE", DF_VAR3},
                           {"MEMLIB", DF_VAR2, up_to("04")},
                           {"MEMLIB", DF_VAR3, from("05")},
                           {"OVERLIB", DF_VAR2, up_to("04")},
                           {"OVERLIB", DF_VAR3, from("05")},
                           {"OWNER", DF_VAR2},
                           {"ORDERNO", DF_B5},
                           {"RUNNO", DF_I5},
                           SSH_ROWS(from("07")),
                           {"HANDLE_SYSOUT", DF_C1, from("07")},
                           {"SYSOUT_DIRECTORY", DF_VAR4, from("07")},
                           {"ENCODING_TYPE", DF_VAR2, from("07")},
                           {"INSTREAM_USE", DF_C1, from("08")},
                           {"INSTREAM_SCRIPT", DF_VAR5, from("08"), Special::instream},
                           {"DSECT_ON_COUNT", DF_I3, always, Special::on_run},
                           {"DSECT_SETVAR_COUNT", DF_I3, up_to("09"), Special::setvar_run},
                           {"DSECT_SETVAR_COUNT", DF_I4, from("10"), Special::setvar_run}};

constexpr Row kOnstmt[] = {{"DSECT_ON_NUMBER", DF_I2}, {"ONSTMT", DF_VAR3}, {"ONCODE", DF_VAR3}};
constexpr Row kSetvar[] = {{"DSECT_VARIABLE_NAME", DF_VAR2, up_to("05")},
                           {"DSECT_VARIABLE_NAME", DF_VAR3, from("06")},
                           {"DSECT_VARIABLE_VALUE", DF_VAR2, up_to("05")},
                           {"DSECT_VARIABLE_VALUE", DF_VAR3, between("06", "07")},
                           {"DSECT_VARIABLE_VALUE", DF_VAR4, from("08")}};
constexpr Row kTrack[] = {{"DSECT_TRACK_MODE", DF_C1},
                          {"DSECT_TRACK_COUNT", DF_I5},
                          {"DSECT_TRACK_LIST", DF_DSECT_LIST, always, Special::rest_of_buffer}};
constexpr Row kText[] = {{"TEXT", DF_VAR4, up_to("04")}, {"TEXT", DF_VAR5, from("05")}};
constexpr Row kTmpflnm[] = {{"MEMNAME", DF_VAR2}};
constexpr Row kUtilact[] = {
    {"USER", DF_VAR2}, {"HOSTNAME", DF_VAR2}, {"TEXT", DF_VAR4, up_to("04")}, {"TEXT", DF_VAR5, from("05")}};
constexpr Row kUtilresp[] = {{"EXITSTATUS", DF_C1}, {"EXITCODE", DF_IVAR1}};
constexpr Row kShout[] = {{"ORDERNO", DF_B5, from("07")},
                          {"RUNNO", DF_I5, from("07")},
                          {"SHOUT_TYPE", DF_C1},
                          {"SHOUT_DESTINATION", DF_VAR2},
                          {"SHOUT_URGENCY", DF_C1},
                          {"MESSAGE", DF_VAR2, up_to("04")},
                          {"MESSAGE", DF_VAR3, from("05")},
                          {"ATTACHMENT_MAX_SIZE", DF_I5, from("07")},
                          {"ATTACHMENT_TYPE", DF_C1, from("07")},
                          {"OWNER", DF_VAR2, from("07")}};
constexpr Row kOrvlog[] = {{"DATE", DF_C4},
                           {"TIME", DF_C4},
                           {"DSECT_PROCNAME", DF_C2},
                           {"ORDERNO", DF_B5},
                           {"DSECT_MSGID", DF_C4},
                           {"MESSAGE", DF_VAR2, up_to("04")},
                           {"MESSAGE", DF_VAR3, from("05")}};
constexpr Row kNodestate[] = {{"DSECT_NODE_NAME", DF_VAR2}, {"DSECT_NODE_STATE", DF_C1}};
constexpr Row kVer[] = {{"VERSION", DF_C10}};
constexpr Row kGeneralRequestRead[] = {{"XMLBUF", DF_VAR5}};
constexpr Row kGeneralRequestWrite[] = {{"DSECT_OBJECT_TYPE", DF_VAR4},
                                        {"DSECT_OBJECT_MODE", DF_VAR4},
                                        {"DSECT_OBJECT_ACTION", DF_VAR4},
                                        {"DSECT_PARAM_COUNT", DF_I4},
                                        {"DSECT_RESULT_COUNT", DF_I4}};
constexpr Row kGeneralResponse[] = {
    {"DSECT_ERROR_CODE", DF_I4}, {"DSECT_ERROR_MESSAGE", DF_VAR4}, {"DSECT_PARAM_COUNT", DF_I4}};
constexpr Row kGeneralParam[] = {{"DSECT_VARIABLE_NAME", DF_VAR4}, {"DSECT_VARIABLE_VALUE", DF_VAR4}};
constexpr Row kGeneralResult[] = {{"DSECT_VARIABLE_NAME", DF_VAR4}, {"DSECT_VARIABLE_SIZE", DF_I4}};
constexpr Row kAdminRead[] = {{"DSECT_OBJECT_TYPE", DF_VAR4},
                              {"DSECT_BE_NAME", DF_VAR4},
                              {"DSECT_OBJECT_MODE", DF_VAR4},
                              {"DSECT_OBJECT_ACTION", DF_VAR4},
                              {"DSECT_PARAM_COUNT", DF_I4, always, Special::count_only}};
constexpr Row kAdminWrite[] = {{"DSECT_OBJECT_TYPE", DF_VAR4},
                               {"DSECT_BE_NAME", DF_VAR4},
                               {"DSECT_OBJECT_MODE", DF_VAR4},
                               {"DSECT_OBJECT_ACTION", DF_VAR4},
                               {"DSECT_PARAM_COUNT", DF_I4}};
constexpr Row kGnrldta[] = {{"DSECT_GNRLDTA_SUBJECT", DF_VAR2}, {"DSECT_GNRLDTA_COUNT", DF_I3}};

/* Log lines of the job-variable run of a reader. */
struct RunMessages {
    const char* count_failed;
    const char* run_failed;
};
constexpr RunMessages kJobEndRun{"SETVAR_COUNT undetermined.", "SETVARS operation failed."};
constexpr RunMessages kSubmitRun{"Failed to get setvar_count", "SETVAR operation failed."};

bool has_prefix(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

/* The type of the record at pos, read from its prefix; 0 when unreadable. */
int record_type_at(const char* pos) {
    char* p = const_cast<char*>(pos);
    int type = 0;
    if (strnlen(pos, DSECT_PREFIX_LEN) < DSECT_PREFIX_LEN || DSECT_FLD_get_int(&type, &p, DF_I2) != CM_RC_OK) return 0;
    return type;
}

/* Start of the records that follow the record at buffer; null when its prefix is unreadable. */
char* after_record(char* buffer) {
    int length = 0;
    return dsect::record_length(buffer, length) ? buffer + length : nullptr;
}

/* Takes up to `count` records at *pos as a run and hands each record of type `wanted` to `each`
 * (unpacked); `each` returns false to end the run early. */
template <typename F>
bool each_in_run(const char* version, char** pos, int count, int wanted, F&& each) {
    DSECT_LIST_handle_typ run;
    if (DSECT_LIST_unpack(version, pos, &run, count) != CM_RC_OK) return false;
    bool ok = true;
    void* entry = nullptr;
    unsigned size = 0;
    while (ok && ZPALIST_next_ptr(&run.handle, &entry, &size) == CM_RC_OK) {
        const int type = record_type_at(static_cast<char*>(entry));
        if (wanted != 0 && type != wanted) {
            if (!each(nullptr)) break;
            continue;
        }
        DSECT_ONE_handle_typ inner;
        if (DSECT_ONE_unpack(version, &inner, static_cast<char*>(entry)) != CM_RC_OK) {
            DSECT_ONE_delete(&inner);
            ok = false;
            break;
        }
        const bool go_on = each(&inner);
        DSECT_ONE_delete(&inner);
        if (!go_on) break;
    }
    DSECT_LIST_delete(&run);
    return ok;
}

/* The job variables of a run: each job-variable record's first "%%" field joins the record. */
CM_RC read_setvars(const char* version, const Row& row, DSECT_ONE_handle_typ* record, char** pos,
                   const RunMessages& messages) {
    int count = 0;
    if (DSECT_FLD_get_int(&count, pos, row.type) != CM_RC_OK) {
        DIAG_ERROR("%s", messages.count_failed);
        return CM_RC_FAIL;
    }
    bool appended = true;
    zpalist::Builder fields(&record->handle);
    const bool ok = each_in_run(version, pos, count, DSECT_TYP_SETVAR, [&](DSECT_ONE_handle_typ* inner) {
        if (!inner) return true;
        DSECT_VAR_typ* field = nullptr;
        DSECT_ONE_reset(inner);
        while (DSECT_ONE_get_next_rec(inner, &field) == CM_RC_OK) {
            if (!has_prefix(field->Name, "%%")) continue;
            appended = dsect::append_field(record, field->Name, field->Value, field->ValueSize - 1, field->Type,
                                           &fields) == CM_RC_OK;
            break;
        }
        return appended;
    });
    if (!ok || !appended) {
        DIAG_ERROR("%s", messages.run_failed);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC read_instream(const Row& row, DSECT_ONE_handle_typ* record, char** pos) {
    char* use = nullptr;
    if (DSECT_ONE_get_key_value(record, "INSTREAM_USE", &use) != CM_RC_OK || std::strcmp(use, "Y") != 0)
        return CM_RC_OK;
    char* script = nullptr;
    if (DSECT_FLD_get_char_with_malloc(&script, pos, row.type) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_get_char");
        return CM_RC_FAIL;
    }
    char* orderno = nullptr;
    char* runno = nullptr;
    CM_RC rc = CM_RC_FAIL;
    if (DSECT_ONE_get_key_value(record, "ORDERNO", &orderno) == CM_RC_OK &&
        DSECT_ONE_get_key_value(record, "RUNNO", &runno) == CM_RC_OK) {
        const std::string order = orderno, run = runno;
        rc = dsect_appl_instream2file(script, order.c_str(), std::atoi(run.c_str()),
                                      static_cast<int>(std::strlen(script)));
    }
    if (rc == CM_RC_OK) {
        const int kept = static_cast<int>(strnlen(script, DSECT_VALUE_MAX));
        rc = dsect::append_field(record, row.name, script, kept, row.type);
    }
    std::free(script);
    return rc;
}

CM_RC read_on_run(const char* version, const Row& row, DSECT_ONE_handle_typ* record, char** pos) {
    if (DSECT_ONE_parse_dsect_var(record, pos, row.name, row.type) != CM_RC_OK) return CM_RC_FAIL;
    char* count_text = nullptr;
    DSECT_ONE_get_key_value(record, row.name, &count_text);
    int length = 0, taken = 0;
    if (!dsect::run_length(*pos, std::atoi(count_text), length, taken) || length > DSECT_VALUE_LONG_MAX) {
        DIAG_ERROR("%s: ON statements unreadable or longer than %d bytes", version, DSECT_VALUE_LONG_MAX);
        return CM_RC_FAIL;
    }
    if (dsect::append_field(record, "DSECT_ON_BUFFER", *pos, length, DF_DSECT_LIST) != CM_RC_OK) return CM_RC_FAIL;
    *pos += length;
    return CM_RC_OK;
}

CM_RC read_rest(const Row& row, DSECT_ONE_handle_typ* record, char** pos) {
    const std::size_t length = strnlen(*pos, DSECT_VALUE_LONG_MAX + 1);
    if (length > DSECT_VALUE_LONG_MAX) {
        DIAG_ERROR("%s is longer than %d bytes", row.name, DSECT_VALUE_LONG_MAX);
        return CM_RC_FAIL;
    }
    if (dsect::append_field(record, row.name, *pos, static_cast<int>(length), row.type) != CM_RC_OK) return CM_RC_FAIL;
    *pos += length;
    return CM_RC_OK;
}

/* Reads the rows of a layout that the version carries, from offset 6 of the record at buffer. */
CM_RC read_layout(Layout layout, const char* version, DSECT_ONE_handle_typ* record, char* buffer,
                  const RunMessages& messages = kJobEndRun, int* count_out = nullptr) {
    if (!record || !buffer || strnlen(buffer, DSECT_PREFIX_LEN) < DSECT_PREFIX_LEN) return CM_RC_FAIL;
    char* pos = buffer + DSECT_PREFIX_LEN;
    for (const Row& row : layout) {
        if (!row.gate.open(version)) continue;
        CM_RC rc = CM_RC_OK;
        switch (row.special) {
        case Special::none: rc = DSECT_ONE_parse_dsect_var(record, &pos, row.name, row.type); break;
        case Special::setvar_run: rc = read_setvars(version, row, record, &pos, messages); break;
        case Special::on_run: rc = read_on_run(version, row, record, &pos); break;
        case Special::instream: rc = read_instream(row, record, &pos); break;
        case Special::rest_of_buffer: rc = read_rest(row, record, &pos); break;
        case Special::count_only: {
            int count = 0;
            rc = DSECT_FLD_get_int(&count, &pos, row.type);
            if (rc != CM_RC_OK) DIAG_ERROR("error from DSECT_FLD_get_int");
            if (count_out) *count_out = count;
            break;
        }
        }
        if (rc != CM_RC_OK) return rc;
    }
    return CM_RC_OK;
}

/* Starts a record of a writer: initialised, typed, encoded by the given version. */
CM_RC start_record(const char* version, DSECT_ONE_handle_typ* record, DSECT_TYPE_typ type) {
    if (DSECT_ONE_init(record) != CM_RC_OK) return CM_RC_FAIL;
    record->type = type;
    if (version && *version) {
        std::memset(record->version, 0, sizeof record->version);
        std::strncpy(record->version, version, 2);
    }
    return CM_RC_OK;
}

/* Appends a field that a writer makes; a value with no encoding in its field fails the append. */
bool add_field(DSECT_ONE_handle_typ* record, const char* name, const char* value, DSECT_FLD_typ type) {
    int length = 0;
    if (!dsect::number_fits(type, value) || DSECT_FLD_eval_len(type, value, &length) != CM_RC_OK ||
        DSECT_ONE_append_dsect_var(record, name, value, type) != CM_RC_OK) {
        DIAG_ERROR("Append %s failed.", name);
        return false;
    }
    return true;
}

CM_RC fail_record(DSECT_ONE_handle_typ* record) {
    DSECT_ONE_delete(record);
    return CM_RC_FAIL;
}

/* A writer whose arguments are the values of the layout's rows that the version carries, in order. */
CM_RC write_layout(Layout layout, const char* version, DSECT_ONE_handle_typ* record, DSECT_TYPE_typ type,
                   std::initializer_list<std::string> values) {
    if (start_record(version, record, type) != CM_RC_OK) return CM_RC_FAIL;
    auto value = values.begin();
    for (const Row& row : layout) {
        if (!row.gate.open(record->version)) continue;
        if (value == values.end() || !add_field(record, row.name, value->c_str(), row.type)) return fail_record(record);
        ++value;
    }
    return CM_RC_OK;
}

/* The job variables of a key/value list ("%%" rows with a value) as packed job-variable records. */
CM_RC write_setvars(const char* version, const Row& row, ZPALIST_handle_typ* list, DSECT_ONE_handle_typ* record,
                    const char* op) {
    const int limit = dsect::version_from(version, "10") ? kSetvarLimitFrom10 : kSetvarLimitBefore10;
    std::vector<std::string> packed;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        const auto* param = static_cast<const GM_PARAM_table_row*>(entry);
        if (!has_prefix(param->key, "%%") || param->val[0] == '\0') continue;
        if (static_cast<int>(packed.size()) == limit) {
            DIAG_TRACE(2, "%s: Reached the %d autoedit limit", op, limit);
            break;
        }
        DSECT_ONE_handle_typ setvar;
        if (DSECT_APPL_create_setvar(version, &setvar, param->key, param->val) != CM_RC_OK) return CM_RC_FAIL;
        int length = 0;
        CM_RC rc = DSECT_ONE_evallen(&setvar, &length);
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        if (rc == CM_RC_OK) rc = DSECT_ONE_pack(&setvar, text.data(), length + 1);
        DSECT_ONE_delete(&setvar);
        if (rc != CM_RC_OK) return CM_RC_FAIL;
        text.resize(static_cast<std::size_t>(length));
        packed.push_back(std::move(text));
    }
    std::string joined;
    int joined_count = 0;
    for (const std::string& one : packed) {
        if (joined.size() + one.size() > DSECT_VALUE_LONG_MAX) {
            DIAG_TRACE(2, "%s: reached the maximum size of %d bytes for a dsect field", op, DSECT_VALUE_LONG_MAX);
            break;
        }
        joined += one;
        ++joined_count;
    }
    if (!add_field(record, row.name, std::to_string(joined_count).c_str(), row.type)) return CM_RC_FAIL;
    if (joined_count > 0 &&
        DSECT_ONE_append_dsect_var_size(record, "DSECT_SETVAR_DSECT_LIST", joined.data(),
                                        static_cast<int>(joined.size()), DF_DSECT_LIST) != CM_RC_OK) {
        DIAG_ERROR("Append %s failed.", "DSECT_SETVAR_DSECT_LIST");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

/* A job-end or job-start record from a key/value list. */
CM_RC write_from_list(Layout layout, const char* version, ZPALIST_handle_typ* list, DSECT_ONE_handle_typ* record,
                      DSECT_TYPE_typ type, const char* op) {
    if (!list || start_record(version, record, type) != CM_RC_OK) return CM_RC_FAIL;
    for (const Row& row : layout) {
        if (!row.gate.open(record->version)) continue;
        if (row.special == Special::setvar_run) {
            if (write_setvars(record->version, row, list, record, op) != CM_RC_OK) return fail_record(record);
            continue;
        }
        GM_PARAM_ROW_VALUE_typ value = {};
        if (GM_PARAM_list_get(list, row.name, value, sizeof value) != CM_RC_OK) {
            if (row.missing) {
                DIAG_ERROR("%s", row.missing);
                return fail_record(record);
            }
            std::strncpy(value, row.fallback, sizeof value - 1);
        }
        if (row.too_wide && !dsect::number_fits(row.type, value)) {
            DIAG_TRACE(2, "%s %s exceeds its maximum length", row.name, value);
            std::strncpy(value, row.too_wide, sizeof value - 1);
        }
        if (!add_field(record, row.name, value, row.type)) return fail_record(record);
    }
    return CM_RC_OK;
}

/* The writers of record types this side never sends. */
CM_RC empty_record(const char* version, DSECT_ONE_handle_typ* record, DSECT_TYPE_typ type) {
    return start_record(version, record, type);
}

/* Records that follow the record at buffer, taken as general parameters: each adds a DF_VAR4 field
 * named by its DSECT_VARIABLE_NAME. The run ends at the first record without the pair when
 * `stop_at_other` is set; otherwise records of other types are passed over. */
CM_RC read_parameters(const char* version, DSECT_ONE_handle_typ* record, char* buffer, int count, bool stop_at_other) {
    char* pos = after_record(buffer);
    if (!pos) return CM_RC_FAIL;
    bool appended = true;
    zpalist::Builder fields(&record->handle);
    const bool ok = each_in_run(version, &pos, count, DSECT_TYP_GENERAL_PARAM, [&](DSECT_ONE_handle_typ* inner) {
        if (!inner) return !stop_at_other;
        char* name = nullptr;
        char* value = nullptr;
        if (DSECT_ONE_get_key_value(inner, "DSECT_VARIABLE_NAME", &name) != CM_RC_OK ||
            DSECT_ONE_get_key_value(inner, "DSECT_VARIABLE_VALUE", &value) != CM_RC_OK)
            return !stop_at_other;
        appended = dsect::append_field(record, name, value, -1, DF_VAR4, &fields) == CM_RC_OK;
        return appended;
    });
    return ok && appended ? CM_RC_OK : CM_RC_FAIL;
}

struct Dispatch {
    int type;
    dsect::Reader reader;
};

constexpr Dispatch kReaders[] = {
    {DSECT_TYP_DWNSYS, DSECT_APPL_unpack_dwnsys},
    {DSECT_TYP_SYSHND, DSECT_APPL_unpack_syshnd},
    {DSECT_TYP_ERRCD, DSECT_APPL_unpack_errcd},
    {DSECT_TYP_JCLDOC, DSECT_APPL_unpack_jcldoc},
    {DSECT_TYP_KILLJB, DSECT_APPL_unpack_killjb},
    {DSECT_TYP_LONGEX, DSECT_APPL_unpack_longex},
    {DSECT_TYP_NEWDAY, DSECT_APPL_unpack_newday},
    {DSECT_TYP_PING, DSECT_APPL_unpack_ping},
    {DSECT_TYP_PROCID, DSECT_APPL_unpack_procid},
    {DSECT_TYP_SHEXIT, DSECT_APPL_unpack_shexit},
    {DSECT_TYP_SUBMIT, DSECT_APPL_unpack_submit},
    {DSECT_TYP_ONSTMT, DSECT_APPL_unpack_onstmt},
    {DSECT_TYP_SETVAR, DSECT_APPL_unpack_setvar},
    {DSECT_TYP_TRACK, DSECT_APPL_unpack_track},
    {DSECT_TYP_TEXT, DSECT_APPL_unpack_text},
    {DSECT_TYP_TMPFLNM, DSECT_APPL_unpack_tmpflnm},
    {DSECT_TYP_UTILACT, DSECT_APPL_unpack_utilact},
    {DSECT_TYP_UTILRESP, DSECT_APPL_unpack_utilresp},
    {DSECT_TYP_SHOUT, DSECT_APPL_unpack_shout},
    {DSECT_TYP_ORVLOG, DSECT_APPL_unpack_orvlog},
    {DSECT_TYP_NODESTATE, DSECT_APPL_unpack_nodestate},
    {DSECT_TYP_GENERAL_REQUEST, DSECT_APPL_unpack_general_request},
    {DSECT_TYP_GENERAL_RESPONSE, DSECT_APPL_unpack_general_response},
    {DSECT_TYP_GENERAL_PARAM, DSECT_APPL_unpack_general_param},
    {DSECT_TYP_GENERAL_RESULT, DSECT_APPL_unpack_general_result},
    {DSECT_TYP_ADMIN, DSECT_APPL_unpack_admin},
    {DSECT_TYP_GNRLDTA, DSECT_APPL_unpack_gnrldta},
};

}  // namespace

namespace dsect {

Reader reader_for(int type) {
    for (const Dispatch& d : kReaders)
        if (d.type == type) return d.reader;
    return nullptr;
}

}  // namespace dsect

extern "C" {

CM_RC DSECT_APPL_create(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record) {
    static const char* op = "DSECT_APPL_create";
    GM_PARAM_ROW_VALUE_typ type = {};
    if (!in_list || GM_PARAM_list_get(in_list, DSECT_KEY_DSECT_TYPE, type, sizeof type) != CM_RC_OK) {
        DIAG_ERROR("%s : cannot get DSECT_KEY_DSECT_TYPE from the dsect", op);
        return CM_RC_FAIL;
    }
    switch (std::atoi(type)) {
    case DSECT_TYP_LONGEX: return DSECT_APPL_create_longex(version, in_list, out_record);
    case DSECT_TYP_SHEXIT: return DSECT_APPL_create_shexit(version, in_list, out_record);
    default: DIAG_ERROR("%s : unsupported dsect type '%s'", op, type); return CM_RC_FAIL;
    }
}

CM_RC DSECT_APPL_create_longex(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record) {
    return write_from_list(kLongex, version, in_list, out_record, DSECT_TYP_LONGEX, "DSECT_APPL_create_longex");
}

CM_RC DSECT_APPL_create_shexit(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record) {
    return write_from_list(kShexit, version, in_list, out_record, DSECT_TYP_SHEXIT, "DSECT_APPL_create_shexit");
}

CM_RC DSECT_APPL_create_setvar(const char* version, DSECT_ONE_handle_typ* record, const char* name, const char* value) {
    return write_layout(kSetvar, version, record, DSECT_TYP_SETVAR, {name ? name : "", value ? value : ""});
}

CM_RC DSECT_APPL_create_errcd(const char* version, DSECT_ONE_handle_typ* record, int err_code, const char* message) {
    return write_layout(kErrcd, version, record, DSECT_TYP_ERRCD, {std::to_string(err_code), message ? message : ""});
}

CM_RC DSECT_APPL_create_ping(const char* version, DSECT_ONE_handle_typ* record) {
    return start_record(version, record, DSECT_TYP_PING);
}

CM_RC DSECT_APPL_create_text(const char* version, DSECT_ONE_handle_typ* record, const char* text) {
    return write_layout(kText, version, record, DSECT_TYP_TEXT, {text ? text : ""});
}

CM_RC DSECT_APPL_create_utilact(const char* version, DSECT_ONE_handle_typ* record, const char* user, const char* text,
                                const char* hostname) {
    return write_layout(kUtilact, version, record, DSECT_TYP_UTILACT,
                        {user ? user : "", hostname ? hostname : "", text ? text : ""});
}

CM_RC DSECT_APPL_create_utilresp(const char* version, DSECT_ONE_handle_typ* record, const char* exit_status,
                                 int exit_code) {
    return write_layout(kUtilresp, version, record, DSECT_TYP_UTILRESP,
                        {exit_status ? exit_status : "", std::to_string(exit_code)});
}

CM_RC DSECT_APPL_create_orvlog(const char* version, DSECT_ONE_handle_typ* record, const char* date, const char* time,
                               const char* subsystem, const char* orderno, const char* msgid, const char* message) {
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    return write_layout(kOrvlog, version, record, DSECT_TYP_ORVLOG,
                        {text(date), text(time), text(subsystem), text(orderno), text(msgid), text(message)});
}

CM_RC DSECT_APPL_create_general_request(const char* version, DSECT_ONE_handle_typ* record, const char* object_class,
                                        const char* mode, const char* action, int param_count, int result_count) {
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    return write_layout(
        kGeneralRequestWrite, version, record, DSECT_TYP_GENERAL_REQUEST,
        {text(object_class), text(mode), text(action), std::to_string(param_count), std::to_string(result_count)});
}

CM_RC DSECT_APPL_create_general_response(const char* version, DSECT_ONE_handle_typ* record, int err_code,
                                         const char* err_msg, int param_count) {
    return write_layout(kGeneralResponse, version, record, DSECT_TYP_GENERAL_RESPONSE,
                        {std::to_string(err_code), err_msg ? err_msg : "", std::to_string(param_count)});
}

CM_RC DSECT_APPL_create_general_param(const char* version, DSECT_ONE_handle_typ* record, const char* name,
                                      const char* value) {
    return write_layout(kGeneralParam, version, record, DSECT_TYP_GENERAL_PARAM,
                        {name ? name : "", value ? value : ""});
}

CM_RC DSECT_APPL_create_general_result(const char* version, DSECT_ONE_handle_typ* record, const char* name, int size) {
    return write_layout(kGeneralResult, version, record, DSECT_TYP_GENERAL_RESULT,
                        {name ? name : "", std::to_string(size)});
}

CM_RC DSECT_APPL_create_admin(const char* version, DSECT_ONE_handle_typ* record, const char* admin_object_class,
                              const char* admin_object_name, const char* mode, const char* action, int param_count) {
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    return write_layout(
        kAdminWrite, version, record, DSECT_TYP_ADMIN,
        {text(admin_object_class), text(admin_object_name), text(mode), text(action), std::to_string(param_count)});
}

CM_RC DSECT_APPL_create_gnrldta(const char* version, DSECT_ONE_handle_typ* record, const char* general_data_subject,
                                int general_data_count) {
    return write_layout(kGnrldta, version, record, DSECT_TYP_GNRLDTA,
                        {general_data_subject ? general_data_subject : "", std::to_string(general_data_count)});
}

CM_RC DSECT_APPL_create_dwnsys(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_syshnd(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_jcldoc(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_killjb(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_newday(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_procid(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_submit(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_SUBMIT); }
CM_RC DSECT_APPL_create_onstmt(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_ONSTMT); }
CM_RC DSECT_APPL_create_track(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_tmpflnm(const char* v, DSECT_ONE_handle_typ* r) {
    return empty_record(v, r, DSECT_TYP_UNKNOWN);
}
CM_RC DSECT_APPL_create_shout(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }
CM_RC DSECT_APPL_create_nodestate(const char* v, DSECT_ONE_handle_typ* r) {
    return empty_record(v, r, DSECT_TYP_UNKNOWN);
}
CM_RC DSECT_APPL_create_ver(const char* v, DSECT_ONE_handle_typ* r) { return empty_record(v, r, DSECT_TYP_UNKNOWN); }

CM_RC DSECT_APPL_unpack_dwnsys(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kDwnsys, v, r, b);
}
CM_RC DSECT_APPL_unpack_syshnd(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kSyshnd, v, r, b);
}
CM_RC DSECT_APPL_unpack_errcd(const char* v, DSECT_ONE_handle_typ* r, char* b) { return read_layout(kErrcd, v, r, b); }
CM_RC DSECT_APPL_unpack_jcldoc(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kJcldoc, v, r, b);
}
CM_RC DSECT_APPL_unpack_killjb(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kKilljb, v, r, b);
}
CM_RC DSECT_APPL_unpack_longex(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kLongex, v, r, b);
}
CM_RC DSECT_APPL_unpack_newday(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kNewday, v, r, b);
}
CM_RC DSECT_APPL_unpack_procid(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kProcid, v, r, b);
}
CM_RC DSECT_APPL_unpack_shexit(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kShexit, v, r, b);
}
CM_RC DSECT_APPL_unpack_submit(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kSubmit, v, r, b, kSubmitRun);
}
CM_RC DSECT_APPL_unpack_onstmt(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kOnstmt, v, r, b);
}
CM_RC DSECT_APPL_unpack_track(const char* v, DSECT_ONE_handle_typ* r, char* b) { return read_layout(kTrack, v, r, b); }
CM_RC DSECT_APPL_unpack_text(const char* v, DSECT_ONE_handle_typ* r, char* b) { return read_layout(kText, v, r, b); }
CM_RC DSECT_APPL_unpack_tmpflnm(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kTmpflnm, v, r, b);
}
CM_RC DSECT_APPL_unpack_utilact(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kUtilact, v, r, b);
}
CM_RC DSECT_APPL_unpack_utilresp(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kUtilresp, v, r, b);
}
CM_RC DSECT_APPL_unpack_shout(const char* v, DSECT_ONE_handle_typ* r, char* b) { return read_layout(kShout, v, r, b); }
CM_RC DSECT_APPL_unpack_orvlog(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kOrvlog, v, r, b);
}
CM_RC DSECT_APPL_unpack_nodestate(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kNodestate, v, r, b);
}
CM_RC DSECT_APPL_unpack_ver(const char* v, DSECT_ONE_handle_typ* r, char* b) { return read_layout(kVer, v, r, b); }
CM_RC DSECT_APPL_unpack_general_request(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kGeneralRequestRead, v, r, b);
}
CM_RC DSECT_APPL_unpack_general_response(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kGeneralResponse, v, r, b);
}
CM_RC DSECT_APPL_unpack_general_param(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kGeneralParam, v, r, b);
}
CM_RC DSECT_APPL_unpack_general_result(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kGeneralResult, v, r, b);
}
CM_RC DSECT_APPL_unpack_gnrldta(const char* v, DSECT_ONE_handle_typ* r, char* b) {
    return read_layout(kGnrldta, v, r, b);
}

CM_RC DSECT_APPL_unpack_ping(const char* version, DSECT_ONE_handle_typ* record, char* buffer) {
    if (!record || !buffer || strnlen(buffer, DSECT_PREFIX_LEN) < DSECT_PREFIX_LEN) return CM_RC_FAIL;
    if (!dsect::version_from(version, "03")) return CM_RC_OK;
    return read_parameters(version, record, buffer, kPingRunMax, true);
}

CM_RC DSECT_APPL_unpack_admin(const char* version, DSECT_ONE_handle_typ* record, char* buffer) {
    int count = 0;
    if (read_layout(kAdminRead, version, record, buffer, kJobEndRun, &count) != CM_RC_OK) return CM_RC_FAIL;
    return read_parameters(version, record, buffer, count, false);
}

CM_RC DSECT_APPL_unpack_setvar(const char* version, DSECT_ONE_handle_typ* record, char* buffer) {
    if (!record || !buffer || strnlen(buffer, DSECT_PREFIX_LEN) < DSECT_PREFIX_LEN) return CM_RC_FAIL;
    char* pos = buffer + DSECT_PREFIX_LEN;
    const Row* name_row = nullptr;
    const Row* value_row = nullptr;
    for (const Row& row : kSetvar) {
        if (!row.gate.open(version)) continue;
        (std::strcmp(row.name, "DSECT_VARIABLE_NAME") == 0 ? name_row : value_row) = &row;
    }
    char name[kSetvarNameKept + 1];
    if (DSECT_FLD_get_char(name, &pos, name_row->type, sizeof name) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_get_char");
        return CM_RC_FAIL;
    }
    return DSECT_ONE_parse_dsect_var(record, &pos, name, value_row->type);
}

CM_RC dsect_appl_instream2file(const char* buf, const char* orderno, int runno, int instream_len) {
    static const char* op = "dsect_appl_instream2file";
    if (!buf || !orderno || instream_len < 0) return CM_RC_FAIL;
    if (instream_len > DSECT_INSTREAM_MAX) {
        DIAG_ERROR("ERROR: %s: In-Stream script exceeds the limit of %d characters.", op, DSECT_INSTREAM_MAX);
        return CM_RC_FAIL;
    }
    std::string script;
    script.reserve(static_cast<std::size_t>(instream_len));
    for (int i = 0; i < instream_len && buf[i] != '\0'; ++i)
        if (buf[i] != '\r') script += buf[i];
    PATHNAME_D_typ full = {}, name = {};
    /* The order number names a file in ./temp: one holding '/' would name another folder. */
    if (std::strchr(orderno, '/') || OS_FILE_build_filetype(orderno, runno, full, name, OS_FILE_INSTREAM) != CM_RC_OK) {
        DIAG_ERROR("%s: ERROR: Failed to get in-stream filename.", op);
        return CM_RC_FAIL;
    }
    /* The name is foreseeable from the message: the file is made anew, never written through a
     * link planted there. */
    const int fd = os_file::create_fresh(full, kInstreamFileMode);
    if (fd < 0) {
        DIAG_ERROR("%s: ERROR: Failed to open in-stream file for writing: '%s'", op, full);
        return CM_RC_FAIL;
    }
    const bool written =
        script.empty() || OS_FILE_write(fd, script.data(), static_cast<int>(script.size())) == CM_RC_OK;
    const bool closed = OS_FILE_close(fd) == CM_RC_OK;
    if (!written || !closed) {
        DIAG_ERROR("%s: ERROR: Failed to write to file '%s'", op, full);
        if (OS_FILE_delete(full) != CM_RC_OK) DIAG_ERROR("%s: ERROR: Failed to delete file '%s'", op, full);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

void DSECT_version(char* ver, int size) {
    if (!ver || size < 1) return;
    const char* recorded = OS_LIB_get_dll_version("DSECT");
    std::snprintf(ver, static_cast<std::size_t>(size), "%s", recorded ? recorded : kBuiltInVersion);
}

}  // extern "C"
