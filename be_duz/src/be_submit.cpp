/* The "SUBMIT" action: submits a concurrent request under a user and responsibility, takes over a
 * request that OEBS holds for the scheduler (INTERCEPT) or only watches one (MONITOR); answers the
 * request id in "PROCID", writes the job's procid file and records the request in the
 * submitted-requests file. Owns the identity and name checks, the pre-submission insert, the
 * single request's step table and its submission block. Request sets: be_submit_set.cpp. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

using be_job::attr;
using be_job::Block;
using be_job::cut;
using be_job::non_empty;

constexpr const char* kReleaseSql =
    "BEGIN update FND_CONCURRENT_REQUESTS set HOLD_FLAG = 'N' where REQUEST_ID = :req_id; commit; END;";
constexpr const char* kValidateUserSql =
    "BEGIN SELECT a.user_id, a.responsibility_id, a.responsibility_application_id, a.security_group_id "
    "INTO :userID, :respID, :resp_appID, :groupID FROM fnd_user_resp_groups a, fnd_user b, "
    "fnd_responsibility_vl c, fnd_application d, fnd_security_groups_vl e WHERE b.user_name = :user_name AND "
    "c.responsibility_name = :resp_name AND d.application_short_name = :resp_app_name AND "
    "e.security_group_name = :group_name AND b.user_id = a.user_id AND c.responsibility_id = a.responsibility_id "
    "AND d.application_id = c.application_id AND e.security_group_id = a.security_group_id; END;";
constexpr const char* kCheckManagersSql =
    "select b.USER_CONCURRENT_QUEUE_NAME from fnd_concurrent_queues a, fnd_concurrent_queues_TL b where "
    "a.ENABLED_FLAG = 'Y' and a.CONCURRENT_QUEUE_ID = b.CONCURRENT_QUEUE_ID and a.RUNNING_PROCESSES = 0";
constexpr const char* kApplicationIdSql =
    "BEGIN select application_id into :app_id from FND_APPLICATION WHERE application_short_name = :appname; END;";
constexpr const char* kProgramIdSql =
    "BEGIN select concurrent_program_id into :prog_id from FND_CONCURRENT_PROGRAMS WHERE application_id = :app_id "
    "AND concurrent_program_name = :progname; END;";
constexpr const char* kSetIdsSql =
    "BEGIN select request_set_id, application_id into :set_id, :app_id from FND_REQUEST_SETS WHERE "
    "request_set_name = :setname; END;";
constexpr const char* kSetIdSql =
    "BEGIN select request_set_id into :set_id from FND_REQUEST_SETS WHERE application_id = :app_id AND "
    "request_set_name = :setname; END;";
constexpr const char* kFndSessionsSql =
    "insert into FND_SESSIONS (SESSION_ID, EFFECTIVE_DATE) VALUES (userenv('sessionid'),trunc(sysdate))";

/* The submission block: FND_REQUEST.submit_request with all hundred argument placeholders. */
std::string submit_request_sql() {
    return "DECLARE req_id NUMBER := 0; BEGIN req_id := FND_REQUEST.submit_request(:app_name, :prog_name, :desp, "
           ":start_time, NULL" +
           be_job::argument_placeholders() + "); commit; :rc_code := req_id; END;";
}

/* Lengths at which names are cut, and the room in which application names are bound. */
constexpr std::size_t kAppNameMax = 50;
constexpr std::size_t kProgNameMax = 30;
constexpr std::size_t kSetNameMax = 30;
constexpr int kAppNameRoom = 52;
constexpr int kManagerNameRoom = 241;
constexpr const char* kDefaultSecurityGroup = "Standard";

/* A request id given by the job: decimal digits only, 1 to INT_MAX. */
bool request_id_of(const char* text, int* id) {
    if (!non_empty(text)) return false;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return false;
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (errno != 0 || value < 1 || value > INT_MAX) return false;
    *id = static_cast<int>(value);
    return true;
}

/* A mandatory attribute; "keyword %s not found" (or the given format) when it is missing. */
const char* required(ZPAAttrList* AttributesIn, const char* name, ZPAError* Error,
                     const char* format = "keyword %s not found") {
    const char* value = attr(AttributesIn, name);
    if (value == nullptr) BE_DUZ_UpdateErrorSet(Error, 1, format, name);
    return value;
}

/* Logs a step's failure with the error record's text; passes the result on. */
ZPARC logged(ZPARC rc, const char* what, ZPAError* Error) {
    BE_TRACE(2, "%s %s", what, Error != nullptr ? Error->text : "");
    return rc;
}

/* The id of an application short name (cut to 50 characters). */
ZPARC application_id_of(be_sql::Statement& stmt, const std::string& application, int* id) {
    ZPARC rc = stmt.prepare(kApplicationIdSql);
    if (rc == 0) rc = stmt.bind_int(":app_id", id);
    if (rc == 0) rc = stmt.bind_text_copy(":appname", application);
    if (rc == 0) rc = stmt.execute();
    return rc;
}

/* An object's id (:<id_name>) by its application id and its name (:<name_bind>). */
ZPARC id_in_application(be_sql::Statement& stmt, const char* sql, const char* id_name, int* id, int* app_id,
                        const char* name_bind, const std::string& name) {
    ZPARC rc = stmt.prepare(sql);
    if (rc == 0) rc = stmt.bind_int(id_name, id);
    if (rc == 0) rc = stmt.bind_int(":app_id", app_id);
    if (rc == 0) rc = stmt.bind_text_copy(name_bind, name);
    if (rc == 0) rc = stmt.execute();
    return rc;
}

/* What a successful step leaves for the procid file. */
struct Submitted {
    std::string task_type;  // as the procid file names it
    int object_id = 0;      // program id, or request set id
    int app_id = 0;
};

ZPARC write_procid_file(const char* procid_path, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        const char* instance, const char* runno, const Submitted& done, ZPAError* Error) {
    const char* procid = attr(AttributesOut, "PROCID");
    if (procid == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", "PROCID");
        return 1;
    }
    const bool set = done.task_type == BE_DUZ_REQUEST_SET_TYPE;
    std::string text = be_procid_row("PROCID", procid) + be_procid_row("DUZ-INSTANCE", instance) +
                       be_procid_row("DUZ-TASKTYPE", done.task_type.c_str()) +
                       be_procid_row(set ? "DUZ-REQSETID" : "DUZ-PROGID", std::to_string(done.object_id).c_str()) +
                       be_procid_row("DUZ-APPID", std::to_string(done.app_id).c_str());
    if (const char* display = attr(AttributesIn, "DUZ-DISPLAY_OUTPUT"))
        text += be_procid_row("DUZ-DISPLAY_OUTPUT", display);
    if (be_run_number(runno) > 1) text += be_procid_row("CLEAR_ACTIVE", "Y");
    if (be_write_procid_file(procid_path, text) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to write job into to file '%s'.", procid_path);
        return 1;
    }
    return 0;
}

/* The request joins the submitted-requests file (rows older than a day leave it), so that request
 * discovery does not take it for a new request. The request runs whatever becomes of this
 * bookkeeping: a failure is logged, never answered as a failed submission (the job would end
 * failed while its request runs, and a rerun would submit it again). */
void record_request(ZPAAttrList* AttributesOut) {
    const char* procid = attr(AttributesOut, "PROCID");
    char path[64];
    std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_REQS_FILE_NAME);
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    const std::string seen = std::to_string(static_cast<long long>(now));
    ZPAError error{};
    if (be_reqs_record(path, procid != nullptr ? procid : "0", seen.c_str(), &error) != CM_RC_OK)
        DIAG_printf("Request %s is submitted but not recorded in %s: %s", procid != nullptr ? procid : "0", path,
                    error.text);
}

/* "INTERCEPT" and "MONITOR": the request exists already. */
ZPARC take_existing_request(BE_DUZ_Handles* session, bool intercept, ZPAAttrList* AttributesIn,
                            ZPAAttrList* AttributesOut, ZPAError* Error) {
    const char* given = attr(AttributesIn, "DUZ-REQUEST_ID");
    if (given == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, intercept ? "Request_id %s not found" : "key %s not found", "DUZ-REQUEST_ID");
        return 1;
    }
    int request_id = 0;
    if (!request_id_of(given, &request_id)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Request_id %s has wrong format", given);
        return 1;
    }
    if (intercept) return BE_DUZ_release_requests(session, request_id, AttributesIn, AttributesOut, Error);
    if (ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("PROCID"), const_cast<char*>(given)) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "duz_tasktype=monitor: Couldn't set ZPAAPI_ATTR_PROCID with Request_id");
        return 1;
    }
    return 0;
}

/* A new request or request set: identity, managers, names, pre-submission, submission. */
ZPARC submit_new(BE_DUZ_Handles* session, const std::string& task_type, ZPAAttrList* ConnectionAttributes,
                 ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, Submitted& done, ZPAError* Error) {
    const char* user_name = required(AttributesIn, "DUZ-USERNAME", Error);
    if (user_name == nullptr) return 1;
    const char* ids[] = {attr(AttributesIn, "DUZ-USERID"), attr(AttributesIn, "DUZ-RESPID"),
                         attr(AttributesIn, "DUZ-RESPAPPID"), attr(AttributesIn, "DUZ-SECURITY_GROUPID")};
    const char* resp_app = attr(AttributesIn, "DUZ-RESPAPP");
    int user_id = 0, resp_id = 0, resp_app_id = 0, group_id = 0;
    if (ids[0] != nullptr && ids[1] != nullptr && ids[2] != nullptr && ids[3] != nullptr) {
        user_id = std::atoi(ids[0]);
        resp_id = std::atoi(ids[1]);
        resp_app_id = std::atoi(ids[2]);
        group_id = std::atoi(ids[3]);
    } else {
        const char* resp_name = required(AttributesIn, "DUZ-RESPNAME", Error);
        if (resp_name == nullptr) return 1;
        if ((resp_app = required(AttributesIn, "DUZ-RESPAPP", Error)) == nullptr) return 1;
        const char* group_name = attr(AttributesIn, "DUZ-SECURITY_GROUPNAME");
        if (group_name == nullptr) group_name = kDefaultSecurityGroup;
        const ZPARC rc = BE_DUZ_validate_user(session, const_cast<char*>(user_name), const_cast<char*>(resp_name),
                                              const_cast<char*>(resp_app), const_cast<char*>(group_name), &user_id,
                                              &resp_id, &resp_app_id, &group_id, Error);
        if (rc != 0) return rc;
    }
    const char* description = attr(AttributesIn, "DUZ-DESCRIPTION");
    if (description == nullptr) description = "";

    /* Managers that do not run only delay the request: the submission goes on. */
    {
        ZPAError ignored{};
        const ZPARC rc = BE_DUZ_check_conc(session, &ignored);
        if (rc == 2)
            DIAG_printf("One or more concurrent manager is not active. Submitted job maynot be executed");
        else if (rc != 0)
            DIAG_printf("Fail to check concurrent manager status.");
    }

    if (task_type == BE_DUZ_REQUEST_TYPE) {
        const char* prog_name = required(AttributesIn, "DUZ-PROGNAME", Error);
        if (prog_name == nullptr) return 1;
        const char* app_name = required(AttributesIn, "DUZ-APPNAME", Error);
        if (app_name == nullptr) return 1;
        ZPARC rc = BE_DUZ_validate_prog_name(session, const_cast<char*>(prog_name), const_cast<char*>(app_name),
                                             &done.app_id, &done.object_id, Error);
        if (rc != 0) return rc;
        if ((rc = BE_DUZ_presubmit_tasks(const_cast<char*>(resp_app), const_cast<char*>(prog_name),
                                         const_cast<char*>(app_name), session, AttributesIn, Error)) != 0)
            return rc;
        return BE_DUZ_Submit_request(user_id, resp_id, resp_app_id, group_id, const_cast<char*>(app_name), done.app_id,
                                     const_cast<char*>(prog_name), const_cast<char*>(description), 0, session,
                                     ConnectionAttributes, AttributesIn, AttributesOut, Error);
    }
    if (task_type == BE_DUZ_REQUEST_SET_TYPE) {
        BE_TRACE(4, "This is for reqeust_set");
        const char* set_name = required(AttributesIn, "DUZ-SETNAME", Error);
        if (set_name == nullptr) return 1;
        const char* app_name = required(AttributesIn, "DUZ-APPNAME", Error);
        if (app_name == nullptr) return 1;
        ZPARC rc = BE_DUZ_validate_set_name(session, const_cast<char*>(set_name), const_cast<char*>(app_name),
                                            &done.app_id, &done.object_id, Error);
        if (rc != 0) return rc;
        if ((rc = BE_DUZ_presubmit_tasks(const_cast<char*>(resp_app), const_cast<char*>(set_name),
                                         const_cast<char*>(app_name), session, AttributesIn, Error)) != 0)
            return rc;
        return BE_DUZ_Submit_request_set(user_id, resp_id, resp_app_id, group_id, const_cast<char*>(app_name),
                                         const_cast<char*>(set_name), done.app_id, done.object_id,
                                         const_cast<char*>(description), 0, session, ConnectionAttributes, AttributesIn,
                                         AttributesOut, Error);
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Invalid DUZ tasktype: '%s'", task_type.c_str());
    return 1;
}

ZPARC action_submit(BE_DUZ_Handles* session, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                    ZPAAttrList* AttributesOut, ZPAError* Error) {
    const char* values[3] = {};
    const char* names[3] = {"DUZ-INSTANCE", "ORDERNO", "RUNNO"};
    for (int i = 0; i < 3; ++i)
        if ((values[i] = required(AttributesIn, names[i], Error, "the attribute '%s' is mandatory")) == nullptr)
            return 1;
    const char* instance = values[0];
    const char* orderno = values[1];
    const char* runno = values[2];
    {
        /* The sysout's name is checked here; it is not used further. */
        PATHNAME_D_typ sysout_path = "";
        ZPAError ignored{};
        BE_DUZ_build_sysout_fname(AttributesIn, sysout_path, &ignored);
    }
    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    char* task_type_attr = attr(AttributesIn, "DUZ-TASKTYPE");
    if (task_type_attr == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found", "DUZ-TASKTYPE");
        return 1;
    }
    /* Upper-cased in the job's own attribute, as the agent's later calls then see it. */
    GM_STR_toupper(task_type_attr);
    const std::string task_type = task_type_attr;

    Submitted done;
    done.task_type = task_type;
    ZPARC rc;
    if (task_type == "INTERCEPT") {
        done.task_type = BE_DUZ_REQUEST_TYPE;
        done.object_id = 1;
        rc = take_existing_request(session, true, AttributesIn, AttributesOut, Error);
    } else if (task_type == "MONITOR") {
        done.object_id = 1;
        rc = take_existing_request(session, false, AttributesIn, AttributesOut, Error);
    } else {
        rc = submit_new(session, task_type, ConnectionAttributes, AttributesIn, AttributesOut, done, Error);
    }
    if (rc != 0) return rc;

    /* The request is submitted: a procid file that cannot be written says so, and nothing is undone. */
    if ((rc = write_procid_file(procid_path, AttributesIn, AttributesOut, instance, runno, done, Error)) != 0)
        return rc;
    if (task_type != "MONITOR") record_request(AttributesOut);
    return 0;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_action_submit(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                       ZPAAttrList* AttributesOut, ZPAError* Error) {
    try {
        return action_submit(JOB_handle, ConnectionAttributes, AttributesIn, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_action_submit");
        return 1;
    }
}

ZPARC BE_DUZ_release_requests(BE_DUZ_Handles* JOB_handle, int request_id, ZPAAttrList* AttributesIn,
                              ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)AttributesIn;
    try {
        Block block(JOB_handle, Error);
        block.number(":req_id", request_id);
        const ZPARC rc = block.run(kReleaseSql);
        if (rc != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to release request %d", request_id);
            return rc;
        }
        const std::string id = std::to_string(request_id);
        BE_TRACE(3, "Request Submission Success, ID= %d", request_id);
        return ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("PROCID"), const_cast<char*>(id.c_str()));
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_release_requests");
        return 1;
    }
}

ZPARC BE_DUZ_validate_user(BE_DUZ_Handles* JOB_handle, char* user_name, char* resp_name, char* resp_app_name,
                           char* group_name, int* user_id, int* resp_id, int* resp_app_id, int* group_id,
                           ZPAError* Error) {
    if (user_id == nullptr || resp_id == nullptr || resp_app_id == nullptr || group_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing id outputs", "BE_DUZ_validate_user");
        return 1;
    }
    auto text = [](const char* value) { return value != nullptr ? value : ""; };
    try {
        be_sql::Statement stmt(JOB_handle, Error);
        int ids[4] = {};
        ZPARC rc = stmt.prepare(kValidateUserSql);
        if (rc == 0) rc = stmt.bind_int(":userID", &ids[0]);
        if (rc == 0) rc = stmt.bind_int(":respID", &ids[1]);
        if (rc == 0) rc = stmt.bind_int(":resp_appID", &ids[2]);
        if (rc == 0) rc = stmt.bind_text_copy(":user_name", text(user_name));
        if (rc == 0) rc = stmt.bind_text_copy(":resp_name", text(resp_name));
        if (rc == 0) rc = stmt.bind_text_copy(":resp_app_name", text(resp_app_name));
        if (rc == 0) rc = stmt.bind_int(":groupID", &ids[3]);
        if (rc == 0) rc = stmt.bind_text_copy(":group_name", text(group_name));
        if (rc != 0) return logged(rc, "Fail to prepare BE_DUZ_VALIDATE_USER_SQL.", Error);
        if (stmt.execute() != 0) {
            BE_DUZ_UpdateErrorSet(Error, Error != nullptr ? Error->code : 1,
                                  "DUZ_USERNAME '%s', DUZ_RESPNAME '%s', DUZ_RESPAPP '%s', and "
                                  "DUZ_SECURITY_GROUPNAME '%s' are not the correct combination",
                                  text(user_name), text(resp_name), text(resp_app_name), text(group_name));
            return 1;
        }
        *user_id = ids[0];
        *resp_id = ids[1];
        *resp_app_id = ids[2];
        *group_id = ids[3];
        BE_TRACE(4, "user id %d, responsibility id %d, responsibility application id %d, security group id %d", ids[0],
                 ids[1], ids[2], ids[3]);
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_validate_user");
        return 1;
    }
}

ZPARC BE_DUZ_check_conc(BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    try {
        be_sql::Statement stmt(JOB_handle, Error);
        char name[kManagerNameRoom] = "";
        ZPARC rc = stmt.prepare(kCheckManagersSql);
        if (rc == 0) rc = stmt.define_text(1, name, sizeof name);
        if (rc == 0) rc = stmt.execute_no_fetch();
        if (rc != 0) return rc;
        ZPARC result = 0;
        for (;;) {
            const be_sql::Fetch row = stmt.fetch();
            if (row == be_sql::Fetch::End) break;
            if (row == be_sql::Fetch::Error) return 1;
            DIAG_printf("CONCURRENT MANAGER: %s is not active.", name);
            result = 2;
        }
        return result;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_check_conc");
        return 1;
    }
}

ZPARC BE_DUZ_validate_prog_name(BE_DUZ_Handles* JOB_handle, char* prog_name, char* app_name, int* app_id, int* prog_id,
                                ZPAError* Error) {
    if (app_id == nullptr || prog_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing id outputs", "BE_DUZ_validate_prog_name");
        return 1;
    }
    try {
        const std::string application = cut(app_name, kAppNameMax);
        const std::string program = cut(prog_name, kProgNameMax);
        be_sql::Statement stmt(JOB_handle, Error);
        int application_id = 0;
        ZPARC rc = application_id_of(stmt, application, &application_id);
        if (rc != 0) {
            logged(rc, "Fail to execute BE_DUZ_GET_APP_ID_SQL.", Error);
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "The application short name '%s' is invalid.",
                                  application.c_str());
            return rc;
        }
        int program_id = 0;
        rc = id_in_application(stmt, kProgramIdSql, ":prog_id", &program_id, &application_id, ":progname", program);
        if (rc != 0) {
            logged(rc, "Fail to execute BE_DUZ_GET_PROG_ID_SQL.", Error);
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                                  "Error: Either program name '%s' is invalid or the program is not defined under "
                                  "application '%s'",
                                  program.c_str(), application.c_str());
            return rc;
        }
        *app_id = application_id;
        *prog_id = program_id;
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_validate_prog_name");
        return 1;
    }
}

ZPARC BE_DUZ_validate_set_name(BE_DUZ_Handles* JOB_handle, char* set_name, char* app_name, int* app_id, int* set_id,
                               ZPAError* Error) {
    (void)app_name;  // a set is found by its name alone
    if (app_id == nullptr || set_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing id outputs", "BE_DUZ_validate_set_name");
        return 1;
    }
    try {
        const std::string set = cut(set_name, kSetNameMax);
        be_sql::Statement stmt(JOB_handle, Error);
        int ids[2] = {};
        ZPARC rc = stmt.prepare(kSetIdsSql);
        if (rc == 0) rc = stmt.bind_int(":set_id", &ids[0]);
        if (rc == 0) rc = stmt.bind_int(":app_id", &ids[1]);
        if (rc == 0) rc = stmt.bind_text_copy(":setname", set);
        if (rc == 0) rc = stmt.execute();
        if (rc != 0) {
            logged(rc, "Fail to execute BE_DUZ_GET_SET_IDS_SQL.", Error);
            BE_DUZ_UpdateErrorSet(Error, 1, "Cannot find request set id and application id under '%s' request_set",
                                  set.c_str());
            return 1;
        }
        *set_id = ids[0];
        *app_id = ids[1];
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_validate_set_name");
        return 1;
    }
}

ZPARC BE_DUZ_validate_set_name_ORIG(BE_DUZ_Handles* JOB_handle, char* set_name, char* app_name, int* app_id,
                                    int* set_id, ZPAError* Error) {
    if (app_id == nullptr || set_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing id outputs", "BE_DUZ_validate_set_name_ORIG");
        return 1;
    }
    try {
        const std::string application = cut(app_name, kAppNameMax);
        const std::string set = cut(set_name, kSetNameMax);
        be_sql::Statement stmt(JOB_handle, Error);
        int application_id = 0;
        ZPARC rc = application_id_of(stmt, application, &application_id);
        if (rc != 0) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to retrieve application id for '%s' ",
                                  application.c_str());
            return rc;
        }
        int request_set_id = 0;
        rc = id_in_application(stmt, kSetIdSql, ":set_id", &request_set_id, &application_id, ":setname", set);
        if (rc != 0) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                                  "Request_set '%s' is invalid or request_set is not defined under application '%s'",
                                  set.c_str(), application.c_str());
            return rc;
        }
        *app_id = application_id;
        *set_id = request_set_id;
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_validate_set_name_ORIG");
        return 1;
    }
}

ZPARC BE_DUZ_presubmit_tasks(char* resp_app_name, char* prog_name, char* app_name, BE_DUZ_Handles* JOB_handle,
                             ZPAAttrList* AttributesIn, ZPAError* Error) {
    (void)prog_name;
    (void)AttributesIn;
    auto human_resources = [](const char* name) {
        return name != nullptr && (std::strcmp(name, "PER") == 0 || std::strcmp(name, "PAY") == 0);
    };
    if (!human_resources(app_name) && !human_resources(resp_app_name)) return 0;
    try {
        be_sql::Statement stmt(JOB_handle, Error);
        ZPARC rc = stmt.prepare(kFndSessionsSql);
        if (rc == 0) rc = stmt.execute();
        if (rc != 0) {
            const std::string reason = be_job::reason(Error);
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to insert into FND_SESSIONS table. %s", reason.c_str());
            DIAG_printf("Error: Error encounter during pre submission tasks");
            return 1;
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_presubmit_tasks");
        return 1;
    }
}

ZPARC BE_DUZ_Submit_request(int user_id, int resp_id, int resp_app_id, int group_id, char* app_name, int app_id,
                            char* prog_name, char* description, int sub_request, BE_DUZ_Handles* JOB_handle,
                            ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                            ZPAError* Error) {
    (void)sub_request;
    try {
        ZPARC rc = BE_DUZ_init_profile(user_id, resp_id, resp_app_id, group_id, JOB_handle, AttributesIn, Error);
        if (rc != 0) return logged(rc, "Fail to initialize profile.", Error);
        if ((rc = be_job::check_first_run_date(AttributesIn, Error)) != 0) return rc;
        if ((rc = BE_DUZ_set_profiles(JOB_handle, AttributesIn, Error)) != 0)
            return logged(rc, "Fail to set Profile.", Error);

        char* unit = attr(AttributesIn, "DUZ-OPERATING_UNIT");
        if (unit == nullptr) unit = attr(AttributesIn, "OPERATING_UNIT");
        if (BE_DUZ_set_Operating_Unit(prog_name, unit, const_cast<char*>(BE_DUZ_REQUEST_TYPE), JOB_handle,
                                      ConnectionAttributes, Error) != 0)
            logged(1, "Fail to set operating unit.", Error);

        BE_DUZ_add_layouts(JOB_handle, AttributesIn, Error, app_name, 0);
        be_job::set_request_options(JOB_handle, BE_DUZ_REQUEST_TYPE, AttributesIn, nullptr, 0, Error);

        int request_id = 0;
        {
            be_job::ParmRecords records;
            rc = BE_DUZ_request_default_parms(JOB_handle, app_id, prog_name, records.get(), &records.last,
                                              ConnectionAttributes, AttributesIn, Error);
            if (rc != 0) return logged(rc, "Fail to retrieve default parameters.", Error);

            /* A failure to prepare or to bind the named placeholders shows in the execution. */
            be_sql::Statement stmt(JOB_handle, Error);
            const std::string sql = submit_request_sql();
            if (stmt.prepare(sql.c_str()) != 0) logged(1, "Fail to prepare BE_DUZ_SUBMIT_REQUEST_SQL.", Error);
            if (stmt.bind_text_copy(":app_name", cut(app_name, kAppNameMax), kAppNameRoom) != 0)
                logged(1, "Fail to bind app_name.", Error);
            if (stmt.bind_text_copy(":prog_name", cut(prog_name, kProgNameMax), kProgNameMax + 1) != 0)
                logged(1, "Fail to bind prog_name.", Error);
            if (stmt.bind_text_copy(":desp", description != nullptr ? description : "") != 0)
                logged(1, "Fail to bind description.", Error);
            if (stmt.bind_text_copy(":start_time", "") != 0) logged(1, "Fail to bind start_time.", Error);
            if (stmt.bind_int(":rc_code", &request_id) != 0) logged(1, "Fail to bind rc_code.", Error);
            if ((rc = be_job::bind_arguments(stmt, records.get(), records.last, AttributesIn)) != 0) return rc;
            if ((rc = stmt.execute()) != 0) return logged(rc, "Fail to submit request", Error);
        }
        if (request_id <= 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failure: Request_id is not a valid value");
            return 1;
        }
        const std::string id = std::to_string(request_id);
        ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("PROCID"), const_cast<char*>(id.c_str()));
        BE_TRACE(3, "Request Submission Success, ID= %d", request_id);
        char* procid = nullptr;
        return ZPAAPI_UTILS_AttrListValueGet(AttributesOut, const_cast<char*>("PROCID"), &procid);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_Submit_request");
        return 1;
    }
}

ZPARC BE_SYSOUT_ORA_Err_Msg(const char* message, const char* file_path) {
    if (message == nullptr || file_path == nullptr) return 1;
    return be_append_whole(file_path, std::string(message) + "\n") == CM_RC_OK ? 0 : 1;
}

CM_EXTERN_C_END
