/* Monitor and intercept modes of the job-data interface: finds the requests that the rule matches
 * and that were not reported within a day (monitor, remembered in the submitted-requests file) or
 * that are held (intercept), and describes each as the attributes of a monitoring or intercepting
 * job. Owns both discovery queries and the in-memory rows of their handles. */
#include "be_def.h"
#include "be_discovery_internal.h"
#include "be_internal.h"
#include "be_sql_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr const char* kMonitorQuery =
    "select req.request_id,  req.program_application_id,  req.concurrent_program_id,  "
    "prog_app.application_short_name,  nvl(prog.concurrent_program_name,'NULL'), "
    "resp_app.application_short_name,  resp.responsibility_name,  "
    "nvl(reqs.request_set_name,'NULL'),  usr.user_name  from  fnd_user usr,  fnd_concurrent_requests "
    "req,  fnd_concurrent_programs prog,  fnd_application  prog_app,  fnd_responsibility_vl resp,  "
    "fnd_application resp_app, fnd_request_sets reqs where  req.program_application_id = "
    "prog.application_id and  req.concurrent_program_id = prog.concurrent_program_id and  "
    "prog.application_id = prog_app.application_id and  req.responsibility_id = "
    "resp.responsibility_id and  req.responsibility_application_id = resp.application_id and  "
    "resp.application_id = resp_app.application_id  and  req.requested_by = usr.user_id and  "
    "req.argument1 = to_char(reqs.application_id (+))  and  req.argument2 = "
    "to_char(reqs.request_set_id (+)) ";

constexpr const char* kInterceptQuery =
    "select req.request_id,  req.program_application_id,  req.concurrent_program_id  from  fnd_user "
    "usr,  fnd_concurrent_requests req,  fnd_concurrent_programs prog,  fnd_application  prog_app,  "
    "fnd_responsibility_vl resp,  fnd_application resp_app, fnd_request_sets reqs,  "
    "fnd_concurrent_request_class req_cls where  req.hold_flag = 'Y' and  req.program_application_id "
    "= prog.application_id and  req.concurrent_program_id = prog.concurrent_program_id and  "
    "prog.application_id = prog_app.application_id and  req.responsibility_id = "
    "resp.responsibility_id and  req.responsibility_application_id = resp.application_id and  "
    "resp.application_id = resp_app.application_id  and  req.requested_by = usr.user_id and  "
    "req.argument1 = to_char(reqs.application_id (+))  and  req.argument2 = "
    "to_char(reqs.request_set_id (+))  and  (req.concurrent_request_class_id = "
    "req_cls.request_class_id (+))";

constexpr const char* kProgramSuffix = " and prog.concurrent_program_name <> 'FNDRSSUB' ";
constexpr const char* kSetSuffix = " and prog.concurrent_program_name = 'FNDRSSUB' ";
constexpr int kTextColumnSize = 241;
// Longest preset value in which a $NAME$ placeholder is replaced.
constexpr std::size_t kPlaceholderValueMax = 255;
constexpr const char* kReqsPath = "./data/" BE_DUZ_REQS_FILE_NAME ".dat";

// The program and set queries of a mode: the mode's text, a blank, the rule clause and its suffix.
struct ModeQueries {
    bool program = false;
    bool set = false;
    be_discovery::Query program_query;
    be_discovery::Query set_query;
};

bool has_attribute(ZPAAttrList* list, const char* name) {
    char* value = nullptr;
    return ZPAAPI_UTILS_AttrListValueGet(list, const_cast<char*>(name), &value) == ZPA_SUCCESS;
}

// Without DUZ-SETNAME or DUZ-PROGNAME both queries run with the set clause.
ZPARC build_queries(ZPAAttrList* AttributesIn, const char* base, const char* both_line, ModeQueries& q,
                    ZPAError* Error) {
    q.set = has_attribute(AttributesIn, "DUZ-SETNAME");
    q.program = has_attribute(AttributesIn, "DUZ-PROGNAME");
    std::string clause;
    ZPARC rc = ZPA_SUCCESS;
    if (!q.set && !q.program) {
        BE_TRACE(4, "%s", both_line);
        q.set = q.program = true;
        rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, clause, 1, q.set_query.binds);
        q.set_query.text = clause;
        q.program_query.text = clause;
        q.program_query.binds = q.set_query.binds;
    } else {
        if (q.set && rc == ZPA_SUCCESS) {
            rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, clause, 1, q.set_query.binds);
            q.set_query.text = clause;
        }
        if (q.program && rc == ZPA_SUCCESS) {
            rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, clause, 0, q.program_query.binds);
            q.program_query.text = clause;
        }
    }
    if (rc != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to convert rule attributes to SQL");
        return rc;
    }
    q.program_query.text = std::string(base) + " " + q.program_query.text + kProgramSuffix;
    q.set_query.text = std::string(base) + " " + q.set_query.text + kSetSuffix;
    return ZPA_SUCCESS;
}

// Runs the program query, then the set query, each when the rule asks for it; the first that fails
// ends the run with "<what failed>: <cause>".
template <typename Run>
ZPARC run_queries(const ModeQueries& q, const char* mode, ZPAError* Error, Run run) {
    struct Step {
        bool wanted;
        const be_discovery::Query* query;
        const char* failure;
    };
    const Step steps[] = {{q.program, &q.program_query, "Failed to retrieve requests"},
                          {q.set, &q.set_query, "Failed to retrieve request_sets"}};
    for (const Step& step : steps) {
        if (!step.wanted) continue;
        BE_TRACE(2, "%s REQUEST SQL: %s", mode, step.query->text.c_str());
        if (!run(*step.query)) return be_discovery::wrap_failure(step.failure, ZPA_FAIL, Error);
    }
    return ZPA_SUCCESS;
}

ZPARC step_failed(const char* step, ZPARC rc, ZPAError* Error) {
    BE_TRACE(2, "%s. %s", step, Error ? Error->text : "");
    return rc;
}

// Prepares a query and binds its rule values. It may find many requests: they come in a few round
// trips, not one a row.
ZPARC prepare_query(be_sql::Statement& statement, const be_discovery::Query& query, const char* prepare_step,
                    ZPAError* Error) {
    ZPARC rc = statement.prepare(query.text.c_str());
    if (rc != ZPA_SUCCESS) return step_failed(prepare_step, rc, Error);
    if ((rc = statement.bind_values(query.binds)) != ZPA_SUCCESS)
        return step_failed("Fail to bind rule values", rc, Error);
    if ((rc = statement.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != ZPA_SUCCESS)
        return step_failed("Fail to set the prefetch", rc, Error);
    return ZPA_SUCCESS;
}

ZPARC define_ids(be_sql::Statement& statement, int* ids, ZPAError* Error) {
    ZPARC rc = ZPA_SUCCESS;
    for (ub4 i = 0; i < 3 && rc == ZPA_SUCCESS; ++i) rc = statement.define_int(i + 1, &ids[i]);
    return rc == ZPA_SUCCESS ? rc : step_failed("Fail to define columns", rc, Error);
}

void escape_into(std::string& out, const std::string& field) {
    for (char c : field) {
        if (c == '\\' || c == '&') out += '\\';
        out += c;
    }
}

// A placeholder's replacement among the fields of a monitor row; null for an unknown name.
const std::string* replacement(const std::string& name, const std::string (&fields)[9]) {
    struct Entry {
        const char* name;
        int field;
    };
    static constexpr Entry kNames[] = {{"DUZ-APPNAME", 3}, {"DUZ-PROGNAME", 4}, {"DUZ-REQUEST_ID", 0},
                                       {"DUZ-RESPAPP", 5}, {"DUZ-RESPNAME", 6}, {"DUZ-SETNAME", 7},
                                       {"DUZ-USERNAME", 8}};
    for (const Entry& entry : kNames)
        if (name == entry.name) return &fields[entry.field];
    return nullptr;
}

std::size_t dollars(const char* value) {
    std::size_t n = 0;
    for (const char* p = value; *p; ++p) n += *p == '$';
    return n;
}

// Replaces the one $NAME$ of a preset value in place, within the value's room.
void substitute(ZPAAttr& attr, const std::string (&fields)[9]) {
    const std::string value = attr.Value;
    if (value.size() > kPlaceholderValueMax) return;
    const std::size_t first = value.find('$');
    const std::size_t second = value.find('$', first + 1);
    std::string name = value.substr(first + 1, second - first - 1);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string* with = replacement(name, fields);
    if (!with) {
        BE_TRACE(4, "Couldn't find '%s' in the condition args", name.c_str());
        return;
    }
    const std::string replaced = value.substr(0, first) + *with + value.substr(second + 1);
    const std::size_t room = attr.ValueLen > 0 ? attr.ValueLen - 1u : 0u;
    const std::size_t n = std::min(room, replaced.size());
    std::memcpy(attr.Value, replaced.data(), n);
    attr.Value[n] = '\0';
}

ZPARC append_all(ZPAAttrList* out, const ZPAAttr* agents_array,
                 std::initializer_list<std::pair<std::string, std::string>> rows, ZPAError* Error) {
    for (const auto& [name, value] : rows) {
        if (be_discovery::append_value(out, agents_array, name.c_str(), value.c_str()) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to append %s to AttributesOut", name.c_str());
            return ZPA_FAIL;
        }
    }
    return ZPA_SUCCESS;
}

std::string job_attr(const char* name) { return std::string(BE_DUZ_JOB_ATTR_PREFIX) + name; }

}  // namespace

namespace be_discovery {

std::string BE_DUZ_monitor_row(int req_id, int app_id, int prog_id, const std::string (&texts)[6]) {
    std::string row = std::to_string(req_id) + "&" + std::to_string(app_id) + "&" + std::to_string(prog_id);
    for (const std::string& text : texts) {
        row += '&';
        escape_into(row, text);
    }
    return row;
}

bool BE_DUZ_monitor_fields(const char* value, std::string (&fields)[9]) {
    if (!value) return false;
    int field = 0;
    for (std::string& f : fields) f.clear();
    for (const char* p = value; *p; ++p) {
        if (*p == '\\' && p[1] != '\0') {
            fields[field] += *++p;
        } else if (*p == '&') {
            if (++field >= 9) return false;
        } else {
            fields[field] += *p;
        }
    }
    return field == 8;
}

ZPARC BE_DUZ_execute_monitor_SQL(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const Query& query, ZPAError* Error,
                                 ZPALIST_handle_typ* seen) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_execute_monitor_SQL");
    int ids[3] = {0, 0, 0};
    char texts[6][kTextColumnSize] = {};
    be_sql::Statement statement(session, Error);
    ZPARC rc = prepare_query(statement, query, "Fail to prepare monitor SQL", Error);
    if (rc == ZPA_SUCCESS) rc = define_ids(statement, ids, Error);
    for (ub4 i = 0; i < 6 && rc == ZPA_SUCCESS; ++i) rc = statement.define_text(i + 4, texts[i], kTextColumnSize);
    if (rc != ZPA_SUCCESS) return rc;
    if ((rc = statement.execute_no_fetch()) != ZPA_SUCCESS) return step_failed("Fail to execute", rc, Error);
    // The seen rows are looked up by key and both lists grow at their end, so a poll costs the same
    // per request however many requests the file and the answer hold. The requests file's keys are
    // request ids (they begin with a digit), so no row is the DEFAULT row of a look-up.
    std::optional<gm_param::KeyedRows> seen_rows;
    if (seen) {
        try {
            seen_rows.emplace(seen);
        } catch (...) {
        }
    }
    if (!seen_rows) {
        BE_TRACE(4, "Couldn't read from requests list.");
        BE_DUZ_UpdateErrorSet(Error, 1, "Couldn't read from requests list.");
        return ZPA_FAIL;
    }
    gm_param::RowBuilder found_rows(list);
    for (;;) {
        const be_sql::Fetch fetched = statement.fetch();
        if (fetched == be_sql::Fetch::End) break;
        if (fetched == be_sql::Fetch::Error) return step_failed("Fail to fetch", ZPA_FAIL, Error);
        const std::string key = std::to_string(ids[0]);
        if (seen_rows->find(key.c_str()) != nullptr) {
            BE_TRACE(4, "Fail to monitor request id: %d, already exists in file: %s", ids[0], BE_DUZ_REQS_FILE_NAME);
            continue;
        }
        const std::string fields[6] = {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]};
        const std::string row = BE_DUZ_monitor_row(ids[0], ids[1], ids[2], fields);
        const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
        if (found_rows.append(key.c_str(), row.c_str()) != CM_RC_OK ||
            seen_rows->append(key.c_str(), now.c_str()) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append new request to file: %s", BE_DUZ_REQS_FILE_NAME);
            return ZPA_FAIL;
        }
    }
    if (DIAG_debug_level() >= 4) {
        DIAG_printf("BE_DUZ_execute_monitor_SQL: Finished preparing requests list:");
        GM_PARAM_list_print(list);
    }
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_execute_intercept_SQL(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const Query& query,
                                   ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_execute_intercept_SQL");
    int ids[3] = {0, 0, 0};
    be_sql::Statement statement(session, Error);
    ZPARC rc = prepare_query(statement, query, "Fail to prepare intercept SQL", Error);
    if (rc == ZPA_SUCCESS) rc = define_ids(statement, ids, Error);
    if (rc != ZPA_SUCCESS) return rc;
    if ((rc = statement.execute_no_fetch()) != ZPA_SUCCESS) return step_failed("Fail to execute", rc, Error);
    gm_param::RowBuilder found_rows(list);
    int rows = 0;
    for (;;) {
        const be_sql::Fetch fetched = statement.fetch();
        if (fetched == be_sql::Fetch::End) break;
        if (fetched == be_sql::Fetch::Error) return step_failed("Fail to fetch", ZPA_FAIL, Error);
        char value[64];
        std::snprintf(value, sizeof value, "%d|%d|%d", ids[0], ids[1], ids[2]);
        if (found_rows.append(std::to_string(ids[0]).c_str(), value) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to keep request %d", ids[0]);
            return ZPA_FAIL;
        }
        ++rows;
    }
    if (rows == 0) return ZPA_EOS;
    if (DIAG_debug_level() >= 4) GM_PARAM_list_print(list);
    return ZPA_SUCCESS;
}

}  // namespace be_discovery

CM_EXTERN_C_BEGIN

CM_RC BE_DUZ_is_req_in_list(ZPALIST_handle_typ* list, const char* req_id, int* found) {
    if (found) *found = 0;
    if (!list || !req_id || !found) return CM_RC_FAIL;
    ZPALIST_handle_typ walk = *list;  // a cursor of its own: the caller's stays where it is
    GM_PARAM_list_reset(&walk);
    char* key = nullptr;
    while (GM_PARAM_list_next(&walk, &key, nullptr) == CM_RC_OK) {
        if (std::strcmp(key, req_id) == 0) {
            *found = 1;
            break;
        }
    }
    return CM_RC_OK;
}

ZPARC BE_DUZ_JOB_monitor(ZPAConnHandle* Connection, void** Handle, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                         ZPAError* Error) {
    (void)Connection;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOB_monitor");
    if (!Handle) return ZPA_FAIL;
    *Handle = nullptr;
    try {
        auto handle = std::make_unique<be_discovery::BE_DUZ_request_list_type>();
        handle->kind = be_discovery::HandleKind::Monitor;
        ModeQueries q;
        ZPARC rc =
            build_queries(AttributesIn, kMonitorQuery, "Cannot determine, executing both request & req set.", q, Error);
        if (rc != ZPA_SUCCESS) {
            be_discovery::free_handle(handle.release());
            return rc;
        }
        // One turn on the submitted-requests file under its locks: read it, drop the rows older
        // than a day, find the requests not in it and add them, write it back. Two monitors that
        // poll at once cannot both report a request, and a request is handed out only once it is
        // recorded.
        BE_TRACE(4, "Start updating file %s", kReqsPath);
        const auto find_new = [&](ZPALIST_handle_typ* seen) {
            BE_TRACE(4, "Finished updating requests list.");
            return run_queries(q, "monitor", Error, [&](const be_discovery::Query& query) {
                       return be_discovery::BE_DUZ_execute_monitor_SQL(session, &handle->list, query, Error, seen) ==
                              ZPA_SUCCESS;
                   }) == ZPA_SUCCESS;
        };
        if (be_reqs_update(kReqsPath, find_new, Error) != CM_RC_OK) {
            be_discovery::free_handle(handle.release());
            return ZPA_FAIL;
        }
        const int found = ZPALIST_count(&handle->list);
        BE_TRACE(4, "Found %d requests.", found);
        GM_PARAM_list_reset(&handle->list);
        *Handle = handle.release();
        if (found == 0) {
            BE_TRACE(2, "Did not find any requests to monitor");
            return ZPA_EOS;
        }
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_JOB_intercept(ZPAConnHandle* Connection, void** Handle, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                           ZPAError* Error) {
    (void)Connection;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOB_intercept");
    if (!Handle) return ZPA_FAIL;
    *Handle = nullptr;
    try {
        auto handle = std::make_unique<be_discovery::BE_DUZ_request_list_type>();
        handle->kind = be_discovery::HandleKind::Intercept;
        ModeQueries q;
        ZPARC rc = build_queries(AttributesIn, kInterceptQuery, "request_flag = 1; set_flag = 1;", q, Error);
        if (rc != ZPA_SUCCESS) {
            be_discovery::free_handle(handle.release());
            return rc;
        }
        // No held request is no failure.
        rc = run_queries(q, "INTERCEPT", Error, [&](const be_discovery::Query& query) {
            return be_discovery::BE_DUZ_execute_intercept_SQL(session, &handle->list, query, Error) != ZPA_FAIL;
        });
        if (rc != ZPA_SUCCESS) {
            be_discovery::free_handle(handle.release());
            return rc;
        }
        GM_PARAM_list_reset(&handle->list);
        *Handle = handle.release();
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_JOBDATA_MonitorAppendAutoedits(ZPAConnHandle* Connection, const char* row, BE_DUZ_Handles* session,
                                            ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    (void)session;
    (void)AttributesIn;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOBDATA_MonitorAppendAutoedits");
    try {
        std::string fields[9];
        if (!AttributesOut || !be_discovery::BE_DUZ_monitor_fields(row, fields)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Request row '%s' is not valid", row ? row : "");
            return ZPA_FAIL;
        }
        const int req_id = std::atoi(fields[0].c_str());
        fields[0] = std::to_string(req_id);
        const ZPAAttr* agents_array = AttributesOut->Attributes;
        ZPARC rc = append_all(AttributesOut, agents_array,
                              {{job_attr("DUZ-REQUEST_ID"), fields[0]},
                               {job_attr("DUZ-APPID"), std::to_string(std::atoi(fields[1].c_str()))},
                               {job_attr("DUZ-PROGID"), std::to_string(std::atoi(fields[2].c_str()))},
                               {job_attr("DUZ-TASKTYPE"), "MONITOR"}},
                              Error);
        if (rc != ZPA_SUCCESS) return rc;
        bool named = false;
        for (int i = 0; i < AttributesOut->Count; ++i) {
            ZPAAttr& attr = AttributesOut->Attributes[i];
            if (!attr.Value || dollars(attr.Value) != 2) continue;
            substitute(attr, fields);
            if (attr.Name && std::strcmp(attr.Name, "JOBNAME") == 0) named = true;
        }
        if (!named) rc = append_all(AttributesOut, agents_array, {{"JOBNAME", "DUZ_" + fields[0]}}, Error);
        return rc;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_JOBDATA_intercept_read(ZPAConnHandle* Connection, const char* row, BE_DUZ_Handles* session,
                                    ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    (void)session;
    (void)AttributesIn;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOBDATA_intercept_read");
    int ids[3] = {0, 0, 0};
    if (!AttributesOut || !row || std::sscanf(row, "%d|%d|%d", &ids[0], &ids[1], &ids[2]) != 3) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Request row '%s' is not valid", row ? row : "");
        return ZPA_FAIL;
    }
    try {
        return append_all(AttributesOut, AttributesOut->Attributes,
                          {{"JOBNAME", "DUZ_" + std::to_string(ids[0])},
                           {job_attr("DUZ-REQUEST_ID"), std::to_string(ids[0])},
                           {job_attr("DUZ-APPID"), std::to_string(ids[1])},
                           {job_attr("DUZ-PROGID"), std::to_string(ids[2])},
                           {job_attr("DUZ-TASKTYPE"), "INTERCEPT"}},
                          Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", BE_POS);
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
