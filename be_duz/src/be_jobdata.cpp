/* Job-data entry points: the agent discovers OEBS requests through ZPAAPI_JOB_DATA_OPEN, _READ,
 * _WRITE and _CLOSE in the define mode (pending requests become job definitions, and may be held
 * and cancelled in OEBS), the monitor mode and the intercept mode. Owns the define handle, the
 * choice of mode and the define-mode discovery queries. */
#include "be_def.h"
#include "be_discovery_internal.h"
#include "be_internal.h"
#include "be_sql_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char* kProgramQuery =
    "select req.request_id,        prog.concurrent_program_name from  fnd_user usr,  "
    "fnd_concurrent_requests req,  fnd_concurrent_programs prog,  fnd_application  prog_app,  "
    "fnd_responsibility_vl resp,  fnd_application resp_app where req.hold_flag <> 'Y' and  "
    "req.phase_code = 'P' and  req.requested_start_date >= SYSDATE and  req.program_application_id = "
    "prog.application_id and  req.concurrent_program_id = prog.concurrent_program_id and  "
    "(prog.concurrent_program_name <> 'FNDRSSUB') and  prog.application_id = prog_app.application_id "
    "and  req.responsibility_id = resp.responsibility_id and  req.responsibility_application_id = "
    "resp.application_id and  resp.application_id = resp_app.application_id and  req.requested_by = "
    "usr.user_id ";

constexpr const char* kSetQuery =
    "select req.request_id  from  fnd_user usr,  fnd_concurrent_requests req,  "
    "fnd_concurrent_programs prog,  fnd_request_sets reqs,  fnd_application  prog_app,  "
    "fnd_responsibility_vl resp,  fnd_application resp_app where req.hold_flag <> 'Y' and  "
    "req.phase_code = 'P' and  req.requested_start_date >= SYSDATE and  req.program_application_id = "
    "prog.application_id and  req.concurrent_program_id = prog.concurrent_program_id and  "
    "req.argument1 = to_char(reqs.application_id) and  req.argument2 = to_char(reqs.request_set_id) "
    "and  prog.application_id = prog_app.application_id and  req.responsibility_id = "
    "resp.responsibility_id and  req.responsibility_application_id = resp.application_id and  "
    "resp.application_id = resp_app.application_id  and  req.requested_by = usr.user_id ";

constexpr const char* kNullHandle = "File Handle is Null";
constexpr const char* kNoSession = "Connection Userdata is Null";
constexpr const char* kMissing = "parameter %s not found";
constexpr const char* kUnknownProcess = "Error: Process name '%s' is not recognized";
constexpr const char* kUnknownMode = "EXTRACT_MODE '%s' is not supported";
constexpr const char* kWrongHandle = "EXTRACT_MODE '%s' does not match the open job-data handle";
constexpr const char* kMonitorProcess = BE_DUZ_PROC_MONITOR;
constexpr const char* kInterceptProcess = BE_DUZ_PROC_INTERCEPT;
constexpr int kProgramNameSize = 32;

using be_discovery::HandleKind;

using be_duz::attr;

// EXTRACT_MODE of the call: null (and the error set) when it is missing or empty.
const char* extract_mode(ZPAAttrList* list, const char* entry, int level, ZPAError* Error) {
    const char* mode = attr(list, BE_DUZ_EXTRACT_MODE);
    if (!mode || *mode == '\0') {
        BE_DUZ_UpdateErrorSet(Error, 1, kMissing, BE_DUZ_EXTRACT_MODE);
        return nullptr;
    }
    BE_TRACE(level, "%s: %s is <%s>", entry, BE_DUZ_EXTRACT_MODE, mode);
    return mode;
}

BE_DUZ_Handles* session_of(ZPAConnHandle* Connection) {
    if (!Connection || !Connection->UserData) return nullptr;
    auto* session = static_cast<BE_DUZ_Handles*>(Connection->UserData);
    return session->dataType == BE_DUZ_CONNECTION ? session : nullptr;
}

// The agent's process name, upper-cased: it selects the monitor or the intercept mode.
std::string process_name() {
    char name[BE_DUZ_PROC_NAME_SIZE] = "";
    BE_DUZ_get_proc_name(name);
    GM_STR_toupper(name);
    return name;
}

// The handle kind that a mode and process name stand for; false for an unknown mode or process
// (the error set).
bool kind_of_mode(const char* mode, HandleKind& kind, ZPAError* Error) {
    if (std::strcmp(mode, BE_DUZ_MODE_DEFINE) == 0) {
        kind = HandleKind::Define;
        return true;
    }
    if (std::strcmp(mode, BE_DUZ_MODE_CREATE) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, kUnknownMode, mode);
        return false;
    }
    const std::string name = process_name();
    if (name == kMonitorProcess) {
        kind = HandleKind::Monitor;
        return true;
    }
    if (name == kInterceptProcess) {
        kind = HandleKind::Intercept;
        return true;
    }
    BE_DUZ_UpdateErrorSet(Error, 1, kUnknownProcess, name.c_str());
    return false;
}

// Runs one define-mode discovery query, keeping each row's id (and program name) in list.
ZPARC discover(BE_DUZ_Handles* session, const char* base, const be_discovery::Query& clause, bool with_name,
               ZPALIST_handle_typ* list, ZPAError* Error) {
    const std::string text = std::string(base) + " " + clause.text;
    BE_TRACE(4, "%s", text.c_str());
    int req_id = 0;
    char name[kProgramNameSize] = "";
    be_sql::Statement statement(session, Error);
    ZPARC rc = statement.prepare(text.c_str());
    if (rc == ZPA_SUCCESS) rc = statement.bind_values(clause.binds);
    if (rc == ZPA_SUCCESS) rc = statement.define_int(1, &req_id);
    if (rc == ZPA_SUCCESS && with_name) rc = statement.define_text(2, name, sizeof name);
    if (rc != ZPA_SUCCESS) {
        BE_TRACE(2, "Fail to prepare sqlStr.");
        return rc;
    }
    /* Discovery may find many requests: they come in a few round trips, not one a row. */
    if ((rc = statement.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != ZPA_SUCCESS ||
        (rc = statement.execute_no_fetch()) != ZPA_SUCCESS) {
        BE_TRACE(2, "Fail to execute");
        return rc;
    }
    gm_param::RowBuilder found_rows(list);  // discovery may find thousands of requests
    int rows = 0;
    for (;;) {
        const be_sql::Fetch fetched = statement.fetch();
        if (fetched == be_sql::Fetch::End) break;
        if (fetched == be_sql::Fetch::Error) {
            BE_TRACE(2, "Fail to fetch");
            return ZPA_FAIL;
        }
        const std::string key = std::to_string(req_id);
        if (found_rows.append(key.c_str(), with_name ? name : key.c_str()) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to keep request %d", req_id);
            return ZPA_FAIL;
        }
        ++rows;
    }
    if (!with_name && rows == 0) BE_TRACE(2, "No request_set retrieved.");
    return ZPA_SUCCESS;
}

// Define mode: the requests of programs and the request-set submissions that the rule matches.
// Without DUZ-PROGNAME or DUZ-SETNAME both are discovered with the set clause.
ZPARC define_open(void** Handle, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn, ZPAError* Error) {
    auto handle = std::make_unique<be_discovery::BE_DUZ_extract_file_type>();
    const bool program = attr(AttributesIn, "DUZ-PROGNAME") != nullptr;
    const bool set = attr(AttributesIn, "DUZ-SETNAME") != nullptr;
    be_discovery::Query program_clause, set_clause;
    ZPARC rc = ZPA_SUCCESS;
    if (program)
        rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, program_clause.text, 0, program_clause.binds);
    if (set && rc == ZPA_SUCCESS)
        rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, set_clause.text, 1, set_clause.binds);
    if (!program && !set) {
        rc = be_discovery::BE_DUZ_AttributesToSQLstr(AttributesIn, set_clause.text, 1, set_clause.binds);
        program_clause = set_clause;
    }
    if (rc != ZPA_SUCCESS) {
        be_discovery::free_handle(handle.release());
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to convert rule attributes to SQL");
        return rc;
    }
    if ((program || !set) && discover(session, kProgramQuery, program_clause, true, &handle->req_list, Error) != 0) {
        be_discovery::free_handle(handle.release());
        return ZPA_FAIL;
    }
    if ((set || !program) && discover(session, kSetQuery, set_clause, false, &handle->set_list, Error) != 0) {
        be_discovery::free_handle(handle.release());
        return ZPA_FAIL;
    }
    GM_PARAM_list_reset(&handle->req_list);
    GM_PARAM_list_reset(&handle->set_list);
    *Handle = handle.release();
    return ZPA_SUCCESS;
}

ZPARC job_data_open(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    *Handle = nullptr;
    BE_DUZ_Handles* session = session_of(Connection);
    if (!session) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNoSession);
        return ZPA_FAIL;
    }
    const char* mode = extract_mode(AttributesIn, "ZPAAPI_JOB_DATA_OPEN", 4, Error);
    if (!mode) return ZPA_FAIL;
    if (std::strcmp(mode, BE_DUZ_MODE_DEFINE) != 0 && std::strcmp(mode, BE_DUZ_MODE_CREATE) != 0) {
        BE_TRACE(2, "Nothing to discover in mode '%s'", mode);
        return ZPA_SUCCESS;
    }
    HandleKind kind;
    if (!kind_of_mode(mode, kind, Error)) return ZPA_FAIL;
    switch (kind) {
    case HandleKind::Define: return define_open(Handle, session, AttributesIn, Error);
    case HandleKind::Monitor: return BE_DUZ_JOB_monitor(Connection, Handle, session, AttributesIn, Error);
    case HandleKind::Intercept: return BE_DUZ_JOB_intercept(Connection, Handle, session, AttributesIn, Error);
    }
    return ZPA_FAIL;
}

// The handle of a call, checked against the call's mode: null (and the error set) when the mode is
// missing, unknown, or not the handle's.
bool checked_handle(void* Handle, ZPAAttrList* list, const char* entry, int level, HandleKind& kind, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return false;
    }
    const char* mode = extract_mode(list, entry, level, Error);
    if (!mode) return false;
    HandleKind wanted;
    if (!kind_of_mode(mode, wanted, Error)) return false;
    kind = be_discovery::kind_of(Handle);
    if (kind != wanted) {
        BE_DUZ_UpdateErrorSet(Error, 1, kWrongHandle, mode);
        return false;
    }
    return true;
}

// Define-mode READ: the next request whose attributes could be built. A request that is gone gives
// nothing and is passed over; curr_reqid names the request handed over, 0 when none is.
ZPARC define_read(ZPAConnHandle* Connection, be_discovery::BE_DUZ_extract_file_type* handle, BE_DUZ_Handles* session,
                  ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    handle->curr_reqid = 0;
    for (;;) {
        char* key = nullptr;
        void* value = nullptr;
        const int before = AttributesOut->Count;
        ZPARC rc;
        if (GM_PARAM_list_next(&handle->req_list, &key, &value) == CM_RC_OK) {
            rc = BE_DUZ_JOBDATA_extract_request_read(Connection, key, static_cast<char*>(value), session, AttributesIn,
                                                     AttributesOut, Error);
        } else if (GM_PARAM_list_next(&handle->set_list, &key, &value) == CM_RC_OK) {
            rc = BE_DUZ_JOBDATA_extract_request_set_read(Connection, key, session, AttributesIn, AttributesOut, Error);
        } else {
            return ZPA_EOS;
        }
        if (rc != ZPA_SUCCESS) return rc;
        if (AttributesOut->Count > before) {
            handle->curr_reqid = std::atoi(key);
            return ZPA_SUCCESS;
        }
        DIAG_printf("Request %s is no longer in OEBS; it is passed over", key);
    }
}

ZPARC job_data_read(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                    ZPAError* Error) {
    HandleKind kind;
    if (!checked_handle(Handle, AttributesIn, "ZPAAPI_JOB_DATA_READ", 4, kind, Error)) return ZPA_FAIL;
    BE_DUZ_Handles* session = session_of(Connection);
    if (!session || !AttributesOut) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNoSession);
        return ZPA_FAIL;
    }
    const ZPAAttr* agents_array = AttributesOut->Attributes;
    ZPARC rc;
    if (kind == HandleKind::Define) {
        rc = define_read(Connection, static_cast<be_discovery::BE_DUZ_extract_file_type*>(Handle), session,
                         AttributesIn, AttributesOut, Error);
    } else {
        auto* handle = static_cast<be_discovery::BE_DUZ_request_list_type*>(Handle);
        char* key = nullptr;
        void* value = nullptr;
        if (GM_PARAM_list_next(&handle->list, &key, &value) != CM_RC_OK) return ZPA_EOS;
        const char* row = static_cast<char*>(value);
        rc = kind == HandleKind::Intercept
                 ? BE_DUZ_JOBDATA_intercept_read(Connection, row, session, AttributesIn, AttributesOut, Error)
                 : BE_DUZ_JOBDATA_MonitorAppendAutoedits(Connection, row, session, AttributesIn, AttributesOut, Error);
    }
    if (rc != ZPA_SUCCESS) return rc;
    const char* instance = attr(AttributesIn, "DUZ-INSTANCE");
    if (instance && be_discovery::append_value(AttributesOut, agents_array, BE_DUZ_JOB_ATTR_PREFIX "DUZ-INSTANCE",
                                               instance) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to append %s to AttributesOut", "DUZ-INSTANCE");
        return ZPA_FAIL;
    }
    BE_DUZ_print_attr(AttributesOut);
    return ZPA_SUCCESS;
}

// Define-mode WRITE: the hold and the cancel of the request that the last READ handed over.
ZPARC define_write(ZPAConnHandle* Connection, be_discovery::BE_DUZ_extract_file_type* handle, ZPAAttrList* Attributes,
                   ZPAError* Error) {
    if (handle->curr_reqid < 1) {
        BE_TRACE(3, "Request Id is in wrong format!");
        return ZPA_FAIL;
    }
    BE_DUZ_Handles* session = session_of(Connection);
    if (!session) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNoSession);
        return ZPA_FAIL;
    }
    const char* hold = attr(Attributes, "HOLD_JOB");
    const char* cancel = attr(Attributes, "CANCEL_JOB");
    ZPARC rc = ZPA_SUCCESS;
    if (hold && std::strcmp(hold, "Y") == 0) rc = BE_DUZ_JOBDATA_hold_request(session, handle->curr_reqid, Error);
    // Without a cancel the hold's outcome is the answer: a request that is not held may still run
    // in OEBS besides the job.
    if (cancel && std::strcmp(cancel, "N") == 0) return rc;
    return BE_DUZ_JOBDATA_cancel_request(session, handle->curr_reqid, Error);
}

ZPARC job_data_write(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    if (Connection && Connection->result != 0) {
        BE_TRACE(4, "Connection failed. No DATA_WRITE");
        return ZPA_SUCCESS;
    }
    const char* mode = extract_mode(Attributes, "ZPAAPI_JOB_DATA_WRITE", 3, Error);
    if (!mode) return ZPA_FAIL;
    if (std::strcmp(mode, BE_DUZ_MODE_CREATE) == 0) return ZPA_SUCCESS;
    HandleKind kind;
    if (!checked_handle(Handle, Attributes, "ZPAAPI_JOB_DATA_WRITE", 5, kind, Error)) return ZPA_FAIL;
    return define_write(Connection, static_cast<be_discovery::BE_DUZ_extract_file_type*>(Handle), Attributes, Error);
}

ZPARC job_data_close(void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    const char* mode = extract_mode(Attributes, "ZPAAPI_JOB_DATA_CLOSE", 4, Error);
    if (!mode) return ZPA_FAIL;
    const bool define = be_discovery::kind_of(Handle) == HandleKind::Define;
    if (define != (std::strcmp(mode, BE_DUZ_MODE_DEFINE) == 0))
        DIAG_printf("ZPAAPI_JOB_DATA_CLOSE: %s <%s> is not the mode of the handle; it is freed as it was opened",
                    BE_DUZ_EXTRACT_MODE, mode);
    be_discovery::free_handle(Handle);
    return ZPA_SUCCESS;
}

// Runs an entry point's body: the start line, and no exception past the C boundary.
template <typename Body>
ZPARC entry(const char* name, ZPAError* Error, Body body) {
    BE_TRACE(2, "\n\t\t\tStarting: '%s'", name);
    try {
        return body();
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", name);
        return ZPA_FAIL;
    }
}

}  // namespace

namespace be_discovery {

void free_handle(void* handle) {
    if (!handle) return;
    if (kind_of(handle) == HandleKind::Define) {
        auto* define = static_cast<BE_DUZ_extract_file_type*>(handle);
        GM_PARAM_list_clear(&define->set_list);
        GM_PARAM_list_clear(&define->req_list);
        delete define;
        return;
    }
    auto* requests = static_cast<BE_DUZ_request_list_type*>(handle);
    GM_PARAM_list_clear(&requests->list);
    delete requests;
}

}  // namespace be_discovery

CM_EXTERN_C_BEGIN

ZPARC ZPAAPI_JOB_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    return entry("ZPAAPI_JOB_DATA_OPEN", Error, [&] { return job_data_open(Connection, Handle, AttributesIn, Error); });
}

ZPARC ZPAAPI_JOB_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error) {
    return entry("ZPAAPI_JOB_DATA_READ", Error,
                 [&] { return job_data_read(Connection, Handle, AttributesIn, AttributesOut, Error); });
}

ZPARC ZPAAPI_JOB_DATA_WRITE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    // WRITE owns its list: released on every path, after the values in it were used.
    struct Release {
        ZPAAttrList* list;
        ~Release() {
            if (list) ZPAAPI_utils_release_attr(list);
        }
    } release{Attributes};
    return entry("ZPAAPI_JOB_DATA_WRITE", Error, [&] { return job_data_write(Connection, Handle, Attributes, Error); });
}

ZPARC ZPAAPI_JOB_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)Connection;
    return entry("ZPAAPI_JOB_DATA_CLOSE", Error, [&] { return job_data_close(Handle, Attributes, Error); });
}

CM_EXTERN_C_END
