/* The job-action entry point through which the agent drives an OEBS job (submit, track,
 * statistics, kill, delete, dequeue) and the event entry point beside it. Owns the order of the
 * checks: the job's identity, the jobs failure table's short cut, the session by the kind of the
 * connection's UserData, the dispatch, and the failure notice after a failed action. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "gm_time.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using be_job::attr;

/* What the connection's UserData gave for the job. */
struct JobSession {
    BE_DUZ_Handles* session = nullptr;
    bool unknown_kind = false;
};

/* The kind that every session object of UserData begins with, read as a plain number: UserData may
 * hold something else altogether. -1 when it is null. */
int user_data_kind(ZPAConnHandle* Connection) {
    if (Connection == nullptr || Connection->UserData == nullptr) return -1;
    int kind = 0;
    std::memcpy(&kind, Connection->UserData, sizeof kind);
    return kind;
}

/* The session of a connection's UserData: the single session, or the session of the job's
 * account's database in a tracking connection's list (null when none is open). */
JobSession session_of(ZPAConnHandle* Connection, ZPAAttrList* AttributesIn, char* Action, ZPAError* Error) {
    JobSession found;
    const int kind = user_data_kind(Connection);
    if (kind < 0) return found;
    if (kind == BE_DUZ_CONNECTION) {
        BE_TRACE(3, "%s action with a single connection.", Action);
        found.session = static_cast<BE_DUZ_Handles*>(Connection->UserData);
    } else if (kind == BE_DUZ_CONNECTION_LIST) {
        found.session = BE_DUZ_find_connection_from_list(Connection, AttributesIn, Action, Error);
        if (found.session == nullptr) BE_TRACE(2, "The connection wasn't found in the connection list.");
    } else {
        DIAG_printf("Couldn't identify the right type for %s action.", Action);
        found.unknown_kind = true;
    }
    return found;
}

/* An action that needs a session and found none in the connection's list fails, naming the
 * account; no statement ever runs without a session. */
ZPARC no_session(ZPAAttrList* AttributesIn, const char* action, ZPAError* Error) {
    char account[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    ZPAError ignored{};
    BE_DUZ_find_instance(AttributesIn, account, &ignored);
    BE_DUZ_UpdateErrorSet(Error, 1, "No open database session for account '%s': %s action not run", account, action);
    DIAG_printf("%s", Error != nullptr ? Error->text : "");
    return 1;
}

ZPARC unsupported(const char* action, ZPAError* Error) {
    BE_DUZ_UpdateErrorSet(Error, ZPA_NOT_SUPPORTED, "Unsupported Action:'%s'", action);
    return ZPA_NOT_SUPPORTED;
}

/* TRACK_INIT: the debug level of table CONFIG, read again. */
void reload_debug_level() {
    GM_PARAM_load("CONFIG", 1);
    GM_PARAM_VALUE_typ level = "";
    if (GM_PARAM_get("CONFIG", "DBGLVL", level) == CM_RC_OK) DIAG_set_debug_level(std::atoi(level));
}

ZPARC job_action(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                 ZPAError* Error) {
    const std::string_view action = Action;
    if (action == "TRACK_TERM") {
        BE_TRACE(2, "Unsupported Action:'%s'", Action);
        return 0;
    }
    char* orderno = nullptr;
    char* runno = nullptr;
    for (auto [name, value] : {std::pair{"ORDERNO", &orderno}, std::pair{"RUNNO", &runno}}) {
        const ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>(name), value);
        if (rc != 0 || *value == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc != 0 ? rc : 1), "the attribute '%s' is mandatory",
                                  name);
            return 1;
        }
    }

    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    const bool in_failure_table = be_job_find_in_jobs_failure_file(orderno, runno, message) == 0;
    if (in_failure_table) {
        BE_TRACE(3, "Job found in failure file. Message is '%s'", message);
        if (action != "TRACK" && action != "STATISTICS" && action != "DELETE" && action != "SUBMIT") {
            BE_TRACE(3, "Action is %s, leave ZPAAPI_JOB_ACTION", Action);
            return 0;
        }
    }

    ZPARC rc = 0;
    JobSession job;
    if (!in_failure_table) {
        if (user_data_kind(Connection) < 0 && action != "TRACK") {
            BE_DUZ_UpdateErrorSet(Error, 1, "UserData pointer is NULL");
            return 1;
        }
        job = session_of(Connection, AttributesIn, Action, Error);
    }

    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    const bool needs_session = action == "SUBMIT" || action == "STATISTICS" || action == "KILL";
    if (action == "DEQUEUE" && !job.unknown_kind) {
        /* Answered directly: no failure notice. */
        return BE_action_dequeue(job.session, AttributesIn, AttributesOut, Error);
    }
    if (job.unknown_kind) {
        rc = 1;
    } else if (needs_session && !in_failure_table && job.session == nullptr) {
        rc = no_session(AttributesIn, Action, Error);
    } else if (action == "SUBMIT") {
        if (in_failure_table) {
            /* The session failed in connect: the submission is recorded as failed. */
            BE_TRACE(3, "Job failed in connect prior to submit and already in job failures file");
            be_job_handle_submit_failure(AttributesOut, AttributesIn, Error);
            rc = 0;
        } else {
            rc = BE_action_submit(job.session, &Connection->Attributes, AttributesIn, AttributesOut, Error);
            if (rc != 0 && Error != nullptr && Error->code != 1) {
                /* An Oracle reason: reported to the agent as a failed submission, not a failed call. */
                be_job_handle_submit_failure(AttributesOut, AttributesIn, Error);
                rc = 0;
            }
        }
    } else if (action == "TRACK") {
        BE_DUZ_Handles* session = job.session;
        if (!in_failure_table && session == nullptr) {
            /* A tracking connection opens the account's session itself; it joins the list. */
            BE_TRACE(3, "connect first before track");
            if (ZPAAPI_Connect(nullptr, Connection, AttributesIn, Error) != 1) {
                session = session_of(Connection, AttributesIn, Action, Error).session;
                if (session == nullptr) DIAG_printf("fail to find the connection in the list! No tracking.");
            }
        }
        rc = BE_action_track(session, Connection != nullptr ? &Connection->Attributes : nullptr, AttributesIn,
                             AttributesOut, Error);
    } else if (action == "STATISTICS") {
        rc = BE_action_stats(Connection, job.session, AttributesIn, AttributesOut, Error);
        if (rc != 0 && Error != nullptr && Error->code != 1) {
            /* An Oracle reason: the job ended badly, the call itself succeeds. */
            const std::string text = Error->text;
            const int code = static_cast<int>(Error->code);
            int code_from_message = 0;
            BE_SYSOUT_handle_update_sysout(AttributesIn, AttributesOut, orderno, runno, text.c_str(), code,
                                           &code_from_message, Error);
            const std::string code_text = std::to_string(code);
            ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("EXITSTATUS"), const_cast<char*>("N"));
            ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("EXITMSG"), const_cast<char*>(text.c_str()));
            ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("EXITCODE"),
                                          const_cast<char*>(code_text.c_str()));
            rc = 0;
        }
        if (BE_SYSOUT_chmod_sysout(AttributesIn, Error) != CM_RC_OK)
            BE_TRACE(2, "Failed to change sysout file permissions");
    } else if (action == "KILL") {
        rc = BE_action_kill(job.session, Connection != nullptr ? &Connection->Attributes : nullptr, AttributesIn,
                            AttributesOut, Error);
    } else if (action == "DELETE") {
        rc = BE_action_delete(procid_path, Error, orderno, runno);
    } else if (action == "TRACK_INIT") {
        reload_debug_level();
        BE_TRACE(2, "Unsupported Action:'%s'", Action);
    } else {
        rc = unsupported(Action, Error);
    }

    if (rc != 0) {
        BE_TRACE(2, "'%s' action failed. Write notification in sysout.", Action);
        int code_from_message = 0;
        const std::string text = Error != nullptr ? Error->text : "";
        if (BE_SYSOUT_handle_update_sysout(AttributesIn, AttributesOut, orderno, runno, text.c_str(),
                                           Error != nullptr ? static_cast<int>(Error->code) : 1, &code_from_message,
                                           Error) == 0)
            be_job_delete_line_from_jobs_failure_file(orderno, runno);
    }
    return rc;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC ZPAAPI_JOB_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error) {
    const char* name = Action != nullptr ? Action : "";
    BE_TRACE(3, ">>> ZPAAPI_JOB_ACTION: JOB, ACTION: %s", name);
    ZPARC rc;
    try {
        rc = job_action(Connection, const_cast<char*>(name), AttributesIn, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "ZPAAPI_JOB_ACTION");
        rc = 1;
    }
    BE_TRACE(3, "<<< CLASS: JOB, ACTION: %s, rc = %d", name, rc);
    return rc;
}

ZPARC ZPAAPI_EVENT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                          ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    (void)Action;
    (void)AttributesOut;
    (void)Error;
    const char* timeout = attr(AttributesIn, "EVENT_TIMEOUT");
    if (timeout == nullptr) {
        BE_TRACE(2, "Fail to retrieve %s", "EVENT_TIMEOUT");
        return 1;
    }
    BE_TRACE(3, "sleep for %s seconds...", timeout);
    OS_TIME_sleep(std::atoi(timeout));
    return 0;
}

CM_EXTERN_C_END
