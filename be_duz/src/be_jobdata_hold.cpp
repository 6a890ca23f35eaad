/* Hold and cancel of a request that a define-mode job takes over: two PL/SQL blocks on the
 * connection's session against the request by its id, each telling its outcome through an integer
 * output bind. Owns both block texts and the texts of their outcomes. */
#include "be_def.h"
#include "be_sql_internal.h"

namespace {

// Both handlers roll back first, so that nothing of a failed block stays for a later commit, and
// close the cursor only when it is open: a failed open keeps its own error, not "invalid cursor".
constexpr const char* kHoldBlock =
    "DECLARE cursor req_cur is     select hold_flag, phase_code, status_code     from "
    "fnd_concurrent_requests     where request_id = :req_id FOR UPDATE;     req_rec req_cur%ROWTYPE; "
    "BEGIN     open req_cur;     LOOP         fetch req_cur INTO req_rec;        exit when "
    "req_cur%NOTFOUND;        if req_rec.phase_code in ('P', 'I') then           update "
    "fnd_concurrent_requests           set hold_flag = 'Y'           where request_id = "
    ":req_id;          :rc_code := 0;        else            :rc_code := 2;        end if;     END "
    "LOOP;     if req_cur%ROWCOUNT > 1 then        rollback;        :rc_code := 1;     elsif "
    "req_cur%ROWCOUNT <= 0 then        :rc_code := 3;     else        commit;     end if;     close "
    "req_cur;     EXCEPTION        WHEN OTHERS then           rollback;           IF req_cur%ISOPEN THEN close "
    "req_cur; END IF;           :rc_code := -1; END; ";

constexpr const char* kCancelBlock =
    "DECLARE cursor req_cur is    SELECT request_id, phase_code, status_code    FROM "
    "FND_CONCURRENT_REQUESTS    connect by prior request_id = parent_request_id    start with "
    "request_id = :req_id FOR UPDATE; req_rec req_cur%ROWTYPE; BEGIN    open req_cur;    LOOP       "
    "fetch req_cur INTO req_rec;       exit when req_cur%NOTFOUND;       if req_rec.phase_code = 'R' "
    "AND req_rec.status_code = 'W' then          update fnd_concurrent_requests          set "
    "status_code = 'X', phase_code = 'C'          where request_id = req_rec.request_id;       elsif "
    "req_rec.phase_code = 'R' then           update fnd_concurrent_requests          set status_code "
    "= 'T'          where request_id = req_rec.request_id;       elsif req_rec.phase_code != 'C' "
    "then           update fnd_concurrent_requests           set status_code = 'D',              "
    "phase_code = 'C',              completion_text = 'Request was calcelled by CONCURRENT "
    "MANAGER'          where request_id = req_rec.request_id;       end if;     END LOOP;    close "
    "req_cur;    commit;    EXCEPTION         WHEN OTHERS THEN              rollback;              "
    "IF req_cur%ISOPEN THEN close req_cur; END IF;             :rc_code := 1; END;";

// Outcomes of the hold block.
constexpr int kHeld = 0;
constexpr int kNotUnique = 1;
constexpr int kNotPending = 2;
constexpr int kNotFound = 3;

ZPARC step_failed(const char* step, ZPARC rc, ZPAError* Error) {
    DIAG_printf("%s. %s", step, Error ? Error->text : "");
    return rc;
}

// A step that failed before the block ran: the step's own text, result 1.
ZPARC refused(const char* text, ZPAError* Error) {
    BE_DUZ_UpdateErrorSet(Error, 1, "%s", text);
    DIAG_printf("%s", text);
    return ZPA_FAIL;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_JOBDATA_hold_request(BE_DUZ_Handles* session, int req_id, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_JOBDATA_hold_request");
    BE_TRACE(4, "req_id = %d", req_id);
    be_sql::Statement statement(session, Error);
    int rc_code = 0;
    if (statement.prepare(kHoldBlock) != ZPA_SUCCESS) return refused("Fail to prepare SQL statement", Error);
    if (statement.bind_int(":req_id", &req_id) != ZPA_SUCCESS) return refused("Fail to bind request_id", Error);
    if (statement.bind_int(":rc_code", &rc_code) != ZPA_SUCCESS) return refused("Fail to bind return code", Error);
    BE_TRACE(4, "before to execute");
    const ZPARC rc = statement.execute();
    if (rc != ZPA_SUCCESS) return step_failed("Fail to execute", rc, Error);
    BE_TRACE(4, "rc_code = %d", rc_code);
    switch (rc_code) {
    case kHeld: return ZPA_SUCCESS;
    case kNotUnique:
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to hold request. Request id '%d' is not unique!", req_id);
        break;
    case kNotPending: BE_DUZ_UpdateErrorSet(Error, 1, "Fail to hold request. Request is not pending!"); break;
    case kNotFound:
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to hold request. Can't find request with request_id '%d'.", req_id);
        break;
    default: BE_DUZ_UpdateErrorSet(Error, 1, "Fail to hold request. Unidentified error occured!"); break;
    }
    return ZPA_FAIL;
}

ZPARC BE_DUZ_JOBDATA_cancel_request(BE_DUZ_Handles* session, int req_id, ZPAError* Error) {
    BE_TRACE(3, "Kill request %d in Oracle Applications.", req_id);
    be_sql::Statement statement(session, Error);
    int rc_code = 0;
    ZPARC rc = statement.prepare(kCancelBlock);
    if (rc != ZPA_SUCCESS) return step_failed("Fail to prepare statement BE_DUZ_KILL_JOB_SQL", rc, Error);
    if ((rc = statement.bind_int(":req_id", &req_id)) != ZPA_SUCCESS)
        return step_failed("Fail to bind req_id.", rc, Error);
    if ((rc = statement.bind_int(":rc_code", &rc_code)) != ZPA_SUCCESS)
        return step_failed("Fail to bind rc_code.", rc, Error);
    if ((rc = statement.execute()) != ZPA_SUCCESS) return step_failed("Fail to execute BE_DUZ_KILL_JOB_SQL", rc, Error);
    if (rc_code == 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error encountered during the cancel job.");
        return ZPA_FAIL;
    }
    BE_TRACE(2, "Successfully cancled the request %d", req_id);
    return ZPA_SUCCESS;
}

CM_EXTERN_C_END
