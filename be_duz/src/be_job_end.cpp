/* The job actions at the end of a job's life: "KILL" cancels the job's request tree in OEBS,
 * "DELETE" removes the job's work files, "DEQUEUE" takes a request out of the calling process's
 * temp parameter file. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "os_proc.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;

/* Cancels the tree under :req_id: a running request is terminated (a paused one, waiting, at
 * once), one not yet running is cancelled, a completed one is left alone. A failure rolls back
 * first, so that neither the updates made before it nor the tree's row locks stay in the
 * account's session until its next commit. */
constexpr const char* kKillSql =
    "DECLARE "
    "CURSOR c_req IS SELECT request_id, phase_code, status_code FROM FND_CONCURRENT_REQUESTS "
    "CONNECT BY PRIOR request_id = parent_request_id START WITH request_id = :req_id FOR UPDATE; "
    "v_request_id NUMBER; v_phase VARCHAR2(1); v_status VARCHAR2(1); "
    "BEGIN "
    "OPEN c_req; "
    "LOOP "
    "FETCH c_req INTO v_request_id, v_phase, v_status; "
    "EXIT WHEN c_req%NOTFOUND; "
    "IF v_phase = 'R' THEN "
    "IF v_status = 'W' THEN "
    "UPDATE FND_CONCURRENT_REQUESTS SET status_code = 'X', phase_code = 'C' WHERE CURRENT OF c_req; "
    "ELSE "
    "UPDATE FND_CONCURRENT_REQUESTS SET status_code = 'T' WHERE CURRENT OF c_req; "
    "END IF; "
    "ELSIF v_phase != 'C' THEN "
    "UPDATE FND_CONCURRENT_REQUESTS SET status_code = 'D', phase_code = 'C', "
    "completion_text = 'Request was calcelled by CONCURRENT MANAGER' WHERE CURRENT OF c_req; "
    "END IF; "
    "END LOOP; "
    "CLOSE c_req; "
    "COMMIT; "
    "EXCEPTION WHEN OTHERS THEN "
    "ROLLBACK; "
    "IF c_req%ISOPEN THEN CLOSE c_req; END IF; "
    ":rc_code := 1; "
    "END;";

ZPARC action_kill(BE_DUZ_Handles* session, ZPAAttrList* AttributesIn, ZPAError* Error) {
    const char* orderno = nullptr;
    const char* runno = nullptr;
    if (!be_job::job_identity(AttributesIn, &orderno, &runno, Error)) return 1;
    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    be_param_list rows;
    if (GM_PARAM_load_file(&rows.list, procid_path) != CM_RC_OK)
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to load file '%s'.", procid_path);
    char procid[64] = "";
    const CM_RC found = GM_PARAM_list_get(&rows.list, "PROCID", procid, sizeof procid);
    if (found != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(found), "the attribute '%s' is mandatory", "PROCID");
        return 1;
    }
    int request_id = std::atoi(procid);
    if (request_id <= 0) {
        DIAG_printf("Request Id is in wrong format!");
        BE_DUZ_UpdateErrorSet(Error, 1, "Request Id is in wrong format!");
        return 1;
    }
    be_sql::Statement stmt(session, Error);
    int rc_code = 0;
    ZPARC rc = stmt.prepare(kKillSql);
    if (rc == 0) rc = stmt.bind_int(":req_id", &request_id);
    if (rc == 0) rc = stmt.bind_int(":rc_code", &rc_code);
    if (rc == 0) rc = stmt.execute();
    if (rc != 0) {
        DIAG_printf("Fail to execute BE_DUZ_KILL_JOB_SQL");
        return rc;
    }
    if (rc_code == 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error encountered during the cancel job.");
        return 1;
    }
    return 0;
}

ZPARC action_dequeue(ZPAAttrList* AttributesOut, ZPAError* Error) {
    PATHNAME_D_typ home = "";
    if (BE_DUZ_get_agent_dir(home) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Cannot retrieve Product Directory");
        return 1;
    }
    const std::string path = std::string(home) + "/./temp/" + OS_PROC_get_curr_proc_id();
    const char* request_id = attr(AttributesOut, "PROCID");
    if (request_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", "PROCID");
        return 1;
    }
    /* One locked cycle; a file that is missing or cannot be read is left as it is. */
    os_shared::FileLock lock(path);
    if (!lock || !lock.exists()) return 0;
    be_param_list rows;
    if (GM_PARAM_load_file(&rows.list, path.c_str()) != CM_RC_OK) {
        BE_TRACE(2, "Failed to load file '%s': nothing dequeued", path.c_str());
        return 0;
    }
    GM_PARAM_list_delete(&rows.list, request_id);
    if (GM_PARAM_list_save(&rows.list, path.c_str()) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save file '%s': request %s is not dequeued", path.c_str(),
                              request_id);
        return 1;
    }
    return 0;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_action_kill(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                     ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)ConnectionAttributes;
    (void)AttributesOut;
    try {
        return action_kill(JOB_handle, AttributesIn, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_action_kill");
        return 1;
    }
}

ZPARC BE_action_delete(char* procid_path, ZPAError* Error, char* orderno, char* runno) {
    be_job_delete_line_from_jobs_failure_file(orderno, runno);
    bool deleted = false;
    try {
        if (procid_path != nullptr) {
            /* Under the file's locks: a reader or writer of the procid file finishes first. */
            os_shared::FileLock lock(procid_path);
            deleted = lock && lock.exists() && lock.remove() == CM_RC_OK;
        }
    } catch (...) {
        deleted = false;
    }
    if (!deleted) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "%s", procid_path != nullptr ? procid_path : "");
        return 1;
    }
    return 0;
}

ZPARC BE_action_dequeue(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error) {
    (void)JOB_handle;
    (void)AttributesIn;
    try {
        return action_dequeue(AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_action_dequeue");
        return 1;
    }
}

CM_EXTERN_C_END
