/* Job definitions from discovered requests: reads a program's request or a request-set submission
 * again by its id and turns it into the attributes of a job definition (who, which responsibility,
 * which program or set with its arguments and parameter names, printing, schedule, environment).
 * Owns the detail queries, the set's program query and the parameter-name query. */
#include "be_def.h"
#include "be_discovery_internal.h"
#include "be_sql_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kFixedColumns =
    "resp.responsibility_name, resp_app.application_short_name, prog_app.application_short_name, "
    "prog.concurrent_program_name, prog.user_concurrent_program_name, ";
constexpr const char* kScheduleColumns =
    "to_char(req.requested_start_date, 'YYYYMMDDHH24MISS'), nvl(req.printer, 'NULL'), "
    "nvl(req.print_style, 'NULL'), req.number_of_copies, nvl(to_char(conc.date2, 'YYYYMMDDHH24MISS'), 'NULL'), "
    "conc.class_type, conc.class_info, nvl(grp.security_group_name, 'Standard')";
constexpr const char* kReleaseClassJoin =
    " and req.release_class_app_id = conc.application_id (+) and req.release_class_id = conc.release_class_id (+)";

constexpr const char* kSetQuery =
    "select usr.user_name, resp.responsibility_name, resp_app.application_short_name, "
    "set_app.application_short_name, reqset.request_set_name, reqset.user_request_set_name, "
    "to_char(req.requested_start_date, 'YYYYMMDDHH24MISS'), nvl(req.printer, 'NULL'), "
    "nvl(req.print_style, 'NULL'), req.number_of_copies, nvl(to_char(conc.date2, 'YYYYMMDDHH24MISS'), 'NULL'), "
    "conc.class_type, conc.class_info, nvl(grp.security_group_name, 'Standard') from fnd_concurrent_requests req, "
    "fnd_user               usr, fnd_responsibility_vl  resp, fnd_application       resp_app, "
    "fnd_security_groups_vl grp, fnd_request_sets_vl     reqset, fnd_application    set_app, "
    "fnd_conc_release_classes conc where req.request_id = :req_id and req.argument1 = "
    "to_char(reqset.application_id) and req.argument2 = to_char(reqset.request_set_id) and "
    "reqset.application_id = set_app.application_id and req.requested_by = usr.user_id and "
    "req.responsibility_id = resp.responsibility_id and req.responsibility_application_id = resp.application_id "
    "and resp.application_id = resp_app.application_id and nvl(req.security_group_id, 0) = grp.security_group_id "
    "and req.release_class_app_id = conc.application_id (+) and req.release_class_id = conc.release_class_id (+)";

constexpr const char* kSetProgramsQueryHead =
    "select set_stage.stage_name, set_prog.sequence, prog.concurrent_program_name, "
    "prog.user_concurrent_program_name, app.application_short_name, ";
constexpr const char* kSetProgramsQueryTail =
    " from fnd_request_set_programs set_prog, fnd_request_set_stages  set_stage, fnd_run_requests run, "
    "fnd_concurrent_programs_vl prog, fnd_application app where run.parent_request_id = :req_id and "
    "run.request_set_id = set_prog.request_set_id and run.set_application_id = set_prog.set_application_id and "
    "run.request_set_program_id = set_prog.request_set_program_id and set_prog.set_application_id = "
    "set_stage.set_application_id and set_prog.request_set_id = set_stage.request_set_id and "
    "set_prog.request_set_stage_id = set_stage.request_set_stage_id and set_prog.program_application_id = "
    "prog.application_id and set_prog.concurrent_program_id = prog.concurrent_program_id and prog.application_id = "
    "app.application_id order by set_stage.display_sequence, set_prog.sequence";

constexpr const char* kParmNameQuery =
    "select a.end_user_column_name  name, decode(a.default_type, 'A', 'Calculated During Submission', "
    "'D', 'Calculated During Submission', 'T', 'Calculated During Submission', 'F', 'Calculated During Submission', "
    "'P', 'Calculated During Submission', 'S', decode(b.VALIDATION_TYPE, 'F', ' ', 'Calculated During Submission'), "
    "nvl(a.default_value, ' ')) value, a.display_flag from fnd_descr_flex_column_usages a, FND_FLEX_VALUE_SETS  b, "
    "fnd_application app where app.application_short_name = :app and app.application_id = a.application_id and "
    "substr(a.descriptive_flexfield_name, 1, 6) = '$SRS$.' and substr(a.descriptive_flexfield_name, 7) = :prog and "
    "a.FLEX_VALUE_SET_ID = b.FLEX_VALUE_SET_ID and a.enabled_flag = 'Y' order by a.column_seq_num";

constexpr int kArgSize = 241;
constexpr const char* kNull = "NULL";

std::string argument_columns() {
    std::string columns;
    for (int i = 1; i <= BE_DUZ_MAX_REQUEST_ARGS; ++i)
        columns += (i > 1 ? ", Argument" : "Argument") + std::to_string(i);
    return columns;
}

// The detail query of a program's request; the multi-org form adds the operating unit's name.
std::string program_query(bool multi_org) {
    return std::string("select usr.user_name, ") + (multi_org ? "org.name, " : "") + kFixedColumns + kScheduleColumns +
           ", " + argument_columns() +
           " from fnd_concurrent_requests req, fnd_user usr, fnd_responsibility_vl resp, fnd_application resp_app, "
           "fnd_security_groups_vl grp, fnd_concurrent_programs_vl prog, fnd_application  prog_app, "
           "fnd_conc_release_classes conc, fnd_conc_request_arguments arg" +
           (multi_org ? ", hr_all_organization_units org" : "") +
           " where req.request_id = :req_id and req.requested_by =  usr.user_id and req.responsibility_id = "
           "resp.responsibility_id and req.responsibility_application_id = resp.application_id and "
           "req.responsibility_application_id = resp_app.application_id" +
           (multi_org ? " and req.org_id = org.organization_id" : "") +
           " and nvl(req.security_group_id, 0) = grp.security_group_id and req.program_application_id = "
           "prog.application_id and req.concurrent_program_id = prog.concurrent_program_id and prog.application_id = "
           "prog_app.application_id" +
           kReleaseClassJoin + " and req.request_id = arg.request_id(+)";
}

ZPARC step_failed(const char* step, ZPARC rc, ZPAError* Error) {
    BE_TRACE(2, "%s. %s", step, Error ? Error->text : "");
    return rc;
}

// A failing fetch is a failure with the Oracle text; the end of the rows is not.
ZPARC fetch_failed(const char* step, ZPAError* Error) { return step_failed(step, ZPA_FAIL, Error); }

// The work list of one job definition, emptied when it goes out of scope.
class WorkList {
public:
    WorkList() = default;
    WorkList(const WorkList&) = delete;
    WorkList& operator=(const WorkList&) = delete;
    ~WorkList() { GM_PARAM_list_clear(&list_); }
    ZPALIST_handle_typ* get() { return &list_; }
    // An OEBS job attribute: its name with the prefix "%%".
    void job(const std::string& name, const std::string& value) { plain(BE_DUZ_JOB_ATTR_PREFIX + name, value); }
    void plain(const std::string& name, const std::string& value) { rows_.append(name.c_str(), value.c_str()); }

private:
    ZPALIST_handle_typ list_{};
    gm_param::RowBuilder rows_{&list_};  // a definition holds a few hundred attributes
};

// What a request and a set submission have in common: printing, schedule and security group.
struct CommonColumns {
    char start_date[32] = "";
    char printer[32] = "";
    char print_style[32] = "";
    int copies = 0;
    char end_date[32] = "";
    char class_type[3] = "";
    char class_info[65] = "";
    char security_group[82] = "";
};

// A text column's buffer and its size.
struct TextColumn {
    char* buffer;
    int size;
};

// Defines text columns in order from position on, moving position past them; the first failure
// stops the defines and is the result.
ZPARC define_texts(be_sql::Statement& statement, ub4& position, std::initializer_list<TextColumn> texts) {
    ZPARC rc = ZPA_SUCCESS;
    for (const TextColumn& t : texts)
        if (rc == ZPA_SUCCESS) rc = statement.define_text(position++, t.buffer, t.size);
    return rc;
}

// Defines the common columns from position on; the set's dates have one character less.
ZPARC define_common(be_sql::Statement& statement, ub4 position, CommonColumns& c, int date_size, ZPAError* Error) {
    ZPARC rc = define_texts(statement, position, {{c.start_date, date_size}, {c.printer, 32}, {c.print_style, 32}});
    if (rc == ZPA_SUCCESS) rc = statement.define_int(position++, &c.copies);
    if (rc == ZPA_SUCCESS)
        rc = define_texts(statement, position,
                          {{c.end_date, date_size}, {c.class_type, 3}, {c.class_info, 65}, {c.security_group, 82}});
    return rc == ZPA_SUCCESS ? rc : step_failed("Fail to define columns", rc, Error);
}

// The run-time defaults every discovered job starts with; its parameter values are the request's
// stored arguments, which its submission passes as stored.
void add_run_options(WorkList& work) {
    work.job("DUZ-PARAM_VALIDATION", "Y");
    work.job(BE_DUZ_PARAM_AS_STORED, "Y");
    work.job("DUZ-DISPLAY_LOGFILE", "Y");
    work.job("DUZ-DISPLAY_OUTPUT", "N");
    work.job("DUZ-CONVERT_WARNING2OK", "N");
    work.job("DUZ-WAITCHILD", "Y");
    work.job("DUZ-SUBSTATUS", "N");
}

// The print attributes: only for a printer and a style.
void add_print(WorkList& work, const CommonColumns& c) {
    if (std::strcmp(c.printer, kNull) == 0 || std::strcmp(c.print_style, kNull) == 0) return;
    work.job("DUZ-PRINTERNAME", c.printer);
    work.job("DUZ-PRINTSTYLE", c.print_style);
    work.job("DUZ-PRINTCOPIES", std::to_string(c.copies));
}

// The owner: a name with a blank in double quotes.
void add_owner(WorkList& work, const char* user_name) {
    const bool blank = std::strchr(user_name, ' ') != nullptr;
    work.plain("OWNER", blank ? std::string("\"").append(user_name).append("\"") : std::string(user_name));
}

void add_schedule_and_group(WorkList& work, const CommonColumns& c) {
    BE_DUZ11_ConvertDUZSchedule2ORVSchedule(work.get(), c.start_date, c.end_date, c.class_type, c.class_info);
    work.job("DUZ-SECURITY_GROUPNAME", c.security_group);
}

// Converts the work list and appends it to the agent's output list.
ZPARC hand_over(WorkList& work, ZPAAttrList* AttributesOut, ZPAError* Error) {
    ZPAAttrList built{0, nullptr, 0};
    if (ZPAAPI_UTILS_list2attr(work.get(), &built) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to convert ZPAlist to job attribute list");
        return ZPA_FAIL;
    }
    const ZPARC rc = be_discovery::append_list(AttributesOut, AttributesOut->Attributes, &built);
    if (built.Attributes) ZPAAPI_utils_release_attr(&built);
    if (rc != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to append job attribute list to AttributesOut");
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

// Prepares a detail query and binds the request id. execute_no_fetch: every row comes with fetch().
ZPARC run_detail_query(be_sql::Statement& statement, const char* text, int* req_id, ZPAError* Error) {
    ZPARC rc = statement.prepare(text);
    if (rc != ZPA_SUCCESS) return step_failed("Fail to prepare sqlStr.", rc, Error);
    if ((rc = statement.bind_int(":req_id", req_id)) != ZPA_SUCCESS)
        return step_failed("Fail to bind last request id", rc, Error);
    return ZPA_SUCCESS;
}

ZPARC execute(be_sql::Statement& statement, ZPAError* Error) {
    const ZPARC rc = statement.execute_no_fetch();
    return rc == ZPA_SUCCESS ? rc : step_failed("Fail to execute", rc, Error);
}

// A query of many rows: they come in a few round trips, not one a row.
ZPARC execute_many(be_sql::Statement& statement, ZPAError* Error) {
    const ZPARC rc = statement.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS);
    return rc == ZPA_SUCCESS ? execute(statement, Error) : step_failed("Fail to set the prefetch", rc, Error);
}

// Argument columns after the fixed ones, up to the statement's column count (at most 100).
ZPARC define_arguments(be_sql::Statement& statement, ub4 fixed, std::vector<std::array<char, kArgSize>>& args,
                       ZPAError* Error) {
    const ub4 count = statement.column_count();
    if (count == 0) return step_failed("Fail to retrieve number of columns", ZPA_FAIL, Error);
    const ub4 slots = count > fixed ? std::min<ub4>(count - fixed, BE_DUZ_MAX_REQUEST_ARGS) : 0;
    args.assign(slots, std::array<char, kArgSize>{});
    for (ub4 i = 0; i < slots; ++i) {
        const ZPARC rc = statement.define_text(fixed + 1 + i, args[i].data(), kArgSize);
        if (rc != ZPA_SUCCESS) return step_failed("Fail to define argument", rc, Error);
    }
    return ZPA_SUCCESS;
}

struct ProgramRow {
    char user_name[101] = "";
    char operating_unit[101] = "";
    char resp_name[101] = "";
    char resp_app[52] = "";
    char prog_app[52] = "";
    char prog_name[32] = "";
    char prog_desc[242] = "";
    CommonColumns common;
    std::vector<std::array<char, kArgSize>> args;
};

ZPARC read_program_row(be_sql::Statement& statement, bool multi_org, int req_id, ProgramRow& row, bool& found,
                       ZPAError* Error) {
    found = false;
    const std::string text = program_query(multi_org);
    ZPARC rc = run_detail_query(statement, text.c_str(), &req_id, Error);
    if (rc == ZPA_SUCCESS) rc = execute(statement, Error);
    if (rc != ZPA_SUCCESS) return rc;
    const ub4 fixed = multi_org ? 15 : 14;
    if ((rc = define_arguments(statement, fixed, row.args, Error)) != ZPA_SUCCESS) return rc;
    ub4 position = 1;
    rc = statement.define_text(position++, row.user_name, sizeof row.user_name);
    if (multi_org && rc == ZPA_SUCCESS)
        rc = statement.define_text(position++, row.operating_unit, sizeof row.operating_unit);
    if (rc == ZPA_SUCCESS)
        rc = define_texts(statement, position,
                          {{row.resp_name, sizeof row.resp_name},
                           {row.resp_app, sizeof row.resp_app},
                           {row.prog_app, sizeof row.prog_app},
                           {row.prog_name, sizeof row.prog_name},
                           {row.prog_desc, sizeof row.prog_desc}});
    if (rc != ZPA_SUCCESS) return step_failed("Fail to define columns", rc, Error);
    if ((rc = define_common(statement, position, row.common, 32, Error)) != ZPA_SUCCESS) return rc;
    switch (statement.fetch()) {
    case be_sql::Fetch::Row: found = true; return ZPA_SUCCESS;
    case be_sql::Fetch::End: return ZPA_SUCCESS;
    case be_sql::Fetch::Error: break;
    }
    return fetch_failed("Fail to fetch", Error);
}

// "%%" and the key format applied to n; the format must hold exactly one "%.3d" and no other
// conversion, as the callers give it.
bool numbered_key(const char* key_format, int n, std::string& key) {
    const char* conversion = std::strstr(key_format, "%.3d");
    if (!conversion || std::strchr(key_format, '%') != conversion || std::strchr(conversion + 1, '%')) return false;
    char number[16];
    std::snprintf(number, sizeof number, "%.3d", n);
    key = std::string(BE_DUZ_JOB_ATTR_PREFIX) + std::string(key_format, conversion) + number + (conversion + 4);
    return true;
}

struct SetProgram {
    std::string app_name;
    std::string prog_name;
};

// BE_DUZ_Conc_Program_PARMNAME_read, the rows appended through the caller's builder of the list.
ZPARC read_parm_names(BE_DUZ_Handles* session, gm_param::RowBuilder& rows, const char* app_name, const char* prog_name,
                      const char* key_format, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_Conc_Program_PARMNAME_read");
    std::string key;
    if (!app_name || !prog_name || !key_format || !numbered_key(key_format, 1, key)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing program or key format", BE_POS);
        return ZPA_FAIL;
    }
    try {
        std::string app = app_name;
        std::string prog = prog_name;
        char parm_name[kArgSize] = "";
        be_sql::Statement statement(session, Error);
        ZPARC rc = statement.prepare(kParmNameQuery);
        if (rc != ZPA_SUCCESS) return step_failed("Fail to prepare sqlStr.", rc, Error);
        if ((rc = statement.bind_text(":app", app.data(), static_cast<int>(app.size() + 1))) != ZPA_SUCCESS)
            return step_failed("Fail to bind app_name", rc, Error);
        if ((rc = statement.bind_text(":prog", prog.data(), static_cast<int>(prog.size() + 1))) != ZPA_SUCCESS)
            return step_failed("Fail to bind prog_name", rc, Error);
        if ((rc = statement.define_text(1, parm_name, sizeof parm_name)) != ZPA_SUCCESS)
            return step_failed("Fail to define parm_name", rc, Error);
        if ((rc = execute_many(statement, Error)) != ZPA_SUCCESS) return rc;
        for (int n = 1;; ++n) {
            const be_sql::Fetch fetched = statement.fetch();
            if (fetched == be_sql::Fetch::End) break;
            if (fetched == be_sql::Fetch::Error) return fetch_failed("Fail to fetch parm_name", Error);
            numbered_key(key_format, n, key);
            rows.append(key.c_str(), parm_name);
        }
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

}  // namespace

namespace be_discovery {

ZPARC wrap_failure(const char* step, ZPARC rc, ZPAError* Error) {
    BE_TRACE(2, "%s. %s", step, Error ? Error->text : "");
    if (Error) {
        const std::size_t prefix = std::strlen(BE_DUZ_ERROR_PREFIX);
        const char* cause =
            std::strncmp(Error->text, BE_DUZ_ERROR_PREFIX, prefix) == 0 ? Error->text + prefix : Error->text;
        const std::string text = cause;
        BE_DUZ_UpdateErrorSet(Error, Error->code ? Error->code : 1, "%s: %s", step, text.c_str());
    }
    return rc;
}

ZPARC append_list(ZPAAttrList* out, const ZPAAttr* agents_array, ZPAAttrList* from) {
    if (!out || !from) return ZPA_FAIL;
    ZPAAttrList previous = *out;
    const ZPARC rc = ZPAAPI_UTILS_AttrListAppend_Attr2Attr(from, out);
    if (rc == ZPA_SUCCESS && previous.Attributes && previous.Attributes != agents_array)
        ZPAAPI_utils_release_attr(&previous);
    return rc;
}

ZPARC append_value(ZPAAttrList* out, const ZPAAttr* agents_array, const char* name, const char* value) {
    if (!out) return ZPA_FAIL;
    ZPAAttrList previous = *out;
    const ZPARC rc = ZPAAPI_UTILS_AttrListAppend_Value2Attr(out, const_cast<char*>(name), const_cast<char*>(value));
    if (rc == ZPA_SUCCESS && previous.Attributes && previous.Attributes != agents_array)
        ZPAAPI_utils_release_attr(&previous);
    return rc;
}

}  // namespace be_discovery

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_insert_OvikAttrs(ZPAConnHandle* Connection, ZPALIST_handle_typ* list) {
    if (!Connection || !list) return ZPA_FAIL;
    auto lookup = [&](const char* name, const char** value) {
        char* found = nullptr;
        const ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(&Connection->Attributes, const_cast<char*>(name), &found);
        *value = rc == ZPA_SUCCESS ? found : nullptr;
        return rc;
    };
    const char* lib_name = nullptr;
    const char* app_version = nullptr;
    const char* version = nullptr;
    lookup("CM_LIB_NAME", &lib_name);
    if (lib_name) GM_PARAM_list_append(list, "APPLTYPE", lib_name);
    lookup("APPLICATION_VERSION", &app_version);
    if (app_version) GM_PARAM_list_append(list, "APPLVER", app_version);
    const ZPARC rc = lookup("VERSION", &version);
    if (version) GM_PARAM_list_append(list, "CMVER", version);
    GM_PARAM_list_append(list, "APPLFORM", lib_name && std::strcmp(lib_name, "DUZ_11") == 0 ? "DUZ11" : "DUZ11I");
    return rc;
}

ZPARC BE_DUZ_Conc_Program_PARMNAME_read(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const char* app_name,
                                        const char* prog_name, const char* key_format, ZPAError* Error) {
    if (!list) {
        BE_TRACE(4, "Starting: '%s'", "BE_DUZ_Conc_Program_PARMNAME_read");
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing program or key format", BE_POS);
        return ZPA_FAIL;
    }
    gm_param::RowBuilder rows(list);
    return read_parm_names(session, rows, app_name, prog_name, key_format, Error);
}

ZPARC BE_DUZ_READ_requestSet_Params(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, int req_id, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_READ_requestSet_Params");
    if (!list) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing list", BE_POS);
        return ZPA_FAIL;
    }
    try {
        const std::string text = kSetProgramsQueryHead + argument_columns() + kSetProgramsQueryTail;
        BE_TRACE(4, "Extract concurrent program info SQL: %s", text.c_str());
        be_sql::Statement statement(session, Error);
        ZPARC rc = run_detail_query(statement, text.c_str(), &req_id, Error);
        if (rc == ZPA_SUCCESS) rc = execute_many(statement, Error);
        std::vector<std::array<char, kArgSize>> args;
        if (rc == ZPA_SUCCESS) rc = define_arguments(statement, 5, args, Error);
        if (rc != ZPA_SUCCESS) return rc;
        char stage_name[101] = "";
        int sequence = 0;
        char prog_name[31] = "";
        char prog_desc[241] = "";
        char app_name[31] = "";
        rc = statement.define_text(1, stage_name, sizeof stage_name);
        if (rc == ZPA_SUCCESS) rc = statement.define_int(2, &sequence);
        if (rc == ZPA_SUCCESS) rc = statement.define_text(3, prog_name, sizeof prog_name);
        if (rc == ZPA_SUCCESS) rc = statement.define_text(4, prog_desc, sizeof prog_desc);
        if (rc == ZPA_SUCCESS) rc = statement.define_text(5, app_name, sizeof app_name);
        if (rc != ZPA_SUCCESS) return step_failed("Fail to define columns", rc, Error);

        std::vector<SetProgram> programs;
        gm_param::RowBuilder rows(list);  // up to a few hundred programs of a hundred rows each
        for (;;) {
            const be_sql::Fetch fetched = statement.fetch();
            if (fetched == be_sql::Fetch::End) break;
            if (fetched == be_sql::Fetch::Error) return fetch_failed("Fail to fetch the set's programs", Error);
            if (programs.size() >= BE_DUZ_MAX_SET_PROGRAMS) {
                DIAG_printf("Request set of request %d has more than %d programs; the others are left out", req_id,
                            BE_DUZ_MAX_SET_PROGRAMS);
                break;
            }
            programs.push_back(SetProgram{app_name, prog_name});
            char prefix[64];
            std::snprintf(prefix, sizeof prefix, "%sDUZ-SETPROG-P%.3d-", BE_DUZ_JOB_ATTR_PREFIX,
                          static_cast<int>(programs.size()));
            const std::string p = prefix;
            rows.append((p + "APPNAME").c_str(), app_name);
            rows.append((p + "PROGNAME").c_str(), prog_name);
            rows.append((p + "PROGDESP").c_str(), prog_desc);
            rows.append((p + "STAGENAME").c_str(), stage_name);
            rows.append((p + "PROGSEQ").c_str(), std::to_string(sequence).c_str());
            for (std::size_t j = 0; j < args.size(); ++j) {
                if (args[j][0] == '\0') continue;
                char key[64];
                std::snprintf(key, sizeof key, "%sPARMS-P%.3d-VALUE", p.c_str(), static_cast<int>(j + 1));
                rows.append(key, args[j].data());
            }
        }
        for (std::size_t k = 0; k < programs.size(); ++k) {
            char key_format[64];
            std::snprintf(key_format, sizeof key_format, "DUZ-SETPROG-P%.3d-PARMS-P%%.3d-NAME",
                          static_cast<int>(k + 1));
            ZPAError ignored{};
            if (read_parm_names(session, rows, programs[k].app_name.c_str(), programs[k].prog_name.c_str(), key_format,
                                &ignored) != ZPA_SUCCESS)
                DIAG_printf("Fail to read the parameter names of %s: %s", programs[k].prog_name.c_str(), ignored.text);
        }
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_JOBDATA_extract_request_read(ZPAConnHandle* Connection, const char* req_id, const char* prog_name,
                                          BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                                          ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)AttributesIn;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOBDATA_extract_request_read");
    if (!req_id || !prog_name || !AttributesOut) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing request", BE_POS);
        return ZPA_FAIL;
    }
    try {
        std::string program = prog_name;
        int has_ou = 0;
        ZPARC rc = BE_DUZ_check_multi_org_category(&has_ou, program.data(), session, Error);
        if (rc != ZPA_SUCCESS) {
            BE_TRACE(4, "Fail to check MULTI_ORG_CATEGORY value ");
            return rc;
        }
        const bool multi_org = has_ou > 0;
        auto row = std::make_unique<ProgramRow>();
        be_sql::Statement statement(session, Error);
        bool found = false;
        if ((rc = read_program_row(statement, multi_org, std::atoi(req_id), *row, found, Error)) != ZPA_SUCCESS)
            return rc;
        if (!found) {
            BE_TRACE(2, "Request %s is no longer there", req_id);
            return ZPA_SUCCESS;
        }
        WorkList work;
        work.job("DUZ-USERNAME", row->user_name);
        if (multi_org && row->operating_unit[0] != '\0') work.job("DUZ-OPERATING_UNIT", row->operating_unit);
        work.job("DUZ-FORM_VERSION", BE_DUZ_FORM_VERSION);
        work.job("DUZ-RESPNAME", row->resp_name);
        work.job("DUZ-RESPAPP", row->resp_app);
        work.job("DUZ-APPNAME", row->prog_app);
        work.job("DUZ-PROGNAME", row->prog_name);
        work.job("DUZ-PROGDESP", row->prog_desc);
        add_run_options(work);
        add_print(work, row->common);
        for (std::size_t i = 0; i < row->args.size(); ++i) {
            if (row->args[i][0] == '\0') continue;
            char key[32];
            std::snprintf(key, sizeof key, "DUZ-PARMS-P%.3d-VALUE", static_cast<int>(i + 1));
            work.job(key, row->args[i].data());
        }
        add_owner(work, row->user_name);
        work.job("DUZ-TASKTYPE", "REQUEST");
        add_schedule_and_group(work, row->common);
        rc = BE_DUZ_Conc_Program_PARMNAME_read(session, work.get(), row->prog_app, row->prog_name,
                                               "DUZ-PARMS-P%.3d-NAME", Error);
        if (rc != ZPA_SUCCESS)
            return be_discovery::wrap_failure("Fail to retrieve job parameter name to AttributesOut", rc, Error);
        BE_DUZ_insert_OvikAttrs(Connection, work.get());
        return hand_over(work, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_JOBDATA_extract_request_set_read(ZPAConnHandle* Connection, const char* req_id, BE_DUZ_Handles* session,
                                              ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)AttributesIn;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOBDATA_extract_request_set_read");
    if (!req_id || !AttributesOut) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing request", BE_POS);
        return ZPA_FAIL;
    }
    try {
        const int id = std::atoi(req_id);
        int bound_id = id;
        char user_name[101] = "";
        char resp_name[101] = "";
        char resp_app[52] = "";
        char set_app[52] = "";
        char set_name[32] = "";
        char set_desc[242] = "";
        CommonColumns c;
        be_sql::Statement statement(session, Error);
        ZPARC rc = run_detail_query(statement, kSetQuery, &bound_id, Error);
        if (rc != ZPA_SUCCESS) return rc;
        ub4 position = 1;
        rc = define_texts(statement, position,
                          {{user_name, sizeof user_name},
                           {resp_name, sizeof resp_name},
                           {resp_app, sizeof resp_app},
                           {set_app, sizeof set_app},
                           {set_name, sizeof set_name},
                           {set_desc, sizeof set_desc}});
        if (rc != ZPA_SUCCESS) return step_failed("Fail to define columns", rc, Error);
        if ((rc = define_common(statement, position, c, 31, Error)) != ZPA_SUCCESS) return rc;
        if ((rc = execute(statement, Error)) != ZPA_SUCCESS) return rc;
        const be_sql::Fetch fetched = statement.fetch();
        if (fetched == be_sql::Fetch::Error) return fetch_failed("Fail to fetch", Error);
        if (fetched == be_sql::Fetch::End) {
            BE_TRACE(2, "Request set submission %s is no longer there", req_id);
            return ZPA_SUCCESS;
        }
        WorkList work;
        work.job("DUZ-FORM_VERSION", BE_DUZ_FORM_VERSION);
        work.job("DUZ-USERNAME", user_name);
        work.job("DUZ-RESPNAME", resp_name);
        work.job("DUZ-RESPAPP", resp_app);
        work.job("DUZ-APPNAME", set_app);
        work.job("DUZ-SETNAME", set_name);
        work.job("DUZ-SETDESP", set_desc);
        add_run_options(work);
        add_print(work, c);
        add_owner(work, user_name);
        work.job("DUZ-TASKTYPE", "REQUEST_SET");
        add_schedule_and_group(work, c);
        if ((rc = BE_DUZ_READ_requestSet_Params(session, work.get(), id, Error)) != ZPA_SUCCESS)
            return be_discovery::wrap_failure("Fail to retrieve request_set parameters", rc, Error);
        BE_DUZ_insert_OvikAttrs(Connection, work.get());
        return hand_over(work, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
